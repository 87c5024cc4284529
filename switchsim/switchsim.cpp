// SPDX-License-Identifier: BSD-2-Clause
/*
 * switchsim: run a command against the simulated switch, set its ports, LED
 * and header, show its state and log (see switchsim(1)). Named ethreg, the
 * stand-in for the router's /sbin/ethreg. Its own failures exit with 2.
 */
#include "simstate.h"

#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

/* The usage text, a command a line; "switchsim help CMD" prints CMD's. */
static const char *const usage_lines[] = {
	"run COMMAND [ARG ...]", "set PORT LINK [SPEED [DUPLEX]]", "set led off|green|amber",
	"set header on|off", "set reg ADDRESS VALUE", "show", "log", "reset", "help [COMMAND]",
};

/* "switchsim: [WORD: ]WHAT" and the pointer to help; 2. */
static int usage_error(const char *what, const char *word = NULL)
{
	fprintf(stderr, "switchsim: %s%s%s (switchsim help shows the commands)\n", word ? word : "",
		word ? ": " : "", what);
	return 2;
}

static int help(const char *cmd)
{
	size_t n = cmd ? strlen(cmd) : 0;
	int shown = 0;
	for (const char *l : usage_lines)
		if (!cmd || (strncmp(l, cmd, n) == 0 && (l[n] == ' ' || !l[n])))
			printf("%s switchsim %s\n", shown++ ? "      " : "usage:", l);
	if (!cmd || strcmp(cmd, "set") == 0)
		puts("PORT is lan0, lan1, lan2, lan3 or wan; LINK is up or down, DUPLEX full or half.");
	return !shown ? usage_error("no such command", cmd) : fflush(stdout) == 0 ? 0 : 2;
}

/* The ELF header's machine, class and byte order, and whether the loader
 * runs for the program (PT_INTERP); false if it is no ELF file. */
static bool elf(const char *path, ElfW(Ehdr) *eh, bool *dynamic)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	bool ok = fd >= 0 && pread(fd, eh, sizeof(*eh), 0) == sizeof(*eh) &&
		  memcmp(eh->e_ident, ELFMAG, SELFMAG) == 0;
	ElfW(Phdr) ph;
	*dynamic = false;
	for (int i = 0; ok && i < eh->e_phnum; i++)
		if (pread(fd, &ph, sizeof(ph), (off_t)(eh->e_phoff + (size_t)i * eh->e_phentsize)) ==
			    sizeof(ph) && ph.p_type == PT_INTERP)
			*dynamic = true;
	close(fd);
	return ok;
}

/* Why the loader would not preload the switch into the program, or NULL. */
static const char *not_preloaded(const char *path)
{
	struct stat sb;
	ElfW(Ehdr) prog, self;
	bool dynamic, self_dynamic;
	if (stat(path, &sb) != 0)
		return strerror(errno);
	if ((sb.st_mode & S_ISUID && sb.st_uid != getuid()) ||
	    (sb.st_mode & S_ISGID && sb.st_gid != getgid()) ||
	    getxattr(path, "security.capability", NULL, 0) >= 0)
		return "gains privileges as it starts, so the loader ignores LD_PRELOAD";
	if (!elf(path, &prog, &dynamic) || !elf("/proc/self/exe", &self, &self_dynamic))
		return NULL; /* a script: its interpreter is what runs */
	if (memcmp(prog.e_ident, self.e_ident, EI_DATA + 1) != 0 || prog.e_machine != self.e_machine)
		return "built for another machine than the simulated switch";
	return dynamic ? NULL : "a static program, which no library is preloaded into";
}

/* The file exec would run for name, found on PATH as execvp finds it. */
static bool find_program(const char *name, char *out, size_t size)
{
	const char *path = getenv("PATH"), *p, *end;
	if (strchr(name, '/'))
		return snprintf(out, size, "%s", name) < (int)size && access(out, F_OK) == 0;
	for (p = path && *path ? path : "/bin:/usr/bin";; p = end + 1) {
		end = strchrnul(p, ':');
		int n = snprintf(out, size, "%.*s/%s", end == p ? 1 : (int)(end - p), end == p ? "." : p,
				 name);
		if (n > 0 && (size_t)n < size && access(out, X_OK) == 0)
			return true;
		if (!*end)
			return false;
	}
}

