/*
 * switchsim: run a command against the simulated switch, set its ports,
 * show its state and the requests it has received.
 */
#include "simstate.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int usage(void)
{
	fputs("usage: switchsim run COMMAND [ARG ...]\n"
	      "       switchsim set PORT LINK [SPEED [DUPLEX]]\n"
	      "       switchsim show\n"
	      "       switchsim log\n"
	      "       switchsim reset\n"
	      "PORT is lan0, lan1, lan2, lan3 or wan; LINK is up or down, DUPLEX full or half\n"
	      "(or raw numbers); state lives in $SWITCHSIM_DIR, by default /tmp/switchsim-UID.\n",
	      stderr);
	return 2;
}

static int run(char **argv)
{
	char exe[PATH_MAX], lib[PATH_MAX + 32];
	ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
	if (n < 0) {
		fprintf(stderr, "switchsim: /proc/self/exe: %s\n", strerror(errno));
		return 1;
	}
	exe[n] = '\0';
	*strrchr(exe, '/') = '\0';
	snprintf(lib, sizeof(lib), "%s/libswitchsim.so", exe);
	const char *dir = sim_dir();
	if (!dir)
		return 1;
	if (access(lib, R_OK) != 0) {
		fprintf(stderr, "switchsim: %s: %s\n", lib, strerror(errno));
		return 1;
	}
	setenv("LD_PRELOAD", lib, 1);
	setenv("SWITCHSIM_DIR", dir, 1);
	execvp(argv[0], argv);
	fprintf(stderr, "switchsim: %s: %s\n", argv[0], strerror(errno));
	return 127;
}

static int set(int argc, char **argv)
{
	int port = -1;
	for (int i = 0; i < SIM_PORTS; i++)
		if (strcmp(argv[0], sim_port_name[i]) == 0)
			port = i;
	if (port < 0) {
		fprintf(stderr, "switchsim: %s: no such port (lan0..lan3, wan)\n", argv[0]);
		return 2;
	}
	struct sim_port p = { 0, 0, 0, 0 };
	if (!sim_parse_word(argv[1], sim_link_words, 2, &p.link)) {
		fprintf(stderr, "switchsim: %s: link is up, down or a number\n", argv[1]);
		return 2;
	}
	if (argc > 2 && !sim_parse_u32(argv[2], &p.speed)) {
		fprintf(stderr, "switchsim: %s: speed is a number\n", argv[2]);
		return 2;
	}
	if (argc > 3 && !sim_parse_word(argv[3], sim_duplex_words, 2, &p.duplex)) {
		fprintf(stderr, "switchsim: %s: duplex is full, half or a number\n", argv[3]);
		return 2;
	}
	if (argc == 2 && p.link) {
		p.speed = 1000;
		p.duplex = 1;
	}
	struct sim_state st;
	if (!sim_load(&st))
		return 1;
	st.port[port] = p;
	return sim_save(&st) ? 0 : 1;
}

static int show(void)
{
	struct sim_state st;
	if (!sim_load(&st))
		return 1;
	int64_t now = sim_now_ms();
	char num[12];
	printf("state in %s\n", sim_dir());
	for (int i = 0; i < SIM_PORTS; i++) {
		struct sim_port p = sim_port_now(&st, i);
		printf("%-6s", sim_port_name[i]);
		printf(" %s", sim_word(p.link, sim_link_words, 2, num));
		printf(" %lu", (unsigned long)p.speed);
		printf(" %s", sim_word(p.duplex, sim_duplex_words, 2, num));
		if (st.port[i].down_until > now)
			printf("  (link cycle: up again in %.1f s)",
			       (double)(st.port[i].down_until - now) / 1000);
		printf("\n");
	}
	printf("%-6s", "led");
	printf(" %s", sim_word(st.led, sim_led_words, 3, num));
	printf("\n%-6s", "header");
	printf(" %s", sim_word(st.header, sim_header_words, 2, num));
	printf("\n");
	for (int i = 0; i < st.nregs; i++)
		printf("reg    0x%08lx = 0x%08lx\n", (unsigned long)st.reg[i].addr,
		       (unsigned long)st.reg[i].value);
	return fflush(stdout) == 0 ? 0 : 1;
}

static int show_log(void)
{
	char path[600];
	if (!sim_path(path, sizeof(path), "log"))
		return 1;
	FILE *f = fopen(path, "re");
	if (!f)
		return errno == ENOENT ? 0 : (fprintf(stderr, "switchsim: %s: %s\n", path, strerror(errno)), 1);
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
		fwrite(buf, 1, n, stdout);
	fclose(f);
	return fflush(stdout) == 0 ? 0 : 1;
}

static int reset(void)
{
	static const char *const names[] = { "state", "log", "switch_phy" };
	for (const char *name : names) {
		char path[600];
		if (!sim_path(path, sizeof(path), name))
			return 1;
		if (unlink(path) != 0 && errno != ENOENT && rmdir(path) != 0) {
			fprintf(stderr, "switchsim: %s: %s\n", path, strerror(errno));
			return 1;
		}
	}
	return 0;
}

int main(int argc, char *argv[])
{
	if (argc < 2)
		return usage();
	const char *cmd = argv[1];
	if (strcmp(cmd, "run") == 0 && argc >= 3)
		return run(argv + 2);
	if (strcmp(cmd, "set") == 0 && argc >= 4 && argc <= 6)
		return set(argc - 2, argv + 2);
	if (strcmp(cmd, "show") == 0 && argc == 2)
		return show();
	if (strcmp(cmd, "log") == 0 && argc == 2)
		return show_log();
	if (strcmp(cmd, "reset") == 0 && argc == 2)
		return reset();
	return usage();
}
