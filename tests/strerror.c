// SPDX-License-Identifier: BSD-2-Clause
/*
 * vok_strerror N: the C library's own text for errno N. Where the tool
 * passes on that text ("socket failed, %s"), the tests ask the C library the
 * tool is linked against, built the same way, rather than spell out glibc's.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char *argv[])
{
	if (argc != 2)
		return 2;
	puts(strerror(atoi(argv[1])));
	return 0;
}
