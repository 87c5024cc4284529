/*
 * State and log files of the simulated switch. Its descriptors are closed
 * with sim_close(): in the preloaded library, close() is the tool's, which
 * logs the sockets it has seen, and a file of ours may reuse a number the
 * tool has closed.
 */
#include "simstate.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

const char *const sim_port_name[SIM_PORTS] = { "lan0", "lan1", "lan2", "lan3", "wan" };
const char *const sim_link_words[2] = { "down", "up" };
const char *const sim_duplex_words[2] = { "half", "full" };
const char *const sim_led_words[3] = { "off", "green", "amber" };
const char *const sim_header_words[2] = { "off", "on" };

static bool fail(const char *path, const char *why)
{
	fprintf(stderr, "switchsim: %s: %s\n", path, why);
	return false;
}

/*
 * One step on the way to the state directory, or the directory itself
 * (last). Others must not be able to swap what lies below: each step is
 * root's or ours, and writable by no one else unless sticky, as /tmp is.
 * A symbolic link passes on its owner; its target is checked on the
 * resolved path.
 */
static bool safe_step(const char *path, bool last)
{
	struct stat sb;
	char why[64];
	if (lstat(path, &sb) != 0)
		return fail(path, strerror(errno));
	uid_t me = geteuid();
	if (sb.st_uid != me && (last || sb.st_uid != 0)) {
		snprintf(why, sizeof(why), "owned by uid %lu, not by you", (unsigned long)sb.st_uid);
		return fail(path, why);
	}
	if (S_ISLNK(sb.st_mode))
		return true;
	if (!S_ISDIR(sb.st_mode))
		return fail(path, "not a directory");
	if ((sb.st_mode & (S_IWGRP | S_IWOTH)) && (last || !(sb.st_mode & S_ISVTX)))
		return fail(path, "writable by others than its owner");
	return true;
}

/* Every step of an absolute path, from the root down. */
static bool safe_path(char *path)
{
	for (char *p = path + 1;; p++) {
		if (*p != '/' && *p != '\0')
			continue;
		char c = *p;
		*p = '\0';
		bool ok = safe_step(path, c == '\0' || p[1] == '\0');
		*p = c;
		if (!ok || c == '\0' || p[1] == '\0')
			return ok;
	}
}

static bool make_dir(const char *path)
{
	return mkdir(path, 0700) == 0 || errno == EEXIST || fail(path, strerror(errno));
}

/* The directory asked for, absolute, with what is ours to create above it made. */
static bool wanted_dir(char *buf, size_t size)
{
	const char *env = getenv("SWITCHSIM_DIR");
	const char *xdg = getenv("XDG_RUNTIME_DIR");
	const char *home = getenv("HOME");
	char cwd[SIM_PATH];
	int n;
	if (env && *env == '/') {
		n = snprintf(buf, size, "%s", env);
	} else if (env && *env) {
		/* Made absolute: commands that change directory share it too. */
		if (!getcwd(cwd, sizeof(cwd)))
			return fail("current directory", strerror(errno));
		n = snprintf(buf, size, "%s/%s", cwd, env);
	} else if (xdg && *xdg == '/') {
		n = snprintf(buf, size, "%s/switchsim", xdg);
	} else {
		if (!home || *home != '/') {
			const struct passwd *pw = getpwuid(geteuid());
			home = pw ? pw->pw_dir : NULL;
		}
		if (!home || *home != '/')
			return fail("~/.cache/switchsim", "no home directory");
		n = snprintf(buf, size, "%s/.cache/switchsim", home);
		if (n > 0 && (size_t)n < size) {
			*strrchr(buf, '/') = '\0';
			bool made = make_dir(buf);
			buf[strlen(buf)] = '/';
			if (!made)
				return false;
		}
	}
	if (n < 0 || (size_t)n >= size)
		return fail("state directory", "name too long");
	return true;
}

