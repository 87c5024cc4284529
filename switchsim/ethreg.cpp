// SPDX-License-Identifier: BSD-2-Clause
/*
 * ethreg: stands in for the router's /sbin/ethreg. Takes exactly
 *   ethreg -i phy0 0xRRRRRRRR=0xVVVVVVVV
 * logs its arguments, and writes the register into the simulated state.
 * SWITCHSIM_FAIL_ETHREG=N makes it fail with exit code N instead. The
 * simulated switch's own failures exit with 2.
 */
#include "simstate.h"

#include <stdio.h>

/* "0x" and exactly eight hex digits, ending at `end`. */
static bool hex32(const char *s, const char *end, uint32_t *out)
{
	return end - s == 10 && s[1] == 'x' && swm_u32(s, 10, out) == 0;
}

int main(int argc, char *argv[])
{
	struct sim_faults faults;
	if (!sim_faults(&faults))
		return 2;
	/* Cut to fit a line of the driver module's log, which takes 511
	 * bytes at most: a long argument is still logged, and refused below. */
	char args[448] = "";
	size_t len = 0;
	for (int i = 1; i < argc && len < sizeof(args); i++) {
		int n = snprintf(args + len, sizeof(args) - len, " [%s]", argv[i]);
		len += n > 0 ? (size_t)n : 0;
	}
	if (len >= sizeof(args))
		memcpy(args + sizeof(args) - 4, "...", 4);
	sim_log("ethreg%s", args);

	const char *op = argc == 4 ? argv[3] : "";
	const char *eq = strchr(op, '=');
	struct swm_reg reg;
	if (argc != 4 || strcmp(argv[1], "-i") != 0 || !eq || !hex32(op, eq, &reg.addr) ||
	    !hex32(eq + 1, eq + strlen(eq), &reg.value)) {
		fprintf(stderr, "usage: ethreg -i IFACE 0xRRRRRRRR=0xVVVVVVVV\n");
		return 2;
	}
	if (strcmp(argv[2], "phy0") != 0) {
		fprintf(stderr, "ethreg: %s: no such switch interface (only phy0)\n", argv[2]);
		return 1;
	}
	if (faults.ethreg_exit) {
		fprintf(stderr, "ethreg: simulated failure\n");
		return faults.ethreg_exit;
	}
	char line[64];
	snprintf(line, sizeof(line), "reg 0x%08lx 0x%08lx", (unsigned long)reg.addr,
		 (unsigned long)reg.value);
	return sim_apply(line) ? 0 : 2;
}
