/*
 * State and log files of the simulated switch. Only stdio touches the files:
 * the preloaded library takes over close(), and stdio's own closes never
 * reach it, so the sim's files can't be mistaken for the tool's sockets.
 */
#include "simstate.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

const char *const sim_port_name[SIM_PORTS] = { "lan0", "lan1", "lan2", "lan3", "wan" };
const char *const sim_link_words[2] = { "down", "up" };
const char *const sim_duplex_words[2] = { "half", "full" };
const char *const sim_led_words[3] = { "off", "green", "amber" };
const char *const sim_header_words[2] = { "off", "on" };

const char *sim_dir(void)
{
	static char dir[512];
	if (dir[0])
		return dir;
	const char *env = getenv("SWITCHSIM_DIR");
	int n = env && *env ? snprintf(dir, sizeof(dir), "%s", env)
			    : snprintf(dir, sizeof(dir), "/tmp/switchsim-%u", (unsigned)getuid());
	if (n < 0 || (size_t)n >= sizeof(dir) - 32) {
		fprintf(stderr, "switchsim: state directory name too long\n");
		dir[0] = '\0';
		return NULL;
	}
	if (mkdir(dir, 0700) != 0 && errno != EEXIST) {
		fprintf(stderr, "switchsim: %s: %s\n", dir, strerror(errno));
		dir[0] = '\0';
		return NULL;
	}
	return dir;
}

bool sim_path(char *buf, size_t size, const char *name)
{
	const char *dir = sim_dir();
	if (!dir)
		return false;
	int n = snprintf(buf, size, "%s/%s", dir, name);
	return n > 0 && (size_t)n < size;
}

bool sim_in_kernel(void)
{
	struct statfs fs;
	const char *dir = sim_dir();
	return dir && statfs(dir, &fs) == 0 && (unsigned long)fs.f_type == DEBUGFS_MAGIC;
}

bool sim_kernel_apply(const char *lines)
{
	char path[600];
	if (!sim_path(path, sizeof(path), "state"))
		return false;
	int fd = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
	size_t len = strlen(lines);
	bool ok = fd >= 0 && write(fd, lines, len) == (ssize_t)len;
	if (!ok)
		fprintf(stderr, "switchsim: %s: %s\n", path, strerror(errno));
	if (fd >= 0)
		close(fd);
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
	if (!s || !*s || *s == '-' || *s == '+')
		return false;
	char *end;
	errno = 0;
	unsigned long long v = strtoull(s, &end, 0);
	if (errno || *end || v > 0xffffffffULL)
		return false;
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

bool sim_parse(struct sim_state *st, char *text, int *bad_line, const char **why)
{
	sim_default(st);
	int lineno = 0;
	/* Walk by hand: strtok would skip empty lines and lose the count. */
	for (char *line = text; line && *line;) {
		char *nl = strchr(line, '\n');
		if (nl)
			*nl = '\0';
		lineno++;
		if (!parse_line(st, line, why)) {
			*bad_line = lineno;
			return false;
		}
		line = nl ? nl + 1 : NULL;
	}
	return true;
}

bool sim_load(struct sim_state *st)
{
	char path[600];
	if (!sim_path(path, sizeof(path), "state"))
		return false;
	FILE *f = fopen(path, "re");
	if (!f) {
		if (errno == ENOENT) {
			sim_default(st);
			return true;
		}
		fprintf(stderr, "switchsim: %s: %s\n", path, strerror(errno));
		return false;
	}
	char text[4096];
	size_t n = fread(text, 1, sizeof(text) - 1, f);
	bool too_big = n == sizeof(text) - 1;
	bool err = ferror(f);
	fclose(f);
	if (err || too_big) {
		fprintf(stderr, "switchsim: %s: %s\n", path, err ? "read error" : "too large");
		return false;
	}
	text[n] = '\0';
	int bad = 0;
	const char *why = "";
	if (!sim_parse(st, text, &bad, &why)) {
		fprintf(stderr, "switchsim: %s:%d: %s\n", path, bad, why);
		return false;
	}
	return true;
}

bool sim_save(const struct sim_state *st)
{
	char path[600], tmp[640];
	if (!sim_path(path, sizeof(path), "state"))
		return false;
	snprintf(tmp, sizeof(tmp), "%s.new.%ld", path, (long)getpid());
	char text[4096];
	size_t len = sim_format(st, text, sizeof(text));
	FILE *f = fopen(tmp, "we");
	if (!f) {
		fprintf(stderr, "switchsim: %s: %s\n", tmp, strerror(errno));
		return false;
	}
	bool ok = fwrite(text, 1, len, f) == len;
	ok = fflush(f) == 0 && ok;
	ok = fsync(fileno(f)) == 0 && ok;
	ok = fclose(f) == 0 && ok;
	if (!ok || rename(tmp, path) != 0) {
		fprintf(stderr, "switchsim: cannot write %s: %s\n", path, strerror(errno));
		unlink(tmp);
		return false;
	}
	return true;
}

void sim_log(const char *fmt, ...)
{
	char path[600];
	char line[4096];
	if (!sim_path(path, sizeof(path), "log"))
		return;
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(line, sizeof(line) - 1, fmt, ap);
	va_end(ap);
	if (n < 0)
		return;
	if ((size_t)n > sizeof(line) - 2)
		n = sizeof(line) - 2;
	line[n++] = '\n';
	FILE *f = fopen(path, "ae");
	if (!f) {
		fprintf(stderr, "switchsim: %s: %s\n", path, strerror(errno));
		return;
	}
	setvbuf(f, NULL, _IOFBF, sizeof(line));
	fwrite(line, 1, (size_t)n, f);
	if (fclose(f) != 0)
		fprintf(stderr, "switchsim: %s: %s\n", path, strerror(errno));
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
	static const struct {
		const char *name;
		int value;
	} names[] = {
		{ "EPERM", EPERM },   { "ENOENT", ENOENT }, { "EIO", EIO },
		{ "ENXIO", ENXIO },   { "EBADF", EBADF },   { "EAGAIN", EAGAIN },
		{ "ENOMEM", ENOMEM }, { "EACCES", EACCES }, { "EFAULT", EFAULT },
		{ "EBUSY", EBUSY },   { "ENODEV", ENODEV }, { "EINVAL", EINVAL },
		{ "ENFILE", ENFILE }, { "EMFILE", EMFILE }, { "ENOTTY", ENOTTY },
		{ "ENOSYS", ENOSYS }, { "ENOBUFS", ENOBUFS }, { "EOPNOTSUPP", EOPNOTSUPP },
		{ "EAFNOSUPPORT", EAFNOSUPPORT }, { "ECHILD", ECHILD },
	};
	for (const auto &e : names)
		if (strcmp(s, e.name) == 0)
			return e.value;
	uint32_t v;
	return sim_parse_u32(s, &v) && v > 0 && v < 4096 ? (int)v : -1;
}