const char *sim_dir(void)
{
	static char dir[SIM_PATH - 64];
	if (dir[0])
		return dir;
	char want[SIM_PATH];
	if (!wanted_dir(want, sizeof(want)) || !make_dir(want) || !safe_path(want))
		return NULL;
	char real[PATH_MAX];
	if (!realpath(want, real)) {
		fail(want, strerror(errno));
		return NULL;
	}
	bool ok = strlen(real) < sizeof(dir) ? safe_path(real) : fail(real, "name too long");
	if (ok)
		memcpy(dir, real, strlen(real) + 1);
	return ok ? dir : NULL;
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
	if (fd < 0) {
		int err = errno;
		if (err == ENOENT && !(flags & O_CREAT))
			return -1;
		fail(path, err == ELOOP ? "a symbolic link" : strerror(err));
		errno = err == ENOENT ? EIO : err;
		return -1;
	}
	struct stat sb;
	if (fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
		fail(path, "not a regular file");
		sim_close(fd);
		errno = EINVAL;
		return -1;
	}
	return fd;
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

bool sim_in_kernel(void)
{
	struct statfs fs;
	const char *dir = sim_dir();
	return dir && statfs(dir, &fs) == 0 && (unsigned long)fs.f_type == DEBUGFS_MAGIC;
}

bool sim_kernel_apply(const char *lines)
{
	int fd = sim_open("state", O_WRONLY | O_APPEND);
	if (fd < 0)
		return false;
	bool ok = write_all(fd, lines, strlen(lines));
	if (!ok)
		fprintf(stderr, "switchsim: %s/state: %s\n", sim_dir(), strerror(errno));
	sim_close(fd);
	return ok;
}

void sim_default(struct sim_state *st)
{
	static const struct sim_port ports[SIM_PORTS] = {
		{ 1, 1000, 1, 0 }, { 1, 100, 1, 0 }, { 0, 0, 0, 0 }, { 0, 0, 0, 0 }, { 1, 1000, 1, 0 },
	};
	memset(st, 0, sizeof(*st));
	memcpy(st->port, ports, sizeof(ports));
	st->led = 1;
}

const char *sim_word(uint32_t v, const char *const *words, uint32_t nwords, char num[12])
{
	if (v < nwords)
		return words[v];
	snprintf(num, 12, "%lu", (unsigned long)v);
	return num;
}

static void put(char *buf, size_t size, size_t *len, const char *fmt, ...)
	__attribute__((format(printf, 4, 5)));
static void put(char *buf, size_t size, size_t *len, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(buf + *len, size - *len, fmt, ap);
	va_end(ap);
	if (n > 0)
		*len += (size_t)n;
	if (*len >= size)
		*len = size - 1;
}

size_t sim_format(const struct sim_state *st, char *buf, size_t size)
{
	size_t len = 0;
	char num[12];
	buf[0] = '\0';
	put(buf, size, &len, "# switchsim state; edit freely, one setting a line.\n"
			     "# port link speed duplex [down-until, ms since the epoch]\n");
	for (int i = 0; i < SIM_PORTS; i++) {
		const struct sim_port *p = &st->port[i];
		put(buf, size, &len, "%s", sim_port_name[i]);
		put(buf, size, &len, " %s", sim_word(p->link, sim_link_words, 2, num));
		put(buf, size, &len, " %lu", (unsigned long)p->speed);
		put(buf, size, &len, " %s", sim_word(p->duplex, sim_duplex_words, 2, num));
		if (p->down_until)
			put(buf, size, &len, " %lld", (long long)p->down_until);
		put(buf, size, &len, "\n");
	}
	put(buf, size, &len, "led");
	put(buf, size, &len, " %s", sim_word(st->led, sim_led_words, 3, num));
	put(buf, size, &len, "\nheader");
	put(buf, size, &len, " %s", sim_word(st->header, sim_header_words, 2, num));
	put(buf, size, &len, "\n");
	for (int i = 0; i < st->nregs; i++)
		put(buf, size, &len, "reg 0x%08lx 0x%08lx\n", (unsigned long)st->reg[i].addr,
		    (unsigned long)st->reg[i].value);
	return len;
}

bool sim_parse_u32(const char *s, uint32_t *out)
{
	if (!s)
		return false;
	uint64_t base = 10, v = 0;
	if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
		base = 16;
		s += 2;
	}
	if (!*s)
		return false;
	for (; *s; s++) {
		uint64_t d = *s >= '0' && *s <= '9'	? (uint64_t)(*s - '0')
			     : *s >= 'a' && *s <= 'f' ? (uint64_t)(*s - 'a' + 10)
			     : *s >= 'A' && *s <= 'F' ? (uint64_t)(*s - 'A' + 10)
						      : 99;
		if (d >= base)
			return false;
		v = v * base + d;
		if (v > 0xffffffffULL)
			return false;
	}
	*out = (uint32_t)v;
	return true;
}

