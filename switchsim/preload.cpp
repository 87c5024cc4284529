// SPDX-License-Identifier: BSD-2-Clause
/*
 * libswitchsim.so, preloaded: the switch driver behind "phy0", and the log
 * of every socket, request, close and shell command, safe from any thread
 * (see README.md). SWITCHSIM_ETHREG is the shell command that stands in
 * for /sbin/ethreg (default: the ethreg beside this library).
 */
#include "simstate.h"

#include <atomic>

#include <dlfcn.h>
#include <linux/capability.h>
#include <net/if.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

template <typename F> static F real(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

static struct sim_faults faults;

static int fail_with(int err)
{
	errno = err;
	return -1;
}

/* Sockets by descriptor: open, or closed (a second close is logged too).
 * Threads look up while others add, so there is an entry for every
 * descriptor the kernel's default nr_open allows, and untouched pages cost
 * nothing. A socket above that, after a privileged process raised it,
 * would reach the kernel unseen: socket() refuses it with EMFILE. */
enum { OPEN = 1, CLOSED = 2, SOCKETS_MAX = 1 << 20 };
static std::atomic<unsigned char> sockets[SOCKETS_MAX];

/* The socket's entry, NULL if fd can't be one. */
static std::atomic<unsigned char> *socket_at(int fd)
{
	return fd >= 0 && fd < SOCKETS_MAX ? &sockets[fd] : NULL;
}

/* The family and type by name: their numbers differ between targets. */
static const char *name_of(int v, const int *values, const char *const *names, size_t n,
			   char num[12])
{
	for (size_t i = 0; i < n; i++)
		if (values[i] == v)
			return names[i];
	snprintf(num, 12, "%d", v);
	return num;
}

extern "C" int socket(int domain, int type, int protocol) noexcept
{
	if (faults.socket) {
		sim_log("socket -1 %s", faults.socket);
		return fail_with(faults.socket_errno);
	}
	int fd = real<int (*)(int, int, int)>("socket")(domain, type, protocol);
	int err = errno;
	if (fd >= 0 && socket_at(fd)) {
		socket_at(fd)->store(OPEN, std::memory_order_relaxed);
	} else if (fd >= 0) {
		real<int (*)(int)>("close")(fd);
		fd = -1;
		err = EMFILE;
	}
	static const int families[] = { AF_INET, AF_INET6, AF_UNIX, AF_NETLINK, AF_PACKET };
	static const char *const family_names[] = { "inet", "inet6", "unix", "netlink", "packet" };
	static const int types[] = { SOCK_DGRAM, SOCK_STREAM, SOCK_RAW, SOCK_SEQPACKET };
	static const char *const type_names[] = { "dgram", "stream", "raw", "seqpacket" };
	char fnum[12], tnum[12];
	sim_log("socket %d %s %s%s%s", fd, name_of(domain, families, family_names, 5, fnum),
		name_of(type & ~(SOCK_CLOEXEC | SOCK_NONBLOCK), types, type_names, 4, tnum),
		type & SOCK_CLOEXEC ? " cloexec" : "", type & SOCK_NONBLOCK ? " nonblock" : "");
	errno = err;
	return fd;
}

extern "C" int close(int fd)
{
	std::atomic<unsigned char> *s = socket_at(fd);
	if (s && s->load(std::memory_order_relaxed)) {
		sim_log("close %d", fd);
		s->store(CLOSED, std::memory_order_relaxed);
	}
	return real<int (*)(int)>("close")(fd);
}

static bool net_admin(void)
{
	struct __user_cap_header_struct head = { _LINUX_CAPABILITY_VERSION_3, 0 };
	struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
	return syscall(SYS_capget, &head, data) == 0 &&
	       ((data[CAP_NET_ADMIN / 32].effective >> (CAP_NET_ADMIN % 32)) & 1);
}

static int driver(unsigned long request, uint32_t *data)
{
	struct swm_state st;
	if (request == SWM_REQ_STATUS)
		return sim_load(&st) ? -swm_request(&st, request, sim_clock().now, data) : EIO;
	int err = 0;
	bool ok = sim_update([&](struct swm_state *s) {
		return (err = swm_request(s, request, 0, data)) == 0;
	});
	return err ? -err : ok ? 0 : EIO;
}

static void log_request(int fd, unsigned long request, const struct ifreq *ifr,
			const void *data, size_t size)
{
	char line[SWM_LINE_MAX];
	if (swm_log_ioctl(line, sizeof(line), fd, request, ifr, sizeof(*ifr), data, size) >= 0)
		sim_log("%s", line);
}

/* As a kernel copies: a bad address is EFAULT, never a crash, as the
 * kernel itself touches the caller's side through a pipe. */
static int copy_user(void *to, const void *from, size_t n)
{
	int p[2];
	if (pipe2(p, O_CLOEXEC) != 0)
		return errno;
	ssize_t w = write(p[1], from, n);
	int err = w == (ssize_t)n ? 0 : w < 0 ? errno : EFAULT;
	if (!err) {
		ssize_t r = read(p[0], to, n);
		err = r == (ssize_t)n ? 0 : r < 0 ? errno : EFAULT;
	}
	sim_close(p[0]);
	sim_close(p[1]);
	return err;
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
	va_list ap;
	va_start(ap, request);
	void *arg = va_arg(ap, void *);
	va_end(ap);

	auto pass_on = real<int (*)(int, unsigned long, void *)>("ioctl");
	const std::atomic<unsigned char> *s = socket_at(fd);
	if (!s || s->load(std::memory_order_relaxed) != OPEN)
		return pass_on(fd, request, arg);
	/* Any other request's argument is not a request block: its size is
	 * the request's own, so none of it is read here. */
	size_t size = swm_request_size(request);
	struct ifreq ifr = {};
	int err = size ? copy_user(&ifr, arg, sizeof(ifr)) : 0;
	if (err)
		return fail_with(err);
	/* Another interface's request is the kernel's; what the caller left
	 * in its block is none of the log's business. */
	if (size == 0 || strncmp(ifr.ifr_name, "phy0", IFNAMSIZ) != 0) {
		log_request(fd, request, NULL, NULL, 0);
		return pass_on(fd, request, arg);
	}
	if (request == SWM_REQ_STATUS && !net_admin())
		return fail_with(EPERM);
	uint32_t data[SWM_STATUS_WORDS] = { 0 };
	err = copy_user(data, ifr.ifr_data, size);
	if (err)
		return fail_with(err);
	log_request(fd, request, &ifr, data, size);

	err = request == faults.ioctl_code ? faults.ioctl_errno : 0;
	if (!err)
		err = driver(request, data);
	if (!err && request == SWM_REQ_STATUS)
		err = copy_user(ifr.ifr_data, data, size);
	return err ? fail_with(err) : 0;
}

/* s in single quotes for the shell, each ' as '\''; false if it doesn't fit. */
static bool quote(char *out, size_t size, const char *s)
{
	size_t len = 0;
	out[len++] = '\'';
	for (; *s; s++) {
		size_t plen = *s == '\'' ? 4 : 1;
		if (len + plen + 2 > size)
			return false;
		memcpy(out + len, *s == '\'' ? "'\\''" : s, plen);
		len += plen;
	}
	out[len++] = '\'';
	out[len] = '\0';
	return true;
}

/* The command with each name replaced, in one pass, so that nothing a
 * replacement brings in is replaced again. */
static bool map_command(char *out, size_t size, const char *src, const char *const to[2])
{
	static const char *const from[] = { "/proc/switch_phy", "/sbin/ethreg" };
	size_t len = 0;
	while (*src) {
		const char *piece = src;
		size_t plen = 1, skip = 1;
		for (int i = 0; i < 2; i++)
			if (strncmp(src, from[i], strlen(from[i])) == 0) {
				piece = to[i];
				plen = strlen(to[i]);
				skip = strlen(from[i]);
			}
		if (len + plen >= size)
			return false;
		memcpy(out + len, piece, plen);
		len += plen;
		src += skip;
	}
	out[len] = '\0';
	return true;
}

/* The register tool for the shell: quoted, but for a command the user gave. */
static bool ethreg_command(char *buf, size_t size)
{
	const char *cmd = getenv("SWITCHSIM_ETHREG");
	if (faults.ethreg_missing)
		return quote(buf, size, "/dev/null/ethreg"); /* as the driver file, below */
	if (cmd && *cmd) {
		int n = snprintf(buf, size, "%s", cmd);
		return n > 0 && (size_t)n < size;
	}
	Dl_info info;
	const char *slash;
	char path[SIM_PATH];
	if (!dladdr(reinterpret_cast<void *>(&ethreg_command), &info) || !info.dli_fname ||
	    !(slash = strrchr(info.dli_fname, '/')))
		return quote(buf, size, "ethreg");
	int n = snprintf(path, sizeof(path), "%.*s/ethreg", (int)(slash - info.dli_fname),
			 info.dli_fname);
	return n > 0 && (size_t)n < sizeof(path) && quote(buf, size, path);
}

/* When a driver file was written, on the boot clock; false if before this
 * boot began: its cycle ended with that boot. A file is dated on the wall
 * clock alone, so one set back since reads as written now. */
static bool written_at(int fd, uint64_t *at)
{
	struct stat sb;
	struct timespec ts;
	uint64_t now = sim_clock().now;
	clock_gettime(CLOCK_REALTIME, &ts);
	if (fstat(fd, &sb) != 0)
		return false;
	int64_t age = ((int64_t)ts.tv_sec - sb.st_mtim.tv_sec) * 1000 +
		      (ts.tv_nsec - sb.st_mtim.tv_nsec) / 1000000;
	if (age > 0 && (uint64_t)age > now)
		return false;
	*at = now - (uint64_t)(age > 0 ? age : 0);
	return true;
}

/* A run's driver file, fd at path, under the state lock: its cycle applied
 * as of when it was written, and only then the file logged and kept as
 * switch_phy. A run killed in between, or a state that can't be read or
 * saved, leaves it for the next run. */
static void apply_cycle(int fd, const char *path)
{
	/* Static, as the caller holds the state lock: a stack may be PTHREAD_STACK_MIN. */
	static char bytes[64], last[SIM_PATH], line[SWM_LINE_MAX];
	ssize_t n = pread(fd, bytes, sizeof(bytes), 0);
	uint64_t at;
	if (n > 0 && written_at(fd, &at)) {
		struct swm_state st;
		if (!sim_load(&st) || (swm_cycle(&st, at, bytes, (size_t)n) == 0 && !sim_save(&st)))
			return;
	}
	if (n <= 0 || !sim_path(last, sizeof(last), "switch_phy") || rename(path, last) != 0)
		unlink(path);
	if (n > 0 && swm_log_switch_phy(line, sizeof(line), bytes, (size_t)n) >= 0)
		sim_log("%s", line);
}

/* Killed runs' files, finished under the state lock, taken only if the
 * directory's check saw any: a state file goes (only the lock's holder
 * writes one), and a driver file no live run holds locked is applied. A
 * run makes, locks and moves its driver file under the state lock too. */
static void clear_leftovers(void)
{
	int lock = sim_leftovers() ? sim_lock() : -1;
	if (lock < 0)
		return;
	sim_scan(sim_dir(), [](int dfd, const char *name, sim_kind kind, const struct stat &sb) {
		char path[SIM_PATH];
		int fd = kind == SIM_PHY_TEMP ? sim_open(name, O_RDONLY) : -1;
		if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && sim_path(path, sizeof(path), name))
			apply_cycle(fd, path);
		else if (kind == SIM_STATE_TEMP && S_ISREG(sb.st_mode))
			unlinkat(dfd, name, 0);
		if (fd >= 0)
			sim_close(fd);
		return true;
	});
	sim_unlock(lock);
}

