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
 * - The kernel's own check comes first: 0x8948 is its SIOCGMIIREG, which
 *   it refuses with EPERM to a process without CAP_NET_ADMIN before any
 *   driver sees it, so such a request is neither answered nor logged.
 *
 * Fault injection, from the environment (a malformed value ends the run
 * with status 2 before the program starts):
 *   SWITCHSIM_FAIL_SOCKET=ERR      socket() fails with errno ERR (EMFILE or 24)
 *   SWITCHSIM_FAIL_IOCTL=CODE:ERR  request CODE on phy0 fails with errno ERR
 *   SWITCHSIM_FAIL_SYSTEM=ERR      system() fails with errno ERR
 *   SWITCHSIM_FAIL_SYSTEM=signal:N the shell is reported killed by signal N
 *   SWITCHSIM_FAIL_PROC=1          the driver file can't be written
 *   SWITCHSIM_FAIL_ETHREG=missing  there is no register tool
 *   SWITCHSIM_FAIL_ETHREG=N        the register tool exits with code N
 * SWITCHSIM_ETHREG is the shell command that stands in for /sbin/ethreg
 * (default: the ethreg beside this library).
 */
#include "simstate.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

enum { REQ_STATUS = 0x8948, REQ_HEADER = 0x89FE, REQ_LED = 0x89FF, STATUS_SIZE = 80 };

