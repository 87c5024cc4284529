// SPDX-License-Identifier: BSD-2-Clause
/*
 * libswitchsim.so, preloaded into the tool: the switch driver behind "phy0",
 * its driver file and register tool for the tool's shell commands, and the
 * log of every socket, request, close and shell command (see switchsim(1)).
 */
#include "simstate.h"

#include <dlfcn.h>
#include <net/if.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
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

extern "C" int socket(int domain, int type, int protocol) noexcept
{
	if (sim_dir() == SIM_STARVED)
		return fail_with(EMFILE);
	if (faults.socket) {
		sim_log("socket -1 %s", faults.socket);
		return fail_with(faults.socket_errno);
	}
	int fd = real<int (*)(int, int, int)>("socket")(domain, type, protocol), err = errno;
	if (domain == AF_INET && type == SOCK_DGRAM)
		sim_log("socket %d inet dgram", fd);
	else
		sim_log("socket %d family %d type %d", fd, domain, type);
	errno = err;
	return fd;
}

static bool is_socket(int fd)
{
	struct stat sb;
	return fstat(fd, &sb) == 0 && S_ISSOCK(sb.st_mode);
}

extern "C" int close(int fd)
{
	if (is_socket(fd))
		sim_log("close %d", fd);
	return real<int (*)(int)>("close")(fd);
}

/* As a kernel copies: a bad address is EFAULT, never a crash, and spends no
 * descriptor. qemu-user has no process_vm_readv, but checks a call's buffers
 * before the call: EFAULT for memory the caller can't use, else EBADF. */
static int copy_user(void *to, const void *from, size_t n)
{
	struct iovec dst = { to, n }, src = { const_cast<void *>(from), n };
	ssize_t got = process_vm_readv(getpid(), &dst, 1, &src, 1, 0);
	if (got < 0 && errno == ENOSYS && write(-1, from, n) < 0 && errno == EBADF &&
	    read(-1, to, n) < 0 && errno == EBADF)
		got = (ssize_t)n, memcpy(to, from, n);
	return got == (ssize_t)n ? 0 : EFAULT;
}

static int driver(unsigned long request, uint32_t *data)
{
	struct swm_state st;
	int err = 0;
	if (request == SWM_REQ_STATUS)
		return sim_load(&st) ? -swm_request(&st, request, sim_now(), data) : EIO;
	bool ok = sim_update([&](struct swm_state *s) {
		return (err = -swm_request(s, request, 0, data)) == 0;
	});
	return err ? err : ok ? 0 : EIO;
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
	va_list ap;
	va_start(ap, request);
	void *arg = va_arg(ap, void *);
	va_end(ap);

	auto pass_on = real<int (*)(int, unsigned long, void *)>("ioctl");
	if (!is_socket(fd) || sim_dir() == SIM_STARVED)
		return pass_on(fd, request, arg);
	/* Any other request's argument is not a request block: none of it is read. */
	size_t size = swm_request_size(request);
	struct ifreq ifr = {};
	int err = size ? copy_user(&ifr, arg, sizeof(ifr)) : 0;
	char line[SWM_LINE_MAX];
	if (err)
		return fail_with(err);
	if (size == 0 || strncmp(ifr.ifr_name, "phy0", IFNAMSIZ) != 0) {
		if (swm_log_ioctl(line, sizeof(line), fd, request, NULL, 0, NULL, 0) >= 0)
			sim_log("%s", line);
		return pass_on(fd, request, arg);
	}
	/* As the kernel refuses it, before any driver sees it. */
	if (request == SWM_REQ_STATUS && !sim_net_admin(fd))
		return fail_with(EPERM);
	uint32_t data[SWM_STATUS_WORDS] = {};
	err = copy_user(data, ifr.ifr_data, size);
	if (err)
		return fail_with(err);
	if (swm_log_ioctl(line, sizeof(line), fd, request, &ifr, sizeof(ifr), data, size) >= 0)
		sim_log("%s", line);
	err = request == faults.ioctl_code ? faults.ioctl_errno : driver(request, data);
	if (!err && request == SWM_REQ_STATUS)
		err = copy_user(ifr.ifr_data, data, size);
	return err ? fail_with(err) : 0;
}

/* A fault's file: the router's path, so that the shell's message names it as
 * on the router, unless this machine has that file, which must not be used. */