bool sim_parse_word(const char *s, const char *const *words, int nwords, uint32_t *out)
{
	for (int i = 0; i < nwords; i++)
		if (s && strcmp(s, words[i]) == 0) {
			*out = (uint32_t)i;
			return true;
		}
	return sim_parse_u32(s, out);
}

bool sim_set_reg(struct sim_state *st, uint32_t addr, uint32_t value)
{
	for (int i = 0; i < st->nregs; i++)
		if (st->reg[i].addr == addr) {
			st->reg[i].value = value;
			return true;
		}
	if (st->nregs == SIM_REGS)
		return false;
	st->reg[st->nregs].addr = addr;
	st->reg[st->nregs].value = value;
	st->nregs++;
	return true;
}

static bool parse_line(struct sim_state *st, char *line, const char **why)
{
	char *save = NULL;
	char *tok[6];
	int n = 0;
	for (char *t = strtok_r(line, " \t\r", &save); t; t = strtok_r(NULL, " \t\r", &save)) {
		if (t[0] == '#' && n == 0)
			return true;
		if (n == 6) {
			*why = "too many fields";
			return false;
		}
		tok[n++] = t;
	}
	if (n == 0)
		return true;
	for (int i = 0; i < SIM_PORTS; i++) {
		if (strcmp(tok[0], sim_port_name[i]) != 0)
			continue;
		struct sim_port *p = &st->port[i];
		char *end;
		if (n < 4 || n > 5) {
			*why = "a port takes link, speed, duplex and an optional down-until time";
			return false;
		}
		if (!sim_parse_word(tok[1], sim_link_words, 2, &p->link) ||
		    !sim_parse_u32(tok[2], &p->speed) ||
		    !sim_parse_word(tok[3], sim_duplex_words, 2, &p->duplex)) {
			*why = "link is up, down or a number; speed a number; duplex full, half or a number";
			return false;
		}
		p->down_until = 0;
		if (n == 5) {
			errno = 0;
			p->down_until = strtoll(tok[4], &end, 10);
			if (errno || *end || p->down_until < 0) {
				*why = "down-until is a time in ms";
				return false;
			}
		}
		return true;
	}
	if (strcmp(tok[0], "led") == 0 && n == 2 && sim_parse_word(tok[1], sim_led_words, 3, &st->led))
		return true;
	if (strcmp(tok[0], "header") == 0 && n == 2 &&
	    sim_parse_word(tok[1], sim_header_words, 2, &st->header))
		return true;
	uint32_t addr, value;
	if (strcmp(tok[0], "reg") == 0 && n == 3 && sim_parse_u32(tok[1], &addr) &&
	    sim_parse_u32(tok[2], &value)) {
		if (sim_set_reg(st, addr, value))
			return true;
		*why = "too many registers";
		return false;
	}
	*why = "expected lan0..lan3, wan, led, header or reg with its values";
	return false;
}

bool sim_parse(struct sim_state *st, char *text, size_t len, int *bad_line, const char **why)
{
	sim_default(st);
	int lineno = 0;
	for (size_t at = 0; at < len;) {
		char *line = text + at;
		const char *nl = static_cast<const char *>(memchr(line, '\n', len - at));
		size_t n = nl ? (size_t)(nl - line) : len - at;
		lineno++;
		*bad_line = lineno;
		if (memchr(line, '\0', n)) {
			*why = "a NUL byte";
			return false;
		}
		line[n] = '\0';
		if (!parse_line(st, line, why))
			return false;
		at += n + 1;
	}
	return true;
}