/* As system(), SIGINT and SIGQUIT are ignored while any shell runs. */
static pthread_mutex_t interrupts_lock = PTHREAD_MUTEX_INITIALIZER;
static int interrupts_users;
static struct sigaction saved_int, saved_quit;

static void ignore_interrupts(bool on)
{
	pthread_mutex_lock(&interrupts_lock);
	if (on && interrupts_users++ == 0) {
		struct sigaction ign = {};
		ign.sa_handler = SIG_IGN;
		sigaction(SIGINT, &ign, &saved_int);
		sigaction(SIGQUIT, &ign, &saved_quit);
	} else if (!on && --interrupts_users == 0) {
		sigaction(SIGINT, &saved_int, NULL);
		sigaction(SIGQUIT, &saved_quit, NULL);
	}
	pthread_mutex_unlock(&interrupts_lock);
}

/* system(), in an environment of its own without LD_PRELOAD: the shell
 * is not the tool. The process's stays, as other threads may read it. */
static int run_shell(const char *command)
{
	static char *none[] = { NULL };
	char **from = environ ? environ : none; /* NULL after clearenv() */
	size_t n = 0;
	while (from[n])
		n++;
	char **env = static_cast<char **>(calloc(n + 1, sizeof(*env)));
	if (!env)
		return fail_with(ENOMEM);
	n = 0;
	for (char **e = from; *e; e++)
		if (strncmp(*e, "LD_PRELOAD=", 11) != 0)
			env[n++] = *e;

	sigset_t chld, old, def;
	sigemptyset(&chld);
	sigaddset(&chld, SIGCHLD);
	sigemptyset(&def);
	sigaddset(&def, SIGINT);
	sigaddset(&def, SIGQUIT);
	pthread_sigmask(SIG_BLOCK, &chld, &old);
	ignore_interrupts(true);
	posix_spawnattr_t attr;
	posix_spawnattr_init(&attr);
	posix_spawnattr_setsigdefault(&attr, &def);
	posix_spawnattr_setsigmask(&attr, &old);
	posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
	char sh[] = "sh", c[] = "-c", dashes[] = "--";
	char *argv[] = { sh, c, dashes, const_cast<char *>(command), NULL };
	pid_t pid;
	int status = 127 << 8; /* as a shell that could not be run */
	int err = posix_spawn(&pid, "/bin/sh", NULL, &attr, argv, env);
	while (!err && waitpid(pid, &status, 0) < 0)
		if (errno != EINTR) {
			err = errno;
			status = -1;
		}
	posix_spawnattr_destroy(&attr);
	ignore_interrupts(false);
	pthread_sigmask(SIG_SETMASK, &old, NULL);
	free(env);
	errno = err;
	return status;
}

