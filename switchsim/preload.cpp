/*
 * libswitchsim.so: stands in for the switch driver behind "phy0" when
 * preloaded into a program (LD_PRELOAD).
 *
 * - socket(), close(): passed on to the system, and logged, so every
 *   socket can be seen closed exactly once.
 * - ioctl() on "phy0" with 0x8948 (port status), 0x89FF (WAN LED) and
 *   0x89FE (Atheros header): answered from the state files and logged with
 *   the exact bytes of the request block and of the data at ifr_data.
 *   Anything else goes on to the system, so the kernel answers.
 * - system(): logged, then run by the real shell with "/proc/switch_phy"
 *   and "/sbin/ethreg" mapped to stand-ins; a five-digit link cycle written
 *   to the driver file is applied: mask bit i (digit 5-i) holds LAN i down.
 *
 * Fault injection, from the environment:
 *   SWITCHSIM_FAIL_SOCKET=ERR      socket() fails with errno ERR (EMFILE or 24)
 *   SWITCHSIM_FAIL_IOCTL=CODE:ERR  request CODE on phy0 fails with errno ERR
 *   SWITCHSIM_FAIL_SYSTEM=ERR      system() fails with errno ERR
 *   SWITCHSIM_FAIL_SYSTEM=signal:N the shell is reported killed by signal N
 *   SWITCHSIM_FAIL_PROC=1          the driver file can't be written
 *   SWITCHSIM_FAIL_ETHREG=missing  there is no register tool
 *   SWITCHSIM_FAIL_ETHREG=N        the register tool exits with code N
 * SWITCHSIM_ETHREG is the command that stands in for /sbin/ethreg
 * (default: the ethreg beside this library).
 */
#include "simstate.h"

#include <dlfcn.h>
#include <errno.h>
#include <net/if.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

enum { REQ_STATUS = 0x8948, REQ_HEADER = 0x89FE, REQ_LED = 0x89FF, STATUS_SIZE = 80 };

