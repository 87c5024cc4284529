// SPDX-License-Identifier: BSD-2-Clause
/*
 * ethreg: stands in for the router's /sbin/ethreg. Takes exactly
 *   ethreg -i phy0 0xRRRRRRRR=0xVVVVVVVV
 * logs its arguments, and writes the register into the simulated state.
 * SWITCHSIM_FAIL_ETHREG=N makes it fail with exit code N instead. The
 * simulated switch's own failures exit with 2.
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

static bool set_reg(struct swm_state *st, const void *arg)
{
	const struct swm_reg *r = static_cast<const struct swm_reg *>(arg);
	if (swm_set_reg(st, r->addr, r->value) == 0)
		return true;
	fprintf(stderr, "ethreg: too many registers in the simulated switch\n");
	return false;
}

int main(int argc, char *argv[])
{
	struct sim_faults faults;
	if (!sim_faults(&faults))
		return 2;
	/* Cut to fit a line of the driver module's log, which takes 511
	 * bytes at most: a long argument is still logged, and refused below. */
	char args[448];
	size_t len = 0;
	args[0] = '\0';
	for (int i = 1; i < argc && len < sizeof(args); i++) {
		int n = snprintf(args + len, sizeof(args) - len, " [%s]", argv[i]);
		if (n > 0)
			len += (size_t)n;
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
	if (sim_in_kernel()) {
		char line[64];
		snprintf(line, sizeof(line), "reg 0x%08lx 0x%08lx\n", (unsigned long)reg.addr,
			 (unsigned long)reg.value);
		return sim_kernel_apply(line) ? 0 : 2;
	}
	return sim_update(set_reg, &reg) ? 0 : 2;
}
