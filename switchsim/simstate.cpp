// SPDX-License-Identifier: BSD-2-Clause
#include "simstate.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/sockios.h>
#include <mutex>
#include <net/if.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

char sim_dir_path[1024];
static int dir_fd = -1;
static bool in_debugfs;	/* the driver module's, in debugfs */
/* The files are opened one at a time, each in the place of the last, in a
 * descriptor held from the start: no request costs the program one. */
static int slot = -1;
static std::recursive_mutex mutex;
static uint64_t boot;	/* this boot's first 15 hex digits of its id; 0 unknown */

bool sim_say(const char *what, const char *why)
{
	fprintf(stderr, "switchsim: %s: %s\n", what, why);
	return false;
}

static bool say_file(const char *name, const char *why)
{
	fprintf(stderr, "switchsim: %s/%s: %s\n", sim_dir_path, name, why);
	return false;
}

/* SWITCHSIM_DIR, made absolute for commands that change directory, else
 * $XDG_RUNTIME_DIR/switchsim, else ~/.cache/switchsim. */
static bool find_path(void)
{
	const char *env = getenv("SWITCHSIM_DIR"), *xdg = getenv("XDG_RUNTIME_DIR"), *home = getenv("HOME");
	char cwd[512];
	int n = -1;
	if (env && *env)
		n = snprintf(sim_dir_path, sizeof(sim_dir_path), "%s%s%s", *env == '/' ? "" :
			     getcwd(cwd, sizeof(cwd)) ? cwd : "?", *env == '/' ? "" : "/", env);
	else if (xdg && *xdg == '/')
		n = snprintf(sim_dir_path, sizeof(sim_dir_path), "%s/switchsim", xdg);
	else if (home && *home == '/' && snprintf(sim_dir_path, sizeof(sim_dir_path), "%s/.cache", home) > 0)
		n = (mkdir(sim_dir_path, 0700), snprintf(sim_dir_path, sizeof(sim_dir_path), "%s/.cache/switchsim", home));
	if (n <= 0 || (size_t)n >= sizeof(sim_dir_path) || *sim_dir_path != '/')
		return sim_say("state directory", "no usable name for it (no HOME? too long?)");
	/* A trailing slash would follow a link. */
	while (n > 1 && sim_dir_path[n - 1] == '/')
		sim_dir_path[--n] = '\0';
	return true;
}

/* Whether the directory opened as fd is safe, else false after a message:
 * it must be the user's own, writable by no one else, and hold nothing but
 * the switch's regular files (listed through fd: no descriptor to spare). */
static bool safe(int fd)
{
	struct stat sb;
	struct statfs fs;
	if (fd < 0 || fstat(fd, &sb) != 0)
		return sim_say(sim_dir_path, errno == ELOOP ? "a symbolic link" : strerror(errno));
	if (sb.st_uid != geteuid())
		return sim_say(sim_dir_path, "not owned by you");
	if (sb.st_mode & (S_IWGRP | S_IWOTH))
		return sim_say(sim_dir_path, "writable by others than its owner");
	in_debugfs = fstatfs(fd, &fs) == 0 && (unsigned long)fs.f_type == DEBUGFS_MAGIC;
	alignas(struct dirent64) char buf[4096];
	const char *why = NULL;
	ssize_t n = 0;
	while (!in_debugfs && !why && (n = getdents64(fd, buf, sizeof(buf))) > 0)
		for (ssize_t at = 0; at < n && !why; at += ((struct dirent64 *)(buf + at))->d_reclen) {
			const char *name = ((struct dirent64 *)(buf + at))->d_name;
			if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
				continue;
			if (strcmp(name, "state") != 0 && strcmp(name, "state.new") != 0 &&
			    strcmp(name, "log") != 0)
				why = "not the simulated switch's: give it an empty directory of its own";
			else if (fstatat(fd, name, &sb, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(sb.st_mode))
				why = "not a regular file";
			if (why)
				say_file(name, why);
		}
	return n < 0 ? sim_say(sim_dir_path, strerror(errno)) : !why;
}

/* fd moved out of the low numbers, which the program's own descriptors take. */
static int hold(int fd)
{
	int high = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 256);
	return high < 0 ? fd : (close(fd), high);
}

