// SPDX-License-Identifier: BSD-2-Clause
// A program that uses the driver the way no tool should but any program
// may: bad pointers, other requests on its socket, many threads. The tests
// run it under the simulated switch; it prints one line per finding.
//
//   preload_probe pointers          each bad pointer's errno (or "ok"), then
//                                   the same for sockets to the descriptor limit
//   preload_probe sockets T N       T threads, each with N sockets open at once,
//                                   asking for the port status on each
//   preload_probe shells T N        T threads, each running N link cycles
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <string>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int threads_n, per_thread;

void report(const char *name, int rc)
{
	std::printf("%s %s\n", name, rc == 0 ? "ok" : rc < 0 ? strerrorname_np(errno) : "?");
}

int pointers()
{
	long page = sysconf(_SC_PAGESIZE);
	// A read-only page, then a writable one, then one that can't be touched.
	auto *mem = static_cast<char *>(mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE,
					     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
	if (mem == MAP_FAILED || mprotect(mem, page, PROT_READ) != 0 ||
	    mprotect(mem + 2 * page, page, PROT_NONE) != 0)
		return 2;
	char *read_only = mem, *none = mem + 2 * page;
	int sock = socket(AF_INET, SOCK_DGRAM, 0);
	if (sock < 0)
		return 2;
	ifreq ifr;
	std::memset(&ifr, 0, sizeof(ifr));
	std::strncpy(ifr.ifr_name, "phy0", IFNAMSIZ);

	report("led-null-block", ioctl(sock, 0x89FF, nullptr));
	report("led-unmapped-block", ioctl(sock, 0x89FF, none));
	// The block's last byte is the last one that can be read.
	auto *edge = reinterpret_cast<ifreq *>(none - sizeof(ifreq));
	std::memcpy(edge, &ifr, sizeof(ifr));
	uint16_t amber = 2;
	edge->ifr_data = reinterpret_cast<char *>(&amber);
	report("led-block-at-page-end", ioctl(sock, 0x89FF, edge));
	ifr.ifr_data = none;
	report("led-unmapped-data", ioctl(sock, 0x89FF, &ifr));
	report("header-unmapped-data", ioctl(sock, 0x89FE, &ifr));
	report("status-unmapped-data", ioctl(sock, 0x8948, &ifr));
	// Read, then written back: the kernel answers EFAULT at the write.
	ifr.ifr_data = read_only;
	report("status-read-only-data", ioctl(sock, 0x8948, &ifr));
	// Another request's argument is its own size: an int at the page's end.
	int *on = reinterpret_cast<int *>(none - sizeof(int));
	*on = 1;
	report("fionbio-int-at-page-end", ioctl(sock, FIONBIO, on));
	// The program's own EMFILE, and the switch still answering.
	rlimit lim;
	std::vector<int> socks(1, sock);
	if (getrlimit(RLIMIT_NOFILE, &lim) != 0 || (lim.rlim_cur = 16, setrlimit(RLIMIT_NOFILE, &lim)))
		return 2;
	while ((sock = socket(AF_INET, SOCK_DGRAM, 0)) >= 0)
		socks.push_back(sock);
	report("socket-at-the-limit", sock);
	ifr.ifr_data = reinterpret_cast<char *>(&amber);
	report("led-at-the-limit", ioctl(socks.back(), 0x89FF, &ifr));
	for (int s : socks)
		close(s);
	return std::fflush(stdout) == 0 ? 0 : 2;
}

void *open_many(void *)
{
	std::vector<int> socks;
	long failed = 0;
	for (int i = 0; i < per_thread; i++) {
		int s = socket(AF_INET, SOCK_DGRAM, 0);
		if (s < 0)
			failed++;
		else
			socks.push_back(s);
	}
	uint32_t record[20] = { 0, 1, 2, 3, 4 };
	ifreq ifr;
	std::memset(&ifr, 0, sizeof(ifr));
	std::strncpy(ifr.ifr_name, "phy0", IFNAMSIZ);
	ifr.ifr_data = reinterpret_cast<char *>(record);
	// A socket the driver lost track of reaches the kernel, which has no
	// "phy0"; without CAP_NET_ADMIN the kernel's EPERM is the answer.
	for (int s : socks)
		failed += ioctl(s, 0x8948, &ifr) != 0 && errno != EPERM;
	for (int s : socks)
		close(s);
	return reinterpret_cast<void *>(failed);
}

void *run_cycles(void *)
{
	long leaked = 0;
	for (int i = 0; i < per_thread; i++)
		leaked += system("echo -n 00001 >/proc/switch_phy && test -z \"$LD_PRELOAD\"") != 0;
	return reinterpret_cast<void *>(leaked);
}

int threaded(void *(*body)(void *), const char *what)
{
	const char *before = getenv("LD_PRELOAD");
	std::string preload = before ? before : "";
	std::vector<pthread_t> ts(threads_n);
	for (auto &t : ts)
		if (pthread_create(&t, nullptr, body, nullptr) != 0)
			return 2;
	long failed = 0;
	for (auto &t : ts) {
		void *n;
		pthread_join(t, &n);
		failed += reinterpret_cast<long>(n);
	}
	const char *after = getenv("LD_PRELOAD");
	std::printf("%s failed %ld\nLD_PRELOAD %s\n", what, failed,
		    after && preload == after ? "kept" : "lost");
	return std::fflush(stdout) == 0 ? 0 : 2;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc == 2 && std::strcmp(argv[1], "pointers") == 0)
		return pointers();
	if (argc != 4)
		return 2;
	threads_n = std::atoi(argv[2]);
	per_thread = std::atoi(argv[3]);
	// All of them open at once.
	rlimit lim;
	if (getrlimit(RLIMIT_NOFILE, &lim) == 0) {
		lim.rlim_cur = lim.rlim_max;
		setrlimit(RLIMIT_NOFILE, &lim);
	}
	if (std::strcmp(argv[1], "sockets") == 0)
		return threaded(open_many, "sockets");
	if (std::strcmp(argv[1], "shells") == 0)
		return threaded(run_cycles, "shells");
	return 2;
}
