// SPDX-License-Identifier: BSD-2-Clause
/*
 * switchsim: run a command against the simulated switch, set its ports,
 * LED and header, show its state and the requests it has received. Named
 * ethreg, the stand-in for the router's /sbin/ethreg. Its own failures
 * exit with 2.
 */
#include "simstate.h"

#include <elf.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

static const char usage_text[] =
	"usage: switchsim run COMMAND [ARG ...]\n"
	"       switchsim set PORT LINK [SPEED [DUPLEX]]\n"
	"       switchsim set led off|green|amber\n"
	"       switchsim set header on|off\n"
	"       switchsim show\n"
	"       switchsim log\n"
	"       switchsim reset\n"
	"PORT is lan0, lan1, lan2, lan3 or wan; LINK is up or down, DUPLEX full or half\n"
	"(or raw numbers). The state lives in $SWITCHSIM_DIR, by default\n"
	"$XDG_RUNTIME_DIR/switchsim or else ~/.cache/switchsim.\n";

static int usage_error(const char *what)
{
	fprintf(stderr, "switchsim: %s (switchsim help shows the commands)\n", what);
	return 2;
}

static int failed(const char *what, const char *why)
{
	sim_say(what, why);
	return 2;
}

/* The first bytes of a file, in one read; how many, or -1. */
static ssize_t read_head(const char *path, void *buf, size_t size)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	ssize_t n = fd >= 0 ? read(fd, buf, size) : -1;
	if (fd >= 0)
		close(fd);
	return n;
}

/* Whether the loader of the program pid has just exec'd will preload lib;
 * if not, says so. It never runs for a static program, drops LD_PRELOAD for
 * one that gained privileges at exec (setuid, setgid, file capabilities),
 * and can't load a library built for another machine. */
static bool preloaded(pid_t pid, const char *lib, const char *cmd)
{
	char path[64], exe[PATH_MAX];
	unsigned long aux[512], base = 0, secure = 0;
	snprintf(path, sizeof(path), "/proc/%d/auxv", (int)pid);
	ssize_t n = read_head(path, aux, sizeof(aux));
	for (size_t i = 0; n > 0 && i + 1 < (size_t)n / sizeof(*aux) && aux[i] != AT_NULL; i += 2) {
		if (aux[i] == AT_BASE)
			base = aux[i + 1];
		else if (aux[i] == AT_SECURE)
			secure = aux[i + 1];
	}
	/* ELF magic, class and byte order; then e_machine. */
	unsigned char want[20], got[20];
	snprintf(path, sizeof(path), "/proc/%d/exe", (int)pid);
	const char *why = NULL;
	if (n <= 0)
		why = "cannot tell whether the switch is preloaded";
	else if (!base)
		why = "a static program, which no library is preloaded into";
	else if (secure)
		why = "gains privileges as it starts, so the loader ignores LD_PRELOAD";
	else if (read_head(lib, want, 20) != 20 || read_head(path, got, 20) != 20 ||
		 memcmp(want, ELFMAG, SELFMAG) != 0 || memcmp(want, got, EI_DATA + 1) != 0 ||
		 memcmp(want + 18, got + 18, 2) != 0)
		why = "built for another machine than the simulated switch";
	if (!why)
		return true;
	ssize_t len = readlink(path, exe, sizeof(exe) - 1);
	exe[len > 0 ? len : 0] = '\0';
	fprintf(stderr, "switchsim: %s: %s; not run\n", len > 0 ? exe : cmd, why);
	return false;
}

/* Runs the command with the switch preloaded, or not at all: a program
 * the loader would not preload it into would act on the real system. The
 * command and every process it starts are traced and stopped at each exec,
 * before the loader runs, and let go only if that loader will preload the
 * switch; else all of them are killed. Done when all of them have ended. */