bool sim_load(struct sim_state *st)
{
	/* Far beyond what a person writes, yet a bound on what is read. */
	enum { MAX = 1 << 20 };
	char path[SIM_PATH];
	int fd = sim_open("state", O_RDONLY);
	if (fd < 0) {
		if (errno != ENOENT)
			return false;
		sim_default(st);
		return true;
	}
	sim_path(path, sizeof(path), "state");
	char *text = NULL;
	size_t len = 0, cap = 0;
	const char *err = NULL;
	for (;;) {
		if (len + 1 >= cap) {
			char *more = cap >= MAX ? NULL : static_cast<char *>(realloc(text, cap + 4096));
			if (!more) {
				err = cap >= MAX ? "larger than 1 MiB" : strerror(ENOMEM);
				break;
			}
			text = more;
			cap += 4096;
		}
		ssize_t n = read(fd, text + len, cap - len - 1);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			err = strerror(errno);
		if (n <= 0)
			break;
		len += (size_t)n;
	}
	sim_close(fd);
	int bad = 0;
	const char *why = "";
	bool ok = !err && sim_parse(st, text, len, &bad, &why);
	if (err)
		fail(path, err);
	else if (!ok)
		fprintf(stderr, "switchsim: %s:%d: %s\n", path, bad, why);
	free(text);
	return ok;
}

bool sim_save(const struct sim_state *st)
{
	char path[SIM_PATH], tmp[SIM_PATH];
	if (!sim_path(path, sizeof(path), "state") || !sim_path(tmp, sizeof(tmp), "state.XXXXXX"))
		return false;
	char text[4096];
	size_t len = sim_format(st, text, sizeof(text));
	int fd = mkostemp(tmp, O_CLOEXEC);
	if (fd < 0)
		return fail(tmp, strerror(errno));
	bool ok = write_all(fd, text, len) && fsync(fd) == 0;
	int err = errno;
	sim_close(fd);
	if (ok && rename(tmp, path) == 0)
		return true;
	if (ok)
		err = errno;
	unlink(tmp);
	char why[160];
	snprintf(why, sizeof(why), "cannot write: %s", strerror(err));
	return fail(path, why);
}

int sim_lock(void)
{
	int fd = sim_open("lock", O_RDWR | O_CREAT);
	if (fd < 0)
		return -1;
	while (flock(fd, LOCK_EX) != 0)
		if (errno != EINTR) {
			char path[SIM_PATH];
			sim_path(path, sizeof(path), "lock");
			fail(path, strerror(errno));
			sim_close(fd);
			return -1;
		}
	return fd;
}

bool sim_update(bool (*change)(struct sim_state *st, const void *arg), const void *arg)
{
	int fd = sim_lock();
	if (fd < 0)
		return false;
	struct sim_state st;
	bool ok = sim_load(&st) && change(&st, arg) && sim_save(&st);
	sim_close(fd);
	return ok;
}

/*
 * The log file just written to has reached the limit. Whoever takes its
 * lock and still finds it under the name moves it aside, once; lines that
 * others append meanwhile follow it, still in order.
 */
static void rotate(int fd, const struct stat *written)
{
	char log[SIM_PATH], old[SIM_PATH];
	struct stat now;
	if (sim_path(log, sizeof(log), "log") && sim_path(old, sizeof(old), "log.old") &&
	    flock(fd, LOCK_EX) == 0 && lstat(log, &now) == 0 && now.st_ino == written->st_ino &&
	    now.st_dev == written->st_dev && rename(log, old) != 0)
		fail(log, strerror(errno));
}

void sim_log(const char *fmt, ...)
{
	char line[4096];
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(line, sizeof(line) - 1, fmt, ap);
	va_end(ap);
	if (n < 0)
		n = 0;
	if ((size_t)n > sizeof(line) - 2)
		n = sizeof(line) - 2;
	line[n++] = '\n';
	int fd = sim_open("log", O_WRONLY | O_APPEND | O_CREAT);
	if (fd < 0)
		_exit(2);
	/* One write: lines of concurrent runs never mix. */
	bool ok = write(fd, line, (size_t)n) == n;
	int err = errno;
	struct stat sb;
	if (ok && fstat(fd, &sb) == 0 && sb.st_size >= SIM_LOG_MAX)
		rotate(fd, &sb);
	sim_close(fd);
	if (!ok) {
		char path[SIM_PATH];
		sim_path(path, sizeof(path), "log");
		fail(path, err ? strerror(err) : "short write");
		_exit(2);
	}
}

