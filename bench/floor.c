// SPDX-License-Identifier: BSD-2-Clause
/*
 * The floor: the same command line, requests and report as vok_eth, written
 * as plainly as C allows, built with the same flags. bench/run.sh measures
 * vok_eth against it.
 */
#include <errno.h>
#include <getopt.h>
#include <net/if.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

static const char help[] =
	"Usage: vok_eth [ -s (--get-phy-status)]\n"
	"\tprint phy status of ethernt ports.\n"
	"Usage: vok_eth [ -w (--switch-lan-phy) SECS \n"
	"                 -m (--switch-lan-mask) MASK]\n"
	"\tlink down lan ports (according to MASK) for SECS, then link up.\n"
	"\tSECS : 0 ~ 9.\n"
	"\tMASK : 0 ~ 15.\n"
	"Usage: vok_eth [ -l (--set-wan-led) COLOR]\n"
	"\tset the led of wan port.\n"
	"\tCOLOR : off / green / amber\n"
	"Usage: vok_eth [ -e (--ctl-atheros-header) STATUS]\n"
	"\tenable/disable Atheros Header.\n"
	"\tSTATUS : on / off\n";

static const struct option opts[] = {
	{ "get-phy-status", no_argument, NULL, 's' },
	{ "switch-lan-phy", required_argument, NULL, 'w' },
	{ "switch-lan-mask", required_argument, NULL, 'm' },
	{ "set-wan-led", required_argument, NULL, 'l' },
	{ "ctl-atheros-header", required_argument, NULL, 'e' },
	{ NULL, 0, NULL, 0 },
};

static void bad(void)
{
	fputs(help, stderr);
	exit(-1);
}

/* One request; the open socket back, or -1. */
static int req(unsigned long code, void *data)
{
	struct ifreq ifr;
	int s = socket(AF_INET, SOCK_DGRAM, 0);
	if (s < 0) {
		fprintf(stderr, "socket failed, %s\n", strerror(errno));
		return -1;
	}
	memset(&ifr, 0, sizeof(ifr));
	strncpy(ifr.ifr_name, "phy0", IFNAMSIZ);
	ifr.ifr_data = data;
	if (ioctl(s, code, &ifr) < 0) {
		fputs("ioctl error!\n", stderr);
		close(s);
		return -1;
	}
	return s;
}

static int sh(const char *cmd)
{
	int st = system(cmd);
	if (st == -1) {
		fprintf(stderr, "system failed, %s\n", strerror(errno));
		return -1;
	}
	return WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
}

int main(int argc, char **argv)
{
	int c, idx, what = 0, secs = 0, mask = 15, arg = 0, s, i, fail;
	uint32_t r[20];
	uint16_t v;
	char cmd[64];

	while ((c = getopt_long(argc, argv, "sw:m:l:e:", opts, &idx)) != -1) {
		if (c == 's') {
			what |= 1;
		} else if (c == 'w') {
			what |= 2;
			secs = (signed char)optarg[0] - '0';
		} else if (c == 'm') {
			mask = (int)strtol(optarg, NULL, 10);
		} else if (c == 'l' || c == 'e') {
			what |= c == 'l' ? 4 : 8;
			arg = !strcmp(optarg, "off") ? 0
			    : !strcmp(optarg, c == 'l' ? "green" : "on") ? 1
			    : c == 'l' && !strcmp(optarg, "amber") ? 2 : -1;
			if (arg < 0)
				bad();
			if (c == 'l')
				v = (uint16_t)arg;
		} else {
			bad();
		}
	}
	if (optind < argc)
		bad();
	if (!what || what & 1) {
		memset(r, 0, sizeof(r));
		for (i = 0; i < 5; i++)
			r[i] = (uint32_t)i;
		if ((s = req(0x8948, r)) < 0)
			return -1;
		for (i = 0; i < 4; i++)
			printf("LAN%d:%s:%d:%s\n", i, r[5 + i] ? "up" : "down", (int)r[10 + i],
			       r[15 + i] ? "full" : "half");
		printf("WAN:%s:%d:%s\n", r[9] ? "up" : "down", (int)r[14], r[19] ? "full" : "half");
		fail = fflush(stdout) != 0;
		if (fail)
			fprintf(stderr, "write failed, %s\n", strerror(errno));
		close(s);
		return fail ? -1 : 0;
	}
	if (what & 2) {
		secs = secs < 0 ? 0 : secs > 9 ? 9 : secs;
		snprintf(cmd, sizeof(cmd), "echo -n %d%d%d%d%d >/proc/switch_phy", secs,
			 mask >> 3 & 1, mask >> 2 & 1, mask >> 1 & 1, mask & 1);
		return sh(cmd);
	}
	if (what & 4) {
		if ((s = req(0x89FF, &v)) < 0)
			return -1;
		close(s);
		return 0;
	}
	v = (uint16_t)arg;
	if ((s = req(0x89FE, &v)) < 0)
		return -1;
	close(s);
	return sh(arg ? "/sbin/ethreg -i phy0 0x0000009c=0x00000002"
		      : "/sbin/ethreg -i phy0 0x0000009c=0x00000000");
}