static bool put(const char *path, const char *text)
{
	FILE *f = fopen(path, "we");
	return f && (fputs(text, f), fclose(f) == 0);
}

/* The port report takes CAP_NET_ADMIN over the socket's network namespace,
 * which a user holds in a user and network namespace of their own. */
static void own_namespace(void)
{
	int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	bool refused = s >= 0 && !sim_net_admin(s);
	char uid[32], gid[32];
	snprintf(uid, sizeof(uid), "0 %u 1", (unsigned)geteuid());
	snprintf(gid, sizeof(gid), "0 %u 1", (unsigned)getegid());
	close(s);
	if (refused && (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 ||
			!put("/proc/self/uid_map", uid) || !put("/proc/self/setgroups", "deny") ||
			!put("/proc/self/gid_map", gid)))
		fprintf(stderr, "switchsim: no user and network namespace of your own (%s), so the "
				"port report is refused without CAP_NET_ADMIN\n", strerror(errno));
}

/* Runs the command with the switch preloaded, or not at all: a program the
 * loader would not preload it into would act on the real system. Only the
 * named program is checked, not what it runs in turn. */
static int run(int, char **argv)
{
	char self[PATH_MAX], lib[PATH_MAX + 32], ethreg[PATH_MAX + 32], prog[PATH_MAX];
	if (!realpath("/proc/self/exe", self))
		return sim_say("/proc/self/exe", strerror(errno)), 2;
	*strrchr(self, '/') = '\0';
	snprintf(lib, sizeof(lib), "%s/libswitchsim.so", self);
	snprintf(ethreg, sizeof(ethreg), "%s/ethreg", self);
	/* ld.so would take the pieces for several libraries, or expand $LIB,
	 * $ORIGIN or $PLATFORM, find none, and run the command without it. */
	if (strpbrk(lib, " :$"))
		return sim_say(lib, "the loader splits LD_PRELOAD at spaces and colons and "
				    "expands $ in it; move the build to a path without them"), 2;
	if (!find_program(argv[0], prog, sizeof(prog)))
		return sim_say(argv[0], "command not found"), 127;
	if (const char *why = not_preloaded(prog))
		return fprintf(stderr, "switchsim: %s: %s; not run\n", prog, why), 2;
	own_namespace();
	setenv("LD_PRELOAD", lib, 1);
	setenv("SWITCHSIM_DIR", sim_dir_path, 1);
	const char *given = getenv("SWITCHSIM_ETHREG");
	setenv("SWITCHSIM_ETHREG", given && *given ? given : ethreg, 1);
	execv(prog, argv);
	return sim_say(prog, strerror(errno)), 127;
}

/* A setting, as a line of the state text, its words checked one by one. */
static int set(int argc, char **argv)
{
	static const char *const what[] = { "not up or down", "not full or half",
					    "not off, green or amber", "not on or off", "not a number" };
	const int number = 4;
	int field[3] = { number, number }, words = 2; /* reg ADDRESS VALUE */
	for (const char *port : swm_port_name)
		if (strcmp(argv[0], port) == 0)
			field[0] = SWM_LINK, field[2] = SWM_DUPLEX, words = 3;
	if (strcmp(argv[0], "led") == 0 || strcmp(argv[0], "header") == 0)
		field[0] = *argv[0] == 'l' ? SWM_LED : SWM_HEADER, words = 1;
	else if (words == 2 && strcmp(argv[0], "reg") != 0)
		return usage_error("not a port, led, header or reg", argv[0]);
	uint32_t v = 0;
	for (int i = 1; i < argc; i++)
		if (i > words || (field[i - 1] == number ? swm_u32(argv[i], strlen(argv[i]), &v)
				  : swm_word_parse((enum swm_field)field[i - 1], argv[i], strlen(argv[i]), &v)))
			return usage_error(i > words ? "one word too many" : what[field[i - 1]], argv[i]);
	if (words == 2 && argc != 3)
		return usage_error("wrong number of arguments");
	/* A port's link alone: up at 1000 full, or down; its speed alone: half. */
	char line[256];
	int n = snprintf(line, sizeof(line), "%s %s %s %s %s", argv[0], argv[1],
			 argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : "",
			 words < 3 || argc > 3 ? "" : argc == 3 ? "half" : v ? "1000 full" : "0 half");
	if (n < 0 || (size_t)n >= sizeof(line))
		return usage_error("too long", "set");
	return sim_apply(line) ? 0 : 2;
}