template <typename F> static F real(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

static struct sim_faults faults;

/* Before the program runs: a malformed fault or an unsafe state directory
 * must not let it go ahead. */
__attribute__((constructor)) static void switchsim_init(void)
{
	if (!sim_faults(&faults) || !sim_dir())
		_exit(2);
}

/* Sockets by descriptor: open now, or closed already (a second close is
 * logged too). */
enum { OPEN = 1, CLOSED = 2 };
static unsigned char *sock_state;
static size_t sock_states;

static bool tracked(int fd, int state)
{
	return fd >= 0 && (size_t)fd < sock_states && sock_state[fd] == state;
}

static void track(int fd, unsigned char state)
{
	if ((size_t)fd >= sock_states) {
		size_t n = ((size_t)fd + 64) & ~(size_t)63;
		unsigned char *more = static_cast<unsigned char *>(realloc(sock_state, n));
		if (!more) {
			/* Untracked, its requests would reach the kernel unseen. */
			fprintf(stderr, "switchsim: socket %d: %s\n", fd, strerror(ENOMEM));
			_exit(2);
		}
		memset(more + sock_states, 0, n - sock_states);
		sock_state = more;
		sock_states = n;
	}
	sock_state[fd] = state;
}

static void hex(char *out, const unsigned char *p, size_t n)
{
	for (size_t i = 0; i < n; i++)
		snprintf(out + 2 * i, 3, "%02x", p[i]);
	out[2 * n] = '\0';
}

extern "C" int socket(int domain, int type, int protocol) noexcept
{
	if (faults.socket) {
		sim_log("socket -1 %s", faults.socket);
		errno = faults.socket_errno;
		return -1;
	}
	int fd = real<int (*)(int, int, int)>("socket")(domain, type, protocol);
	if (fd >= 0)
		track(fd, OPEN);
	sim_log("socket %d", fd);
	return fd;
}

extern "C" int close(int fd)
{
	if (tracked(fd, OPEN) || tracked(fd, CLOSED)) {
		sim_log("close %d", fd);
		track(fd, CLOSED);
	}
	return real<int (*)(int)>("close")(fd);
}

static bool net_admin(void)
{
	struct __user_cap_header_struct head = { _LINUX_CAPABILITY_VERSION_3, 0 };
	struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
	memset(data, 0, sizeof(data));
	return syscall(SYS_capget, &head, data) == 0 &&
	       ((data[CAP_NET_ADMIN / 32].effective >> (CAP_NET_ADMIN % 32)) & 1);
}

/* A 16-bit setting for the model, and what the model said of it. */
struct setting {
	int (*set)(struct swm_state *st, uint16_t v);
	uint16_t v;
	int err;
};

static bool apply_setting(struct swm_state *st, const void *arg)
{
	struct setting *s = static_cast<struct setting *>(const_cast<void *>(arg));
	s->err = s->set(st, s->v);
	return s->err == 0;
}

static int driver(unsigned long request, unsigned char *data)
{
	if (request == REQ_STATUS) {
		struct swm_state st;
		if (!sim_load(&st))
			return EIO;
		uint32_t rec[SWM_STATUS_WORDS];
		memcpy(rec, data, sizeof(rec));
		swm_status(&st, sim_clock().now, rec);
		memcpy(data, rec, sizeof(rec));
		return 0;
	}
	struct setting s = { request == REQ_LED ? swm_set_led : swm_set_header, 0, 0 };
	memcpy(&s.v, data, sizeof(s.v));
	bool ok = sim_update(apply_setting, &s);
	return s.err ? -s.err : ok ? 0 : EIO;
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
	if (request == REQ_STATUS && !net_admin()) {
		errno = EPERM;
		return -1;
	}
	unsigned char *data = reinterpret_cast<unsigned char *>(ifr->ifr_data);
	char data_hex[2 * STATUS_SIZE + 1];
	hex(data_hex, data, size);
	sim_log("ioctl %d 0x%04lx block=%s data=%s", fd, request, block_hex, data_hex);

	int err = request == faults.ioctl_code ? faults.ioctl_errno : 0;
	if (!err)
		err = driver(request, data);
	if (err) {
		errno = err;
		return -1;
	}
	return 0;
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
static bool map_command(char *out, size_t size, const char *src, const char *proc, const char *ethreg)
{
	static const char proc_name[] = "/proc/switch_phy", ethreg_name[] = "/sbin/ethreg";
	size_t len = 0;
	while (*src) {
		const char *piece = src;
		size_t plen = 1;
		if (strncmp(src, proc_name, sizeof(proc_name) - 1) == 0) {
			piece = proc;
			plen = strlen(proc);
			src += sizeof(proc_name) - 1;
		} else if (strncmp(src, ethreg_name, sizeof(ethreg_name) - 1) == 0) {
			piece = ethreg;
			plen = strlen(ethreg);
			src += sizeof(ethreg_name) - 1;
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

/* The register tool for the shell: quoted, but for a command the user gave. */
static bool ethreg_command(char *buf, size_t size)
{
	const char *cmd = getenv("SWITCHSIM_ETHREG");
	if (faults.ethreg_missing)
		return quote(buf, size, "/dev/null/ethreg"); /* can't exist: /dev/null is no directory */
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
	int n = snprintf(path, sizeof(path), "%.*s/ethreg", (int)(slash - info.dli_fname), info.dli_fname);
	return n > 0 && (size_t)n < sizeof(path) && quote(buf, size, path);
}

struct cycle {
	const unsigned char *digits;
	size_t len;
};

static bool hold_down(struct swm_state *st, const void *arg)
{
	const struct cycle *c = static_cast<const struct cycle *>(arg);
	return swm_cycle(st, sim_clock().now, reinterpret_cast<const char *>(c->digits), c->len) == 0;
}

/* Apply the five digits the shell wrote to this call's driver file, log
 * them, and keep them as switch_phy. */
static void apply_link_cycle(const char *path)
{
	unsigned char buf[64];
	ssize_t n = -1;
	int fd = sim_open(strrchr(path, '/') + 1, O_RDONLY);
	if (fd >= 0) {
		n = read(fd, buf, sizeof(buf));
		sim_close(fd);
	}
	char last[SIM_PATH];
	if (n <= 0 || !sim_path(last, sizeof(last), "switch_phy") || rename(path, last) != 0)
		unlink(path);
	if (n <= 0)
		return; /* the shell never wrote it */
	char line[SWM_LINE_MAX];
	if (swm_log_switch_phy(line, sizeof(line), buf, (size_t)n) >= 0)
		sim_log("%s", line);
	/* What is not a link cycle holds nothing, as the driver ignores it. */
	struct cycle c = { buf, (size_t)n };
	sim_update(hold_down, &c);
}

extern "C" int system(const char *command)
{
	sim_log("system %s", command ? command : "(null)");
	if (faults.system_signal)
		return faults.system_signal; /* the wait status of a shell killed by it */
	if (faults.system_errno) {
		errno = faults.system_errno;
		return -1;
	}
	auto real_system = real<int (*)(const char *)>("system");
	if (!command)
		return real_system(command);

	/* The driver file of this call alone, so a run applies only its own
	 * digits; a directory, which not even root can write, for
	 * SWITCHSIM_FAIL_PROC. */
	char proc[SIM_PATH], quoted[2 * SIM_PATH], ethreg[2 * SIM_PATH], mapped[8192];
	if (!sim_path(proc, sizeof(proc), "switch_phy.XXXXXX")) {
		errno = ENAMETOOLONG;
		return -1;
	}
	int fd = faults.proc ? (mkdtemp(proc) ? 0 : -1) : mkostemp(proc, O_CLOEXEC);
	if (fd < 0) {
		int err = errno;
		fprintf(stderr, "switchsim: %s: %s\n", proc, strerror(err));
		errno = err;
		return -1;
	}
	if (!faults.proc)
		sim_close(fd);
	if (!quote(quoted, sizeof(quoted), proc) || !ethreg_command(ethreg, sizeof(ethreg)) ||
	    !map_command(mapped, sizeof(mapped), command, quoted, ethreg)) {
		if (faults.proc)
			rmdir(proc);
		else
			unlink(proc);
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

	if (faults.proc)
		rmdir(proc);
	else
		apply_link_cycle(proc);
	errno = saved;
	return status;
}