static int run(int, char **argv)
{
	char lib[PATH_MAX + 32];
	ssize_t n = readlink("/proc/self/exe", lib, PATH_MAX - 1);
	if (n < 0)
		return failed("/proc/self/exe", strerror(errno));
	lib[n] = '\0';
	snprintf(strrchr(lib, '/'), 32, "/libswitchsim.so");
	/* ld.so would take the pieces for several libraries, or expand $LIB,
	 * $ORIGIN or $PLATFORM, find none, and run the command against the
	 * real system with no more than a warning. */
	if (strpbrk(lib, " :$"))
		return failed(lib, "the loader splits LD_PRELOAD at spaces and colons and "
				   "expands $ in it; move the build to a path without them");
	const char *dir = sim_dir();
	if (!dir)
		return 2;
	if (access(lib, R_OK) != 0)
		return failed(lib, strerror(errno));
	setenv("LD_PRELOAD", lib, 1);
	setenv("SWITCHSIM_DIR", dir, 1);
	/* LeakSanitizer stops the world with ptrace, which fails in a traced
	 * process, and then dies at exit: a sanitized command would fail for
	 * being watched. Read after ASAN_OPTIONS; the last flag wins. */
	const char *lsan = getenv("LSAN_OPTIONS");
	setenv("LSAN_OPTIONS", (std::string(lsan ? lsan : "") + ":detect_leaks=0").c_str(), 1);
	fflush(stderr);
	pid_t pid = fork();
	if (pid < 0)
		return failed("fork", strerror(errno));
	if (pid == 0) {
		/* Stopped until the tracer has said what to follow. */
		bool watched = ptrace(PTRACE_TRACEME, 0, NULL, NULL) == 0 && raise(SIGSTOP) == 0;
		if (watched)
			execvp(argv[0], argv);
		fprintf(stderr, "switchsim: %s: %s%s\n", argv[0],
			watched ? "" : "cannot watch it start: ", strerror(errno));
		_exit(watched ? 127 : 2);
	}
	/* As a shell does for the command it waits for. */
	signal(SIGINT, SIG_IGN);
	signal(SIGQUIT, SIG_IGN);
	int status, result = 2;
	for (;;) {
		pid_t who = waitpid(-1, &status, __WALL);
		if (who < 0 && errno == EINTR)
			continue;
		if (who < 0)
			return errno == ECHILD ? result : failed(argv[0], strerror(errno));
		if (!WIFSTOPPED(status)) {
			if (who == pid)
				result = WIFEXITED(status) ? WEXITSTATUS(status)
							   : 128 + WTERMSIG(status);
			continue;
		}
		int event = status >> 16;
		long sig = event ? 0 : WSTOPSIG(status);
		/* Every tracee has PTRACE_O_EXITKILL: all die as this returns. */
		if (event == PTRACE_EVENT_EXEC && !preloaded(who, lib, argv[0]))
			return 2;
		if (sig == SIGSTOP) {
			/* Each tracee starts with one: follow each exec of each
			 * process, and kill it with switchsim, not leave it to run
			 * unwatched; those it starts inherit this. A later SIGSTOP
			 * would only stop it until this loop restarts it. */
			ptrace(PTRACE_SETOPTIONS, who, NULL,
			       PTRACE_O_TRACEEXEC | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK |
				       PTRACE_O_TRACECLONE | PTRACE_O_EXITKILL);
			sig = 0;
		}
		/* Traced, it stops for every signal too: those go on to it. */
		// NOLINTNEXTLINE(performance-no-int-to-ptr): ptrace takes the signal as its data
		ptrace(PTRACE_CONT, who, NULL, (void *)sig);
	}
}

/* A setting, as a line of the state text: the model applies it. */
static int set(int argc, char **argv)
{
	char line[256] = "";
	size_t len = 0;
	for (int i = 0; i < argc; i++) {
		int n = snprintf(line + len, sizeof(line) - len, i ? " %s" : "%s", argv[i]);
		if (n < 0 || (size_t)n >= sizeof(line) - len)
			return usage_error("set: too long");
		len += (size_t)n;
	}
	/* A port's link alone: up at 1000 full, or down; its speed alone: half. */
	uint32_t up = 0;
	const char *rest = argc == 2 && swm_word_parse(SWM_LINK, argv[1], strlen(argv[1]), &up) == 0
				   ? (up ? " 1000 full" : " 0 half")
				   : argc == 3 ? " half" : "";
	for (int i = 0; i < SWM_PORTS; i++)
		if (strcmp(argv[0], swm_port_name[i]) == 0)
			snprintf(line + len, sizeof(line) - len, "%s", rest);
	return sim_apply(line) ? 0 : 2;
}

