/*
 * switchsim: run a command against the simulated switch, set its ports,
 * LED and header, show its state and the requests it has received.
 * Its own failures exit with 2.
 */
#include "simstate.h"

#include <dirent.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

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

/* The class and machine an ELF file is built for; false if it is none. */
static bool elf_kind(const char *path, unsigned char kind[4])
{
	unsigned char head[20];
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	ssize_t n = fd >= 0 ? read(fd, head, sizeof(head)) : -1;
	if (fd >= 0)
		close(fd);
	if (n != (ssize_t)sizeof(head) || memcmp(head, ELFMAG, SELFMAG) != 0)
		return false;
	kind[0] = head[EI_CLASS];
	kind[1] = head[EI_DATA];
	memcpy(kind + 2, head + 18, 2); /* e_machine */
	return true;
}

/*
 * Why the program stopped at its exec as pid will run without the switch,
 * or NULL if its loader will preload lib. The loader never runs for a
 * static program, drops LD_PRELOAD for one that gained privileges at exec
 * (setuid, setgid, file capabilities), and can't load a library built for
 * another machine.
 */
static const char *why_not_preloaded(pid_t pid, const char *lib)
{
	char path[64];
	unsigned long aux[512];
	snprintf(path, sizeof(path), "/proc/%d/auxv", (int)pid);
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	ssize_t n = fd >= 0 ? read(fd, aux, sizeof(aux)) : -1;
	if (fd >= 0)
		close(fd);
	if (n <= 0)
		return "cannot tell whether the switch is preloaded";
	unsigned long base = 0, secure = 0;
	for (size_t i = 0; i + 1 < (size_t)n / sizeof(*aux) && aux[i] != AT_NULL; i += 2) {
		if (aux[i] == AT_BASE)
			base = aux[i + 1];
		else if (aux[i] == AT_SECURE)
			secure = aux[i + 1];
	}
	if (base == 0)
		return "a static program, which no library is preloaded into";
	if (secure)
		return "gains privileges as it starts, so the loader ignores LD_PRELOAD";
	unsigned char want[4], got[4];
	snprintf(path, sizeof(path), "/proc/%d/exe", (int)pid);
	if (!elf_kind(lib, want) || !elf_kind(path, got) || memcmp(want, got, sizeof(want)) != 0)
		return "built for another machine than the simulated switch";
	return NULL;
}

/*
 * Runs the command with the switch preloaded, or not at all: a program
 * the loader would not preload it into would act on the real system. It
 * is stopped at its exec, before its loader runs, and let go only if that
 * loader will preload the switch.
 */
static int run(char **argv)
{
	char exe[PATH_MAX], lib[PATH_MAX + 32];
	ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
	if (n < 0) {
		fprintf(stderr, "switchsim: /proc/self/exe: %s\n", strerror(errno));
		return 2;
	}
	exe[n] = '\0';
	*strrchr(exe, '/') = '\0';
	snprintf(lib, sizeof(lib), "%s/libswitchsim.so", exe);
	/* ld.so would take the pieces for several libraries, find none, and
	 * run the command against the real system without a word. */
	if (strpbrk(lib, " :")) {
		fprintf(stderr, "switchsim: %s: the loader splits LD_PRELOAD at spaces and colons; "
				"move the build to a path without them\n", lib);
		return 2;
	}
	const char *dir = sim_dir();
	if (!dir)
		return 2;
	if (access(lib, R_OK) != 0) {
		fprintf(stderr, "switchsim: %s: %s\n", lib, strerror(errno));
		return 2;
	}
	setenv("LD_PRELOAD", lib, 1);
	setenv("SWITCHSIM_DIR", dir, 1);
	fflush(stderr);
	pid_t pid = fork();
	if (pid < 0) {
		fprintf(stderr, "switchsim: fork: %s\n", strerror(errno));
		return 2;
	}
	if (pid == 0) {
		if (ptrace(PTRACE_TRACEME, 0, NULL, NULL) != 0) {
			fprintf(stderr, "switchsim: %s: cannot watch it start: %s\n", argv[0], strerror(errno));
			_exit(2);
		}
		execvp(argv[0], argv);
		fprintf(stderr, "switchsim: %s: %s\n", argv[0], strerror(errno));
		_exit(127);
	}
	/* As a shell does for the command it waits for. */
	signal(SIGINT, SIG_IGN);
	signal(SIGQUIT, SIG_IGN);
	int status;
	for (;;) {
		if (waitpid(pid, &status, 0) < 0) {
			if (errno == EINTR)
				continue;
			fprintf(stderr, "switchsim: %s: %s\n", argv[0], strerror(errno));
			return 2;
		}
		if (!WIFSTOPPED(status))
			break;
		/* Traced, it stops for every signal too: those go on to it. */
		if (WSTOPSIG(status) != SIGTRAP) {
			// NOLINTNEXTLINE(performance-no-int-to-ptr): ptrace takes the signal as its data
			ptrace(PTRACE_CONT, pid, NULL, (void *)(long)WSTOPSIG(status));
			continue;
		}
		const char *why = why_not_preloaded(pid, lib);
		if (why) {
			kill(pid, SIGKILL);
			while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
			}
			fprintf(stderr, "switchsim: %s: %s; not run\n", argv[0], why);
			return 2;
		}
		ptrace(PTRACE_DETACH, pid, NULL, NULL);
	}
	return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

enum { SET_LED = -1, SET_HEADER = -2 };