static const char *fault_path(const char *path, const char *stand_in)
{
	return access(path, F_OK) == 0 ? stand_in : path;
}

/* /bin/sh -c command, without LD_PRELOAD (the shell is not the tool), with
 * keep open for it, as system() would wait for it. The environment is made
 * before fork(), as unsetenv() is not async-signal-safe. */
static int run_shell(const char *command, int keep)
{
	char *argv[] = { (char *)"sh", (char *)"-c", (char *)"--", (char *)command, NULL }, **envp;
	size_t n = 0, k = 0;
	while (environ[n])
		n++;
	if (!(envp = (char **)malloc((n + 1) * sizeof(*envp))))
		return -1;
	for (size_t i = 0; i < n; i++)
		if (strncmp(environ[i], "LD_PRELOAD=", 11) != 0)
			envp[k++] = environ[i];
	envp[k] = NULL;
	int status = -1;
	pid_t pid = fork();
	if (pid == 0) {
		if (keep >= 0)
			fcntl(keep, F_SETFD, 0);
		execve("/bin/sh", argv, envp);
		_exit(127);
	}
	free(envp);
	while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR)
		;
	return status;
}

/*
 * The command with the router's two paths replaced: the driver file by
 * /dev/fd/N, a file of this call's own that the shell inherits, and the
 * register tool by $SWITCHSIM_ETHREG, which the shell splits into words but
 * parses no further, or else by ethreg on PATH. What the shell wrote to the
 * driver file is applied as it ends.
 */
extern "C" int system(const char *command)
{
	if (sim_dir() == SIM_STARVED)
		return fail_with(EMFILE);
	sim_log("system %s", command ? command : "(null)");
	if (faults.system_signal)
		return faults.system_signal; /* the wait status of a shell killed by it */
	if (faults.system_errno)
		return fail_with(faults.system_errno);
	if (!command)
		return 1; /* there is a shell */
	if (strlen(command) > 4096)
		return fail_with(E2BIG);
	/* A driver that fails: a driver file no one can write. */
	int phy = faults.proc ? -1 : memfd_create("switch_phy", MFD_CLOEXEC);
	/* Each mapping grows by less than half of what it replaces. */
	char fd_path[32], mapped[3 * 4096 / 2 + 1];
	if (phy < 0 && !faults.proc)
		return -1;
	snprintf(fd_path, sizeof(fd_path), "/dev/fd/%d", phy);
	const char *proc = phy >= 0 ? fd_path : fault_path("/proc/switch_phy", "/dev/null/switch_phy");
	const char *ethreg = faults.ethreg_missing ? fault_path("/sbin/ethreg", "/dev/null/ethreg")
			     : getenv("SWITCHSIM_ETHREG") ? "$SWITCHSIM_ETHREG" : "ethreg";
	size_t len = 0;
	for (const char *s = command; *s; s++) {
		const char *to = NULL;
		if (strncmp(s, "/proc/switch_phy", 16) == 0)
			to = proc, s += 15;
		else if (strncmp(s, "/sbin/ethreg", 12) == 0)
			to = ethreg, s += 11;
		if (to)
			len += (size_t)snprintf(mapped + len, sizeof(mapped) - len, "%s", to);
		else
			mapped[len++] = *s;
	}
	mapped[len] = '\0';
	int status = run_shell(mapped, phy), err = errno;
	char bytes[64], line[SWM_LINE_MAX];
	ssize_t n = phy >= 0 ? pread(phy, bytes, sizeof(bytes), 0) : 0;
	if (n > 0 && swm_log_switch_phy(line, sizeof(line), bytes, (size_t)n) >= 0)
		sim_log("%s", line);
	/* Timed under the lock: a hold written since would otherwise end more
	 * than a cycle after this cycle's now, and read as another boot's. */
	if (n > 0 && !sim_update([&](struct swm_state *s) {
		    return swm_cycle(s, sim_now(), bytes, (size_t)n) == 0 ||
			   sim_say("/proc/switch_phy", strerror(EINVAL));
	    }))
		status = 1 << 8; /* as a shell whose write failed */
	close(phy);
	errno = err;
	return status;
}

/* Before the program runs: a malformed fault or an unsafe state directory
 * must not let it go ahead; too few descriptors leave it to its EMFILE. */
__attribute__((constructor)) static void switchsim_init(void)
{
	if (!sim_faults(&faults) || sim_dir() == -1)
		_exit(2);
}