template <typename F> static F real(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

/* Sockets by state: open now, or closed already (a second close is logged too). */
enum { OPEN = 1, CLOSED = 2 };
static unsigned char sock_state[1024];

static bool tracked(int fd, int state)
{
	return fd >= 0 && fd < (int)sizeof(sock_state) && sock_state[fd] == state;
}

static void hex(char *out, const unsigned char *p, size_t n)
{
	for (size_t i = 0; i < n; i++)
		snprintf(out + 2 * i, 3, "%02x", p[i]);
	out[2 * n] = '\0';
}

extern "C" int socket(int domain, int type, int protocol) noexcept
{
	const char *fail = getenv("SWITCHSIM_FAIL_SOCKET");
	if (fail && *fail) {
		int err = sim_errno(fail);
		sim_log("socket -1 %s", fail);
		errno = err > 0 ? err : EMFILE;
		return -1;
	}
	int fd = real<int (*)(int, int, int)>("socket")(domain, type, protocol);
	if (fd >= 0 && fd < (int)sizeof(sock_state))
		sock_state[fd] = OPEN;
	sim_log("socket %d", fd);
	return fd;
}

extern "C" int close(int fd)
{
	if (tracked(fd, OPEN) || tracked(fd, CLOSED)) {
		sim_log("close %d", fd);
		sock_state[fd] = CLOSED;
	}
	return real<int (*)(int)>("close")(fd);
}

/* The errno that SWITCHSIM_FAIL_IOCTL asks of this request code, or 0. */
static int injected_ioctl_error(unsigned long request)
{
	const char *fail = getenv("SWITCHSIM_FAIL_IOCTL");
	const char *colon = fail ? strchr(fail, ':') : NULL;
	if (!colon)
		return 0;
	char *end;
	unsigned long code = strtoul(fail, &end, 0);
	if (end != colon || code != request)
		return 0;
	int err = sim_errno(colon + 1);
	return err > 0 ? err : EIO;
}

static int driver(unsigned long request, unsigned char *data)
{
	struct sim_state st;
	if (!sim_load(&st))
		return EIO;
	if (request == REQ_STATUS) {
		uint32_t rec[STATUS_SIZE / 4];
		memcpy(rec, data, sizeof(rec));
		for (int i = 0; i < SIM_PORTS; i++) {
			struct sim_port p = sim_port_now(&st, i);
			rec[5 + i] = p.link;
			rec[10 + i] = p.speed;
			rec[15 + i] = p.duplex;
		}
		memcpy(data, rec, sizeof(rec));
		return 0;
	}
	uint16_t v;
	memcpy(&v, data, sizeof(v));
	if (request == REQ_LED && v <= 2)
		st.led = v;
	else if (request == REQ_HEADER && v <= 1)
		st.header = v;
	else
		return EINVAL;
	return sim_save(&st) ? 0 : EIO;
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
	va_list ap;
	va_start(ap, request);
	void *arg = va_arg(ap, void *);
	va_end(ap);

	auto pass_on = real<int (*)(int, unsigned long, void *)>("ioctl");
	struct ifreq *ifr = static_cast<struct ifreq *>(arg);
	if (!tracked(fd, OPEN) || !ifr)
		return pass_on(fd, request, arg);

	/* The pointer's bytes are the only ones that differ from run to run. */
	unsigned char block[sizeof(*ifr)];
	char block_hex[2 * sizeof(block) + 1];
	memcpy(block, ifr, sizeof(block));
	hex(block_hex, block, sizeof(block));
	memset(block_hex + 2 * offsetof(struct ifreq, ifr_data), '*', 2 * sizeof(void *));

	size_t size = request == REQ_STATUS ? STATUS_SIZE
		      : request == REQ_LED || request == REQ_HEADER ? 2 : 0;
	if (size == 0 || strncmp(ifr->ifr_name, "phy0", IFNAMSIZ) != 0) {
		sim_log("ioctl %d 0x%04lx block=%s passed-on", fd, request, block_hex);
		return pass_on(fd, request, arg);
	}
	unsigned char *data = reinterpret_cast<unsigned char *>(ifr->ifr_data);
	char data_hex[2 * STATUS_SIZE + 1];
	hex(data_hex, data, size);
	sim_log("ioctl %d 0x%04lx block=%s data=%s", fd, request, block_hex, data_hex);

	int err = injected_ioctl_error(request);
	if (!err)
		err = driver(request, data);
	if (err) {
		errno = err;
		return -1;
	}
	return 0;
}

/* Replace every `from` in src with `to`; false if it doesn't fit. */
static bool replace(char *out, size_t size, const char *src, const char *from, const char *to)
{
	size_t len = 0, flen = strlen(from), tlen = strlen(to);
	while (*src) {
		const char *piece = src;
		size_t plen = 1;
		if (strncmp(src, from, flen) == 0) {
			piece = to;
			plen = tlen;
			src += flen;
		} else {
			src++;
		}
		if (len + plen >= size)
			return false;
		memcpy(out + len, piece, plen);
		len += plen;
	}
	out[len] = '\0';
	return true;
}

static void default_ethreg(char *buf, size_t size)
{
	Dl_info info;
	const char *slash;
	if (dladdr(reinterpret_cast<void *>(&default_ethreg), &info) && info.dli_fname &&
	    (slash = strrchr(info.dli_fname, '/')))
		snprintf(buf, size, "%.*s/ethreg", (int)(slash - info.dli_fname), info.dli_fname);
	else
		snprintf(buf, size, "ethreg");
}

/* Apply the five digits the shell wrote to the driver file, and log them. */
static void apply_link_cycle(const char *path)
{
	struct stat sb;
	if (stat(path, &sb) != 0 || !S_ISREG(sb.st_mode))
		return; /* the shell never wrote it */
	FILE *f = fopen(path, "re");
	if (!f)
		return;
	unsigned char buf[64];
	size_t n = fread(buf, 1, sizeof(buf), f);
	fclose(f);
	char text[2 * sizeof(buf) + 1];
	hex(text, buf, n);
	sim_log("switch_phy %s", text);
	if (n != 5)
		return;
	for (size_t i = 0; i < n; i++)
		if (buf[i] < '0' || buf[i] > '9' || (i > 0 && buf[i] > '1'))
			return;
	struct sim_state st;
	if (!sim_load(&st))
		return;
	int64_t until = sim_now_ms() + int64_t{ buf[0] - '0' } * 1000;
	for (int lan = 0; lan < 4; lan++)
		if (buf[4 - lan] == '1')
			st.port[lan].down_until = until;
	sim_save(&st);
}

extern "C" int system(const char *command)
{
	sim_log("system %s", command ? command : "(null)");
	const char *fail = getenv("SWITCHSIM_FAIL_SYSTEM");
	if (fail && *fail) {
		if (strncmp(fail, "signal:", 7) == 0)
			return atoi(fail + 7) & 0x7f;
		int err = sim_errno(fail);
		errno = err > 0 ? err : ECHILD;
		return -1;
	}
	auto real_system = real<int (*)(const char *)>("system");
	if (!command)
		return real_system(command);

	char proc[600], ethreg[600], quoted[620];
	const char *dir = sim_dir();
	if (!dir || !sim_path(proc, sizeof(proc), "switch_phy")) {
		errno = ENAMETOOLONG;
		return -1;
	}
	const char *ethreg_fail = getenv("SWITCHSIM_FAIL_ETHREG");
	const char *ethreg_cmd = getenv("SWITCHSIM_ETHREG");
	if (ethreg_fail && strcmp(ethreg_fail, "missing") == 0)
		snprintf(ethreg, sizeof(ethreg), "'%s/no-such-ethreg'", dir);
	else if (ethreg_cmd && *ethreg_cmd)
		snprintf(ethreg, sizeof(ethreg), "%s", ethreg_cmd);
	else
		default_ethreg(ethreg, sizeof(ethreg));
	snprintf(quoted, sizeof(quoted), "'%s'", proc);

	/* A file that can't be written, even by root: a directory. */
	unlink(proc);
	rmdir(proc);
	if (getenv("SWITCHSIM_FAIL_PROC"))
		mkdir(proc, 0700);

	char step[4096], mapped[4096];
	if (!replace(step, sizeof(step), command, "/proc/switch_phy", quoted) ||
	    !replace(mapped, sizeof(mapped), step, "/sbin/ethreg", ethreg)) {
		errno = E2BIG;
		return -1;
	}

	/* The shell and what it runs are not the tool: keep them off the sim. */
	char preload[1024] = "";
	const char *p = getenv("LD_PRELOAD");
	if (p)
		snprintf(preload, sizeof(preload), "%s", p);
	unsetenv("LD_PRELOAD");
	int status = real_system(mapped);
	int saved = errno;
	if (p)
		setenv("LD_PRELOAD", preload, 1);

	apply_link_cycle(proc);
	errno = saved;
	return status;
}
