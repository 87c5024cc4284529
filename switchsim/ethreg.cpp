/*
 * ethreg: stands in for the router's /sbin/ethreg. Takes exactly
 *   ethreg -i phy0 0xRRRRRRRR=0xVVVVVVVV
 * logs its arguments, and writes the register into the simulated state.
 * SWITCHSIM_FAIL_ETHREG=N makes it fail with exit code N instead.
 */
#include "simstate.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* "0x" and exactly eight hex digits, ending at `end`. */
static bool hex32(const char *s, const char *end, uint32_t *out)
{
	if (end - s != 10 || s[0] != '0' || s[1] != 'x')
		return false;
	for (const char *p = s + 2; p < end; p++)
		if (!isxdigit((unsigned char)*p))
			return false;
	*out = (uint32_t)strtoul(s + 2, NULL, 16);
	return true;
}

int main(int argc, char *argv[])
{
	char args[1024];
	size_t len = 0;
	args[0] = '\0';
	for (int i = 1; i < argc && len < sizeof(args); i++) {
		int n = snprintf(args + len, sizeof(args) - len, " [%s]", argv[i]);
		if (n > 0)
			len += (size_t)n;
	}
	sim_log("ethreg%s", args);

	const char *op = argc == 4 ? argv[3] : "";
	const char *eq = strchr(op, '=');
	uint32_t reg, value;
	if (argc != 4 || strcmp(argv[1], "-i") != 0 || !eq || !hex32(op, eq, &reg) ||
	    !hex32(eq + 1, eq + strlen(eq), &value)) {
		fprintf(stderr, "usage: ethreg -i IFACE 0xRRRRRRRR=0xVVVVVVVV\n");
		return 2;
	}
	if (strcmp(argv[2], "phy0") != 0) {
		fprintf(stderr, "ethreg: %s: no such switch interface (only phy0)\n", argv[2]);
		return 1;
	}
	const char *fail = getenv("SWITCHSIM_FAIL_ETHREG");
	uint32_t code;
	if (fail && sim_parse_u32(fail, &code)) {
		fprintf(stderr, "ethreg: simulated failure\n");
		return (int)code;
	}
	if (sim_in_kernel()) {
		char line[64];
		snprintf(line, sizeof(line), "reg 0x%08lx 0x%08lx\n", (unsigned long)reg,
			 (unsigned long)value);
		return sim_kernel_apply(line) ? 0 : 1;
	}
	struct sim_state st;
	if (!sim_load(&st))
		return 1;
	if (!sim_set_reg(&st, reg, value)) {
		fprintf(stderr, "ethreg: too many registers in the simulated switch\n");
		return 1;
	}
	return sim_save(&st) ? 0 : 1;
}