static void open_dir(void)
{
	if (!find_path())
		return;
	unsigned long long a, b, c;
	FILE *id = fopen("/proc/sys/kernel/random/boot_id", "re");
	if (id && fscanf(id, "%8llx-%4llx-%3llx", &a, &b, &c) == 3)
		boot = a << 28 | b << 12 | c;
	if (id)
		fclose(id);
	mkdir(sim_dir_path, 0700);
	int fd = open(sim_dir_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	slot = fd < 0 ? -1 : hold(fcntl(fd, F_DUPFD_CLOEXEC, 0));
	dir_fd = errno == EMFILE && slot < 0 ? SIM_STARVED : safe(fd) ? hold(fd) : -1;
	if (dir_fd < 0)
		close(fd), close(slot);
}

int sim_dir(void)
{
	[[maybe_unused]] static const bool opened = (open_dir(), true);
	return dir_fd;
}

int sim_open(const char *name, int flags)
{
	if (sim_dir() < 0)
		return -1;
	close(slot);
	int fd = openat(dir_fd, name, flags | O_NOFOLLOW | O_CLOEXEC, 0600), err = errno;
	slot = hold(fd >= 0 ? fd : fcntl(dir_fd, F_DUPFD_CLOEXEC, 0));
	errno = err;
	return fd < 0 ? -1 : slot;
}

bool sim_put(const char *name, int flags, const char *text, size_t len)
{
	std::lock_guard<std::recursive_mutex> held(mutex);
	int fd = sim_open(name, O_WRONLY | flags);
	return (fd >= 0 && write(fd, text, len) == (ssize_t)len) || say_file(name, strerror(errno));
}

/* What swm_apply's error means, for a person. */
static const char *bad_text(int err)
{
	return err == -EFBIG ? "longer than 4096 bytes" : err == -ENOSPC ? "more than 16 registers"
		: "not a setting (switchsim(1) has the state text)";
}

bool sim_load(struct swm_state *st)
{
	std::lock_guard<std::recursive_mutex> held(mutex);
	swm_default(st);
	int fd = sim_open("state", O_RDONLY);
	if (fd < 0)
		return errno == ENOENT || say_file("state", strerror(errno));
	/* One byte more than the model takes, so that it can refuse a longer text. */
	char text[SWM_TEXT_MAX + 1], at[32] = "state";
	size_t len = 0;
	ssize_t n = 1;
	while (len < sizeof(text) && (n = read(fd, text + len, sizeof(text) - len)) > 0)
		len += (size_t)n;
	if (n < 0)
		return say_file("state", strerror(errno));
	unsigned int line;
	int bad = swm_apply(st, text, len, &line);
	/* A hold from another boot, or from none, holds nothing. */
	for (int i = 0; !in_debugfs && st->boot != boot && i < SWM_PORTS; i++)
		st->port[i].until = 0;
	if (line)
		snprintf(at, sizeof(at), "state:%u", line);
	return !bad || say_file(at, bad_text(bad));
}

void sim_lock(void)
{
	mutex.lock();
	while (flock(dir_fd, LOCK_EX) != 0 && errno == EINTR)
		;
}

void sim_unlock(void)
{
	flock(dir_fd, LOCK_UN);
	mutex.unlock();
}

/* To state.new, then renamed over state: a reader gets the old or the new. */
bool sim_save(struct swm_state *st)
{
	char text[SWM_TEXT_MAX];
	st->boot = boot;
	int len = swm_print(st, sim_now(), text, sizeof(text));
	if (len < 0 || !sim_put("state.new", O_CREAT | O_TRUNC, text, (size_t)len))
		return false;
	return renameat(dir_fd, "state.new", dir_fd, "state") == 0 ||
	       say_file("state", strerror(errno));
}

bool sim_apply(const char *line)
{
	/* The module applies each write whole, as a text. */
	if (in_debugfs)
		return sim_put("state", 0, line, strlen(line));
	return sim_update([line](struct swm_state *st) {
		unsigned int at;
		int err = swm_apply(st, line, strlen(line), &at);
		return !err || sim_say(line, bad_text(err));
	});
}

void sim_log(const char *fmt, ...)
{
	char line[SWM_LINE_MAX];
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(line, sizeof(line) - 1, fmt, ap);
	va_end(ap);
	size_t len = n < 0 ? 0 : (size_t)n < sizeof(line) - 2 ? (size_t)n : sizeof(line) - 2;
	line[len++] = '\n';
	if (!sim_put("log", O_APPEND | O_CREAT, line, len))
		_exit(2);
}

uint64_t sim_now(void)
{
	/* A link cycle is timed as a driver times it: not by the wall clock,
	 * which jumps when a router without a battery first sets its time. */
	struct timespec ts;
	clock_gettime(CLOCK_BOOTTIME, &ts);
	return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

bool sim_net_admin(int fd)
{
	/* The kernel's own answer, to the request on "lo", which refuses it
	 * after the check. qemu-user doesn't pass it on: there, root's. */
	struct ifreq lo = {};
	strcpy(lo.ifr_name, "lo");
	return syscall(SYS_ioctl, fd, SIOCGMIIREG, &lo) == 0 ||
	       (errno == ENOSYS ? geteuid() == 0 : errno != EPERM);
}

/* errno by name ("EIO") or number; -1 if neither. */
static int errno_of(const char *s)
{
	uint32_t v;
	if (swm_u32(s, strlen(s), &v) == 0)
		return v > 0 && v < 4096 ? (int)v : -1;
	for (int e = 1; e < 4096; e++)
		if (strerrorname_np(e) && strcmp(s, strerrorname_np(e)) == 0)
			return e;
	return -1;
}

bool sim_faults(struct sim_faults *f)
{
	static const char *const vars[][2] = {
		{ "SWITCHSIM_FAIL_SOCKET", "an errno name or number" },
		{ "SWITCHSIM_FAIL_IOCTL",
		  "CODE:ERR, CODE 0x8948, 0x89fe or 0x89ff, ERR an errno name or number" },
		{ "SWITCHSIM_FAIL_SYSTEM",
		  "an errno name or number, or signal:N, N a signal number, 1 to 64" },
		{ "SWITCHSIM_FAIL_PROC", "1 (fail) or 0" },
		{ "SWITCHSIM_FAIL_ETHREG", "missing or an exit code, 1 to 255" },
	};
	*f = {};
	for (int i = 0; i < 5; i++) {
		const char *var = vars[i][0], *v = getenv(var), *colon = v ? strchr(v, ':') : NULL;
		uint32_t n = 0;
		bool ok = true;
		if (!v || !*v)
			continue;
		if (i == 0)
			ok = (f->socket_errno = errno_of(f->socket = v)) > 0;
		else if (i == 1)
			ok = colon && swm_u32(v, (size_t)(colon - v), &f->ioctl_code) == 0 &&
			     swm_request_size(f->ioctl_code) && (f->ioctl_errno = errno_of(colon + 1)) > 0;
		else if (i == 2 && strncmp(v, "signal:", 7) == 0)
			/* The signals every Linux has; a wait status holds seven bits. */
			ok = swm_u32(v + 7, strlen(v + 7), &n) == 0 && n >= 1 && n <= 64 &&
			     (f->system_signal = (int)n);
		else if (i == 2)
			ok = (f->system_errno = errno_of(v)) > 0;
		else if (i == 3)
			ok = (f->proc = strcmp(v, "1") == 0) || strcmp(v, "0") == 0;
		else
			ok = (f->ethreg_missing = strcmp(v, "missing") == 0) ||
			     (swm_u32(v, strlen(v), &n) == 0 && n >= 1 && n <= 255 &&
			      (f->ethreg_exit = (int)n));
		if (!ok) {
			fprintf(stderr, "switchsim: %s=%s: takes %s\n", var, v, vars[i][1]);
			return false;
		}
	}
	return true;
}