static int show(int, char **)
{
	struct swm_state st;
	if (!sim_load(&st))
		return 2;
	uint64_t now = sim_clock().now;
	printf("state in %s\n", sim_dir());
	char a[12], b[12];
	for (int i = 0; i < SWM_PORTS; i++) {
		struct swm_port p = swm_port_now(&st, i, now);
		printf("%-6s %s %lu %s", swm_port_name[i], swm_word(SWM_LINK, p.link, a),
		       (unsigned long)p.speed, swm_word(SWM_DUPLEX, p.duplex, b));
		if (st.port[i].until > now)
			printf("  (link cycle: up again in %lu.%lu s)",
			       (unsigned long)((st.port[i].until - now) / 1000),
			       (unsigned long)((st.port[i].until - now) % 1000 / 100));
		printf("\n");
	}
	printf("led    %s\nheader %s\n", swm_word(SWM_LED, st.led, a),
	       swm_word(SWM_HEADER, st.header, b));
	for (uint32_t i = 0; i < st.nregs; i++)
		printf("reg    0x%08lx = 0x%08lx\n", (unsigned long)st.reg[i].addr,
		       (unsigned long)st.reg[i].value);
	return fflush(stdout) == 0 ? 0 : 2;
}

/* The log, the older part first, copied while it is held still and shown
 * after: a reader stalled on its output (a pager) must hold up no run. */
static int show_log(int, char **)
{
	int fd = sim_log_open();
	if (fd < 0)
		return 2;
	int old = sim_open("log.old", O_RDONLY);
	char *buf = NULL;
	size_t len = 0;
	/* -1: sim_open has said why. */
	int err = old >= 0 ? sim_read(old, &buf, &len, SIZE_MAX / 2) : errno == ENOENT ? 0 : -1;
	const char *name = err ? "log.old" : "log";
	if (!err)
		err = sim_read(fd, &buf, &len, SIZE_MAX / 2);
	if (old >= 0)
		sim_close(old);
	sim_log_close(fd);
	if (!err)
		fwrite(buf, 1, len, stdout);
	free(buf);
	if (err > 0)
		sim_fail(name, strerror(err));
	return !err && fflush(stdout) == 0 ? 0 : 2;
}

/* Back to the default state: what the sim made goes, but for the lock,
 * which others may hold. Only regular files of ours are removed. */
static int reset(int, char **)
{
	int lock = sim_lock();
	if (lock < 0)
		return 2;
	bool ok = true;
	auto remove = [&ok](int dfd, const char *name, sim_kind kind, const struct stat &sb) {
		if (kind != SIM_FOREIGN && strcmp(name, "lock") != 0 && S_ISREG(sb.st_mode) &&
		    sb.st_uid == geteuid() && unlinkat(dfd, name, 0) != 0 && errno != ENOENT)
			ok = sim_fail(name, strerror(errno));
		return true;
	};
	bool scanned = sim_scan(sim_dir(), remove);
	sim_unlock(lock);
	return ok && scanned ? 0 : 2;
}

/* ethreg -i phy0 0xRRRRRRRR=0xVVVVVVVV, logged and set in the state;
 * SWITCHSIM_FAIL_ETHREG=N makes it fail with exit code N instead. */
static int ethreg(int argc, char **argv)
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

	/* Each exactly "0x" and eight hex digits. */
	char addr[9] = "", value[9] = "", more;
	if (argc != 4 || strcmp(argv[1], "-i") != 0 || strlen(argv[3]) != 21 ||
	    sscanf(argv[3], "0x%8[0-9a-fA-F]=0x%8[0-9a-fA-F]%c", addr, value, &more) != 2) {
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
	if (argc > 0 && strcmp(name ? name + 1 : argv[0], "ethreg") == 0)
		return ethreg(argc, argv);
	if (argc < 2)
		return usage_error("no command");
	const char *cmd = argv[1];
	bool help = strcmp(cmd, "help") == 0 || strcmp(cmd, "--help") == 0 ||
		    strcmp(cmd, "-h") == 0;
	if (help && argc == 2) {
		fputs(usage_text, stdout);
		return fflush(stdout) == 0 ? 0 : 2;
	}
	for (const auto &c : cmds)
		if (help || strcmp(cmd, c.name) == 0)
			return !help && argc - 2 >= c.min && argc - 2 <= c.max
				       ? c.fn(argc - 2, argv + 2)
				       : usage_error("wrong number of arguments");
	char what[128];
	snprintf(what, sizeof(what), "%s: no such command", cmd);
	return usage_error(what);
}
