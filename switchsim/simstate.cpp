// SPDX-License-Identifier: BSD-2-Clause
#include "simstate.h"

#include <limits.h>
#include <pthread.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

bool sim_say(const char *what, const char *why)
{
	fprintf(stderr, "switchsim: %s: %s\n", what, why);
	return false;
}

static bool say_in(const char *dir, const char *name, const char *why)
{
	fprintf(stderr, "switchsim: %s/%s: %s\n", dir, name, why);
	return false;
}

bool sim_fail(const char *name, const char *why)
{
	return say_in(sim_dir(), name, why);
}

static bool owned_by(const char *path, uid_t uid, bool or_root)
{
	char why[64];
	if (uid == geteuid() || (or_root && uid == 0))
		return true;
	snprintf(why, sizeof(why), "owned by uid %lu, not by you", (unsigned long)uid);
	return sim_say(path, why);
}

/* A step on the way to the state directory, or it (last): others must not
 * swap what lies below, so each is root's or ours, and writable by no one
 * else unless sticky, as /tmp is. A link's target is checked resolved. */
static bool safe_step(const char *path, bool last)
{
	struct stat sb;
	if (lstat(path, &sb) != 0)
		return sim_say(path, strerror(errno));
	if (!owned_by(path, sb.st_uid, !last))
		return false;
	if (S_ISLNK(sb.st_mode))
		return !last || sim_say(path, "a symbolic link");
	if (!S_ISDIR(sb.st_mode))
		return sim_say(path, "not a directory");
	if ((sb.st_mode & (S_IWGRP | S_IWOTH)) && (last || !(sb.st_mode & S_ISVTX)))
		return sim_say(path, "writable by others than its owner");
	return true;
}

/* Every step of an absolute path, from the root down. */
static bool safe_path(char *path, bool last)
{
	for (char *p = path + 1;; p++) {
		if (*p != '/' && *p != '\0')
			continue;
		char c = *p;
		*p = '\0';
		bool end = c == '\0' || p[1] == '\0';
		bool ok = safe_step(path, last && end);
		*p = c;
		if (!ok || end)
			return ok;
	}
}

sim_kind sim_kind_of(const char *name)
{
	static const char *const names[] = { "state", "log", "log.old", "switch_phy", "lock" };
	for (const char *n : names)
		if (strcmp(name, n) == 0)
			return SIM_OWN;
	size_t n = strlen(name);
	if (n == sizeof("state.XXXXXX") - 1 && strncmp(name, "state.", 6) == 0)
		return SIM_STATE_TEMP;
	if (n == sizeof("switch_phy.XXXXXX") - 1 && strncmp(name, "switch_phy.", 11) == 0)
		return SIM_PHY_TEMP;
	return SIM_FOREIGN;
}

static bool in_debugfs(const char *dir)
{
	struct statfs fs;
	return statfs(dir, &fs) == 0 && (unsigned long)fs.f_type == DEBUGFS_MAGIC;
}

static bool leftovers;

bool sim_leftovers(void)
{
	return sim_dir() && leftovers;
}

/* The directory path, made safe to use, resolved into out: created only
 * under a checked parent, never through a link; with contents, holding
 * nothing but our files. */
static bool own_dir(const char *path, char *out, size_t size, bool contents)
{
	char parent[SIM_PATH], real[PATH_MAX];
	const char *slash = strrchr(path, '/');
	size_t plen = slash == path ? 1 : (size_t)(slash - path);
	if (plen >= sizeof(parent) || !slash[1])
		return sim_say(path, "not a directory name");
	memcpy(parent, path, plen);
	parent[plen] = '\0';
	if (!safe_path(parent, false))
		return false;
	if (!realpath(parent, real))
		return sim_say(parent, strerror(errno));
	if (!safe_path(real, false))
		return false;
	int n = snprintf(out, size, "%s/%s", strcmp(real, "/") ? real : "", slash + 1);
	if (n < 0 || (size_t)n >= size)
		return sim_say(path, "name too long");
	if (mkdir(out, 0700) != 0 && errno != EEXIST)
		return sim_say(out, strerror(errno));
	/* Named through a link of our own: use its target, never create one. */
	struct stat sb;
	if (lstat(out, &sb) == 0 && S_ISLNK(sb.st_mode) && !owned_by(out, sb.st_uid, false))
		return false;
	if (!realpath(out, real))
		return sim_say(out, strerror(errno));
	if (strlen(real) >= size)
		return sim_say(real, "name too long");
	memcpy(out, real, strlen(real) + 1);
	if (!safe_path(out, true))
		return false;
	if (!contents || in_debugfs(out))
		return true;
	return sim_scan(out, [out](int, const char *name, sim_kind kind, const struct stat &st) {
		if (kind == SIM_FOREIGN)
			return say_in(out, name, "not the simulated switch's: "
					     "give it an empty directory of its own");
		if (!S_ISREG(st.st_mode))
			return say_in(out, name, "not a regular file");
		leftovers = leftovers || kind != SIM_OWN;
		return true;
	});
}