/* The state as the switch reads it now: a link cycle's hold while it lasts. */
static int show(int, char **)
{
	struct swm_state st;
	char text[SWM_TEXT_MAX];
	if (!sim_load(&st))
		return 2;
	int n = swm_print(&st, sim_now(), text, sizeof(text));
	fputs(n >= 0 ? text : "", stdout);
	return n >= 0 && fflush(stdout) == 0 ? 0 : 2;
}

static int show_log(int, char **)
{
	int fd = sim_open("log", O_RDONLY);
	char buf[1 << 16];
	ssize_t n = 0;
	while (fd >= 0 && (n = read(fd, buf, sizeof(buf))) > 0)
		fwrite(buf, 1, (size_t)n, stdout);
	if (n < 0 || (fd < 0 && errno != ENOENT))
		return sim_say("log", strerror(errno)), 2;
	return fflush(stdout) == 0 ? 0 : 2;
}

/* An empty state is the default one, in the module's directory too. */
static int reset(int, char **)
{
	sim_lock();
	bool ok = sim_put("state", O_CREAT | O_TRUNC, "", 0) & sim_put("log", O_CREAT | O_TRUNC, "", 0);
	sim_unlock();
	return ok ? 0 : 2;
}

/* ethreg -i phy0 0xRRRRRRRR=0xVVVVVVVV, logged and set in the state;
 * SWITCHSIM_FAIL_ETHREG=N makes it fail with exit code N instead. */
static int ethreg(int argc, char **argv)
{
	struct sim_faults faults;
	if (!sim_faults(&faults))
		return 2;
	char args[SWM_LINE_MAX] = "";
	size_t len = 0;
	for (int i = 1; i < argc && len < sizeof(args); i++)
		len += (size_t)snprintf(args + len, sizeof(args) - len, " [%s]", argv[i]);
	sim_log("ethreg%s", args);

	/* Each exactly "0x" and eight hex digits. */
	char addr[9] = "", value[9] = "", more;
	if (argc != 4 || strcmp(argv[1], "-i") != 0 || strlen(argv[3]) != 21 ||
	    sscanf(argv[3], "0x%8[0-9a-fA-F]=0x%8[0-9a-fA-F]%c", addr, value, &more) != 2)
		return fprintf(stderr, "usage: ethreg -i IFACE 0xRRRRRRRR=0xVVVVVVVV\n"), 2;
	if (strcmp(argv[2], "phy0") != 0)
		return fprintf(stderr, "ethreg: %s: no such switch interface (only phy0)\n",
			       argv[2]), 1;
	if (faults.ethreg_exit)
		return fprintf(stderr, "ethreg: simulated failure\n"), faults.ethreg_exit;
	char line[64];
	snprintf(line, sizeof(line), "reg 0x%s 0x%s", addr, value);
	return sim_apply(line) ? 0 : 2;
}

int main(int argc, char *argv[])
{
	static const struct {
		const char *name;
		int min, max; /* arguments */
		int (*fn)(int argc, char **argv);
	} cmds[] = {
		{ "run", 1, INT_MAX, run }, { "set", 2, 4, set }, { "show", 0, 0, show },
		{ "log", 0, 0, show_log }, { "reset", 0, 0, reset },
	};
	const char *name = argc > 0 ? strrchr(argv[0], '/') : NULL;
	/* Nothing before the state directory's check, which may refuse it. */
	if (argc > 0 && strcmp(name ? name + 1 : argv[0], "ethreg") == 0)
		return sim_dir() < 0 ? 2 : ethreg(argc, argv);
	if (argc < 2)
		return usage_error("no command");
	const char *cmd = argv[1];
	if (strcmp(cmd, "help") == 0 || strcmp(cmd, "--help") == 0 || strcmp(cmd, "-h") == 0)
		return argc > 3 ? usage_error("wrong number of arguments") : help(argv[2]);
	for (const auto &c : cmds)
		if (strcmp(cmd, c.name) == 0)
			return argc - 2 < c.min || argc - 2 > c.max
				       ? usage_error("wrong number of arguments")
				       : sim_dir() < 0 ? 2 : c.fn(argc - 2, argv + 2);
	return usage_error("no such command", cmd);
}