/* A shell command's names, off the stack: a thread's may be as small as
 * PTHREAD_STACK_MIN. */
struct shell_names {
	char proc[SIM_PATH], quoted[2 * SIM_PATH], ethreg[2 * SIM_PATH], mapped[8192];
};

/* A driver file of this call's own, made and locked under the state lock,
 * so that clear_leftovers never finds it unlocked, until its digits are
 * applied. For SWITCHSIM_FAIL_PROC, and while the state can't be read (a
 * driver refuses a cycle it can't keep), a name not even root can create. */
static int shell_with_driver(const char *command, struct shell_names *n)
{
	struct swm_state st;
	int fd = -1, err = 0;
	if (faults.proc || (strstr(command, "/proc/switch_phy") && !sim_load(&st))) {
		snprintf(n->proc, sizeof(n->proc), "/dev/null/switch_phy");
	} else if (!sim_path(n->proc, sizeof(n->proc), "switch_phy.XXXXXX")) {
		return fail_with(ENAMETOOLONG);
	} else {
		int lock = sim_lock();
		if (lock < 0)
			return fail_with(EIO);
		fd = mkostemp(n->proc, O_CLOEXEC);
		err = fd < 0 ? errno : flock(fd, LOCK_EX) != 0 ? errno : 0;
		sim_unlock(lock);
	}
	const char *const to[] = { n->quoted, n->ethreg };
	if (err)
		sim_say(n->proc, strerror(err));
	else if (!quote(n->quoted, sizeof(n->quoted), n->proc) ||
		 !ethreg_command(n->ethreg, sizeof(n->ethreg)) ||
		 !map_command(n->mapped, sizeof(n->mapped), command, to))
		err = E2BIG;
	if (err && fd >= 0)
		unlink(n->proc);
	int status = err ? fail_with(err) : run_shell(n->mapped);
	int saved = errno, lock = -1;
	if (!err && fd >= 0 && (lock = sim_lock()) >= 0) {
		apply_cycle(fd, n->proc);
		sim_unlock(lock);
	}
	if (fd >= 0)
		sim_close(fd);
	errno = saved;
	return status;
}

extern "C" int system(const char *command)
{
	sim_log("system %s", command ? command : "(null)");
	if (faults.system_signal)
		return faults.system_signal; /* the wait status of a shell killed by it */
	if (faults.system_errno)
		return fail_with(faults.system_errno);
	if (!command)
		return 1; /* there is a shell */
	struct shell_names *n = static_cast<struct shell_names *>(malloc(sizeof(*n)));
	int status = n ? shell_with_driver(command, n) : fail_with(ENOMEM);
	int saved = errno;
	free(n);
	errno = saved;
	return status;
}

/* Before the program runs: a malformed fault or an unsafe state directory
 * must not let it go ahead. */
__attribute__((constructor)) static void switchsim_init(void)
{
	if (!sim_faults(&faults) || !sim_dir())
		_exit(2);
	/* A child forked while another thread held it has only this thread. */
	pthread_atfork(NULL, NULL, [] {
		pthread_mutex_init(&interrupts_lock, NULL);
		interrupts_users = 0;
	});
	clear_leftovers();
}