static bool find_dir(char *dir, size_t size)
{
	const char *env = getenv("SWITCHSIM_DIR");
	const char *xdg = getenv("XDG_RUNTIME_DIR");
	const char *home = getenv("HOME");
	char want[SIM_PATH], cache[SIM_PATH];
	int n;
	if (env && *env == '/') {
		n = snprintf(want, sizeof(want), "%s", env);
	} else if (env && *env) {
		/* Made absolute: commands that change directory share it too. */
		char cwd[SIM_PATH];
		if (!getcwd(cwd, sizeof(cwd)))
			return sim_say("current directory", strerror(errno));
		n = snprintf(want, sizeof(want), "%s/%s", cwd, env);
	} else if (xdg && *xdg == '/') {
		n = snprintf(want, sizeof(want), "%s/switchsim", xdg);
	} else {
		if (!home || *home != '/') {
			const struct passwd *pw = getpwuid(geteuid());
			home = pw ? pw->pw_dir : NULL;
		}
		if (!home || *home != '/')
			return sim_say("~/.cache/switchsim", "no home directory");
		n = snprintf(want, sizeof(want), "%s/.cache", home);
		if (n < 0 || (size_t)n >= sizeof(want))
			return sim_say("~/.cache/switchsim", "name too long");
		if (!own_dir(want, cache, sizeof(cache), false))
			return false;
		n = snprintf(want, sizeof(want), "%s/switchsim", cache);
	}
	if (n < 0 || (size_t)n >= sizeof(want))
		return sim_say("state directory", "name too long");
	/* Trailing slashes name the same directory. */
	for (size_t len = strlen(want); len > 1 && want[len - 1] == '/'; len--)
		want[len - 1] = '\0';
	return own_dir(want, dir, size, true);
}

static char state_dir[SIM_PATH - 64];
static bool state_dir_ok;
static pthread_once_t state_dir_once = PTHREAD_ONCE_INIT;

const char *sim_dir(void)
{
	pthread_once(&state_dir_once,
		     [] { state_dir_ok = find_dir(state_dir, sizeof(state_dir)); });
	return state_dir_ok ? state_dir : NULL;
}

bool sim_path(char *buf, size_t size, const char *name)
{
	const char *dir = sim_dir();
	if (!dir)
		return false;
	int n = snprintf(buf, size, "%s/%s", dir, name);
	return n > 0 && (size_t)n < size;
}

void sim_close(int fd)
{
	syscall(SYS_close, fd);
}

int sim_open(const char *name, int flags)
{
	char path[SIM_PATH];
	if (!sim_path(path, sizeof(path), name)) {
		errno = ENAMETOOLONG;
		return -1;
	}
	/* Non-blocking, so a FIFO can't hold the run; it is refused below. */
	int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
	int err = fd < 0 ? errno : EINVAL;
	struct stat sb;
	if (fd >= 0 && fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode))
		return fd;
	if (fd >= 0)
		sim_close(fd);
	if (err == ENOENT && !(flags & O_CREAT))
		return -1;
	sim_say(path, fd >= 0 ? "not a regular file"
			      : err == ELOOP ? "a symbolic link" : strerror(err));
	errno = err == ENOENT ? EIO : err;
	return -1;
}

static bool write_all(int fd, const char *p, size_t n)
{
	while (n > 0) {
		ssize_t w = write(fd, p, n);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0)
			return false;
		p += w;
		n -= (size_t)w;
	}
	return true;
}

bool sim_apply(const char *line)
{
	const char *dir = sim_dir();
	if (!dir)
		return false;
	if (!in_debugfs(dir))
		return sim_update([line](struct swm_state *st) {
			struct swm_clock clk = sim_clock();
			struct swm_error err;
			return swm_apply(st, line, strlen(line), &clk, &err) == 0 ||
			       sim_say(line, err.why);
		});
	int fd = sim_open("state", O_WRONLY | O_APPEND);
	if (fd < 0)
		return false;
	bool ok = (write_all(fd, line, strlen(line)) && write_all(fd, "\n", 1)) ||
		  sim_fail("state", strerror(errno));
	sim_close(fd);
	return ok;
}

int sim_read(int fd, char **buf, size_t *len, size_t max)
{
	enum { STEP = 1 << 16 };
	while (*len <= max) {
		char *more = static_cast<char *>(realloc(*buf, *len + STEP));
		if (!more)
			return ENOMEM;
		*buf = more;
		ssize_t n = read(fd, *buf + *len, STEP);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return n < 0 ? errno : 0;
		*len += (size_t)n;
	}
	return 0;
}