struct setting {
	int port; /* a port, or SET_LED, SET_HEADER */
	struct sim_port p;
	uint32_t value;
};

static bool apply_setting(struct sim_state *st, const void *arg)
{
	const struct setting *s = static_cast<const struct setting *>(arg);
	if (s->port >= 0)
		st->port[s->port] = s->p;
	else if (s->port == SET_LED)
		st->led = s->value;
	else
		st->header = s->value;
	return true;
}

static int set(int argc, char **argv)
{
	struct setting s = { -1, { 0, 0, 0, 0 }, 0 };
	if (strcmp(argv[0], "led") == 0) {
		if (argc != 2 || !sim_parse_word(argv[1], sim_led_words, 3, &s.value)) {
			fprintf(stderr, "switchsim: set led takes off, green, amber or a number\n");
			return 2;
		}
		s.port = SET_LED;
		return sim_update(apply_setting, &s) ? 0 : 2;
	}
	if (strcmp(argv[0], "header") == 0) {
		if (argc != 2 || !sim_parse_word(argv[1], sim_header_words, 2, &s.value)) {
			fprintf(stderr, "switchsim: set header takes on, off or a number\n");
			return 2;
		}
		s.port = SET_HEADER;
		return sim_update(apply_setting, &s) ? 0 : 2;
	}
	for (int i = 0; i < SIM_PORTS; i++)
		if (strcmp(argv[0], sim_port_name[i]) == 0)
			s.port = i;
	if (s.port < 0) {
		fprintf(stderr, "switchsim: %s: no such port (lan0..lan3, wan), nor led or header\n", argv[0]);
		return 2;
	}
	if (!sim_parse_word(argv[1], sim_link_words, 2, &s.p.link)) {
		fprintf(stderr, "switchsim: %s: link is up, down or a number\n", argv[1]);
		return 2;
	}
	if (argc > 2 && !sim_parse_u32(argv[2], &s.p.speed)) {
		fprintf(stderr, "switchsim: %s: speed is a number\n", argv[2]);
		return 2;
	}
	if (argc > 3 && !sim_parse_word(argv[3], sim_duplex_words, 2, &s.p.duplex)) {
		fprintf(stderr, "switchsim: %s: duplex is full, half or a number\n", argv[3]);
		return 2;
	}
	if (argc == 2 && s.p.link) {
		s.p.speed = 1000;
		s.p.duplex = 1;
	}
	return sim_update(apply_setting, &s) ? 0 : 2;
}

static int show(void)
{
	struct sim_state st;
	if (!sim_load(&st))
		return 2;
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
	return fflush(stdout) == 0 ? 0 : 2;
}

/* The log, the older part first. */
static int show_log(void)
{
	static const char *const names[] = { "log.old", "log" };
	for (const char *name : names) {
		int fd = sim_open(name, O_RDONLY);
		if (fd < 0 && errno == ENOENT)
			continue;
		if (fd < 0)
			return 2;
		char buf[4096];
		ssize_t n;
		while ((n = read(fd, buf, sizeof(buf))) > 0)
			fwrite(buf, 1, (size_t)n, stdout);
		int err = n < 0 ? errno : 0;
		sim_close(fd);
		if (err) {
			char path[SIM_PATH];
			sim_path(path, sizeof(path), name);
			fprintf(stderr, "switchsim: %s: %s\n", path, strerror(err));
			return 2;
		}
	}
	return fflush(stdout) == 0 ? 0 : 2;
}

/* Ours alone: the state, the log, the last driver file, and what a run
 * that died left of its own files. The lock stays, as others may hold it. */
static bool ours(const char *name)
{
	static const char *const names[] = { "state", "log", "log.old", "switch_phy" };
	for (const char *n : names)
		if (strcmp(name, n) == 0)
			return true;
	return strncmp(name, "state.", 6) == 0 || strncmp(name, "switch_phy.", 11) == 0;
}

static int reset(void)
{
	int lock = sim_lock();
	if (lock < 0)
		return 2;
	const char *dir = sim_dir();
	DIR *d = opendir(dir);
	if (!d) {
		fprintf(stderr, "switchsim: %s: %s\n", dir, strerror(errno));
		sim_close(lock);
		return 2;
	}
	bool ok = true;
	while (const struct dirent *e = readdir(d)) {
		char path[SIM_PATH];
		if (!ours(e->d_name) || !sim_path(path, sizeof(path), e->d_name))
			continue;
		if (unlink(path) != 0 && errno != ENOENT && rmdir(path) != 0 && errno != ENOENT) {
			fprintf(stderr, "switchsim: %s: %s\n", path, strerror(errno));
			ok = false;
		}
	}
	closedir(d);
	sim_close(lock);
	return ok ? 0 : 2;
}

int main(int argc, char *argv[])
{
	if (argc < 2)
		return usage_error("no command");
	const char *cmd = argv[1];
	bool help = strcmp(cmd, "help") == 0 || strcmp(cmd, "--help") == 0 || strcmp(cmd, "-h") == 0;
	if (help && argc == 2) {
		fputs(usage_text, stdout);
		return fflush(stdout) == 0 ? 0 : 2;
	}
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
	static const char *const cmds[] = { "run", "set", "show", "log", "reset" };
	for (const char *c : cmds)
		if (help || strcmp(cmd, c) == 0)
			return usage_error("wrong number of arguments");
	char what[128];
	snprintf(what, sizeof(what), "%s: no such command", cmd);
	return usage_error(what);
}