int64_t sim_now_ms(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_REALTIME, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

struct sim_port sim_port_now(const struct sim_state *st, int i)
{
	struct sim_port p = st->port[i];
	if (p.down_until > sim_now_ms()) {
		p.link = 0;
		p.speed = 0;
		p.duplex = 0;
	}
	return p;
}

int sim_errno(const char *s)
{
	uint32_t v;
	if (sim_parse_u32(s, &v))
		return v > 0 && v < 4096 ? (int)v : -1;
	for (int e = 1; e < 4096; e++) {
		const char *name = strerrorname_np(e);
		if (name && strcmp(s, name) == 0)
			return e;
	}
	return -1;
}

static bool bad_fault(const char *name, const char *value, const char *why)
{
	fprintf(stderr, "switchsim: %s=%s: %s\n", name, value, why);
	return false;
}

bool sim_faults(struct sim_faults *f)
{
	memset(f, 0, sizeof(*f));
	const char *v = getenv("SWITCHSIM_FAIL_SOCKET");
	if (v && *v) {
		f->socket = v;
		f->socket_errno = sim_errno(v);
		if (f->socket_errno < 0)
			return bad_fault("SWITCHSIM_FAIL_SOCKET", v, "not an errno name or number");
	}
	v = getenv("SWITCHSIM_FAIL_IOCTL");
	if (v && *v) {
		char code[16];
		const char *colon = strchr(v, ':');
		size_t n = colon ? (size_t)(colon - v) : 0;
		if (n >= sizeof(code))
			n = 0;
		memcpy(code, v, n);
		code[n] = '\0';
		if (!colon || !sim_parse_u32(code, &f->ioctl_code) ||
		    (f->ioctl_code != 0x8948 && f->ioctl_code != 0x89fe && f->ioctl_code != 0x89ff))
			return bad_fault("SWITCHSIM_FAIL_IOCTL", v, "takes CODE:ERR, CODE 0x8948, 0x89fe or 0x89ff");
		f->ioctl_errno = sim_errno(colon + 1);
		if (f->ioctl_errno < 0)
			return bad_fault("SWITCHSIM_FAIL_IOCTL", v, "ERR is not an errno name or number");
	}
	v = getenv("SWITCHSIM_FAIL_SYSTEM");
	if (v && strncmp(v, "signal:", 7) == 0) {
		uint32_t sig;
		/* The signals every Linux has; a wait status holds seven bits. */
		if (!sim_parse_u32(v + 7, &sig) || sig < 1 || sig > 64)
			return bad_fault("SWITCHSIM_FAIL_SYSTEM", v, "signal:N takes a signal number, 1 to 64");
		f->system_signal = (int)sig;
	} else if (v && *v) {
		f->system_errno = sim_errno(v);
		if (f->system_errno < 0)
			return bad_fault("SWITCHSIM_FAIL_SYSTEM", v, "not an errno name or number, nor signal:N");
	}
	v = getenv("SWITCHSIM_FAIL_PROC");
	if (v && *v) {
		if (strcmp(v, "0") != 0 && strcmp(v, "1") != 0)
			return bad_fault("SWITCHSIM_FAIL_PROC", v, "takes 1 (fail) or 0");
		f->proc = *v == '1';
	}
	v = getenv("SWITCHSIM_FAIL_ETHREG");
	if (v && *v) {
		uint32_t code = 0;
		f->ethreg_missing = strcmp(v, "missing") == 0;
		if (!f->ethreg_missing && (!sim_parse_u32(v, &code) || code < 1 || code > 255))
			return bad_fault("SWITCHSIM_FAIL_ETHREG", v, "takes missing or an exit code, 1 to 255");
		f->ethreg_exit = (int)code;
	}
	return true;
}