bool sim_load(struct swm_state *st)
{
	int fd = sim_open("state", O_RDONLY);
	if (fd < 0) {
		if (errno != ENOENT)
			return false;
		swm_default(st);
		return true;
	}
	/* Read on past the limit, so that the model can tell a file of
	 * exactly the limit from a larger one. */
	char *text = NULL;
	size_t len = 0;
	int err = sim_read(fd, &text, &len, SWM_STATE_MAX);
	sim_close(fd);
	struct swm_clock clk = sim_clock();
	struct swm_error bad = { 0, "" };
	swm_default(st);
	bool ok = !err && swm_apply(st, text, len, &clk, &bad) == 0;
	char at[32];
	snprintf(at, sizeof(at), bad.line ? "state:%u" : "state", bad.line);
	free(text);
	return ok || sim_fail(at, err ? strerror(err) : bad.why);
}

bool sim_save(const struct swm_state *st)
{
	char path[SIM_PATH], tmp[SIM_PATH];
	if (!sim_path(path, sizeof(path), "state") || !sim_path(tmp, sizeof(tmp), "state.XXXXXX"))
		return false;
	char text[SWM_TEXT_MAX];
	struct swm_clock clk = sim_clock();
	int len = swm_print(st, &clk, text, sizeof(text));
	if (len < 0)
		return sim_fail("state", strerror(-len));
	int fd = mkostemp(tmp, O_CLOEXEC);
	if (fd < 0)
		return sim_say(tmp, strerror(errno));
	bool ok = write_all(fd, text, (size_t)len) && fsync(fd) == 0 && rename(tmp, path) == 0;
	int err = errno;
	sim_close(fd);
	if (!ok)
		unlink(tmp);
	return ok || sim_fail("state", strerror(err));
}

/* The state and the log each have a flock(), against other runs, and a
 * mutex, against other threads. A child forked while a lock is held would
 * keep the flock with the descriptor, so fork() waits for both mutexes. */
static pthread_mutex_t state_mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_mutex_t log_mutex = PTHREAD_MUTEX_INITIALIZER;

static void after_fork(void)
{
	pthread_mutex_unlock(&log_mutex);
	pthread_mutex_unlock(&state_mutex);
}

static const int atfork = pthread_atfork([] {
	pthread_mutex_lock(&state_mutex);
	pthread_mutex_lock(&log_mutex);
}, after_fork, after_fork);

static bool flock_wait(int fd, int op)
{
	while (flock(fd, op) != 0)
		if (errno != EINTR)
			return false;
	return true;
}

/* name opened and flock()ed, with mutex held; -1 after a message. */
static int lock_file(pthread_mutex_t *mutex, const char *name, int flags, int op)
{
	pthread_mutex_lock(mutex);
	int fd = sim_open(name, flags);
	if (fd >= 0 && !flock_wait(fd, op)) {
		sim_fail(name, strerror(errno));
		sim_close(fd);
		fd = -1;
	}
	if (fd < 0)
		pthread_mutex_unlock(mutex);
	return fd;
}

int sim_lock(void)
{
	return lock_file(&state_mutex, "lock", O_RDWR | O_CREAT, LOCK_EX);
}

void sim_unlock(int fd)
{
	sim_close(fd);
	pthread_mutex_unlock(&state_mutex);
}

void sim_log_close(int fd)
{
	sim_close(fd);
	pthread_mutex_unlock(&log_mutex);
}

/* Held with log_mutex: a thread's stack may be as small as PTHREAD_STACK_MIN. */
static char log_line[4096], log_path[SIM_PATH], log_old[SIM_PATH];

/* The log, locked: the file that has the name once the lock is held, as a
 * writer may have just moved it aside. -1 after a message. */
static int log_lock(int op, struct stat *held)
{
	int flags = op == LOCK_EX ? O_WRONLY | O_APPEND | O_CREAT : O_RDONLY | O_CREAT;
	for (int tries = 0; tries < 100; tries++) {
		int fd = lock_file(&log_mutex, "log", flags, op);
		struct stat named;
		if (fd < 0)
			return -1;
		if (fstat(fd, held) == 0 && sim_path(log_path, sizeof(log_path), "log") &&
		    lstat(log_path, &named) == 0 && named.st_ino == held->st_ino &&
		    named.st_dev == held->st_dev)
			return fd;
		sim_log_close(fd);
	}
	sim_fail("log", "moved aside each time it was locked");
	return -1;
}

void sim_log(const char *fmt, ...)
{
	struct stat sb;
	int fd = log_lock(LOCK_EX, &sb);
	if (fd < 0)
		_exit(2);
	va_list ap;
	va_start(ap, fmt);
	log_line[0] = '\0';
	vsnprintf(log_line, sizeof(log_line) - 1, fmt, ap);
	va_end(ap);
	size_t n = strlen(log_line);
	log_line[n++] = '\n';
	const char *why = NULL;
	if (!write_all(fd, log_line, n)) {
		/* A line goes in whole or not at all: a full disk must not
		 * leave half of it for the next line to be appended to. */
		why = strerror(errno);
		if (ftruncate(fd, sb.st_size) != 0)
			why = "cannot take back a part-written line";
	} else if ((size_t)sb.st_size + n >= SIM_LOG_MAX &&
		   sim_path(log_old, sizeof(log_old), "log.old") && rename(log_path, log_old) != 0) {
		fprintf(stderr, "switchsim: %s: cannot move it to %s: %s\n", log_path, log_old,
			strerror(errno));
	}
	sim_log_close(fd);
	if (why) {
		sim_fail("log", why);
		_exit(2);
	}
}

int sim_log_open(void)
{
	struct stat sb;
	return log_lock(LOCK_SH, &sb);
}

static char boot_id[SWM_BOOT_LEN + 1];
static pthread_once_t boot_id_once = PTHREAD_ONCE_INIT;

static void read_boot_id(void)
{
	/* Without one, every boot looks the same: a hold may outlive one. */
	strcpy(boot_id, "00000000-0000-0000-0000-000000000000");
	char buf[SWM_BOOT_LEN + 2];
	int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
	ssize_t n = fd < 0 ? -1 : read(fd, buf, sizeof(buf));
	sim_close(fd);
	if (n == SWM_BOOT_LEN + 1 && buf[SWM_BOOT_LEN] == '\n')
		memcpy(boot_id, buf, SWM_BOOT_LEN);
}

struct swm_clock sim_clock(void)
{
	/* A link cycle is timed as a driver times it: not by the wall clock,
	 * which jumps when a router without a battery first syncs its time. */
	struct timespec ts;
	clock_gettime(CLOCK_BOOTTIME, &ts);
	pthread_once(&boot_id_once, read_boot_id);
	return { (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000, boot_id };
}

/* errno by name ("EIO") or number; -1 if neither. */
static int errno_of(const char *s, size_t len)
{
	uint32_t v;
	if (swm_u32(s, len, &v) == 0)
		return v > 0 && v < 4096 ? (int)v : -1;
	for (int e = 1; e < 4096; e++) {
		const char *name = strerrorname_np(e);
		if (name && strlen(name) == len && strncmp(s, name, len) == 0)
			return e;
	}
	return -1;
}

bool sim_faults(struct sim_faults *f)
{
	static const char *const vars[] = { "SOCKET", "IOCTL", "SYSTEM", "PROC", "ETHREG" };
	static const char *const takes[] = {
		"takes an errno name or number",
		"takes CODE:ERR, CODE 0x8948, 0x89fe or 0x89ff, ERR an errno name or number",
		"takes an errno name or number, or signal:N, N a signal number, 1 to 64",
		"takes 1 (fail) or 0", "takes missing or an exit code, 1 to 255",
	};
	memset(f, 0, sizeof(*f));
	for (int i = 0; i < 5; i++) {
		char var[32];
		snprintf(var, sizeof(var), "SWITCHSIM_FAIL_%s", vars[i]);
		const char *v = getenv(var), *colon = v ? strchr(v, ':') : NULL;
		size_t len = v ? strlen(v) : 0;
		uint32_t n = 0;
		bool ok;
		if (len == 0)
			continue;
		if (i == 0) {
			f->socket = v;
			ok = (f->socket_errno = errno_of(v, len)) > 0;
		} else if (i == 1) {
			ok = colon && swm_u32(v, (size_t)(colon - v), &f->ioctl_code) == 0 &&
			     swm_request_size(f->ioctl_code) &&
			     (f->ioctl_errno = errno_of(colon + 1, strlen(colon + 1))) > 0;
		} else if (i == 2 && strncmp(v, "signal:", 7) == 0) {
			/* The signals every Linux has; a wait status holds seven bits. */
			ok = swm_u32(v + 7, len - 7, &n) == 0 && n >= 1 && n <= 64;
			f->system_signal = (int)n;
		} else if (i == 2) {
			ok = (f->system_errno = errno_of(v, len)) > 0;
		} else if (i == 3) {
			f->proc = strcmp(v, "1") == 0;
			ok = f->proc || strcmp(v, "0") == 0;
		} else {
			f->ethreg_missing = strcmp(v, "missing") == 0;
			ok = f->ethreg_missing || (swm_u32(v, len, &n) == 0 && n >= 1 && n <= 255);
			f->ethreg_exit = (int)n;
		}
		if (!ok) {
			fprintf(stderr, "switchsim: %s=%s: %s\n", var, v, takes[i]);
			return false;
		}
	}
	return true;
}
