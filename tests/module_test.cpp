// SPDX-License-Identifier: BSD-2-Clause
// The switch driver module's own files, in the emulated router: what its
// driver file and state file do with a write, and link cycles on the boot
// clock; and the module under concurrent use and unload rounds, for the
// kernel's own bug detectors to watch. The model's own tests hold the text.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <net/if.h>
#include <regex>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The module's own tests run once, with the glibc build's suite: they are
// the driver's, not the tool's.
#define SKIP_UNLESS_MODULE_SUITE()                                                            \
	do {                                                                            \
		if (!target().kernel())                                                 \
			GTEST_SKIP() << "the module runs in the emulated router";        \
		if (target().name != "kernel")                                          \
			GTEST_SKIP() << "the driver's own tests run with the glibc suite"; \
	} while (0)

// The bytes in writes of chunk bytes (0: one write); 0, or the errno that
// the first failed write or the close gave.
int write_once(const std::string &path, const std::string &bytes, int flags = 0,
	       size_t chunk = 0)
{
	int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | flags);
	if (fd < 0)
		return errno;
	int err = 0;
	size_t at = 0;
	do {
		size_t n = chunk ? std::min(chunk, bytes.size() - at) : bytes.size();
		ssize_t w = write(fd, bytes.data() + at, n);
		err = w < 0 ? errno : w == static_cast<ssize_t>(n) ? 0 : EIO;
		at += n;
	} while (!err && at < bytes.size());
	if (close(fd) != 0 && !err)
		err = errno;
	return err;
}

bool module_loaded()
{
	return access("/sys/module/switchsim", F_OK) == 0;
}

// Milliseconds on the boot clock, the module's clock for link cycles.
long long boot_ms()
{
	timespec ts{};
	clock_gettime(CLOCK_BOOTTIME, &ts);
	return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Moves the wall clock by secs, as a first NTP sync does.
void shift_wall_clock(long secs)
{
	timespec ts{};
	clock_gettime(CLOCK_REALTIME, &ts);
	ts.tv_sec += secs;
	if (clock_settime(CLOCK_REALTIME, &ts) != 0)
		ADD_FAILURE() << "clock_settime: " << std::strerror(errno);
}

// Reads a file to its end; 0 or the errno.
int read_all(const std::string &path)
{
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return errno;
	char buf[4096];
	ssize_t n;
	while ((n = read(fd, buf, sizeof(buf))) > 0) {
	}
	int err = n < 0 ? errno : 0;
	close(fd);
	return err;
}

TEST(Module, DriverFileAppliesACycleOrRefusesIt)
{
	SKIP_UNLESS_MODULE_SUITE();
	struct Case {
		std::string bytes;
		int err;
		const char *lan0; // the report's LAN0 line afterwards
	} cases[] = {
		{ "90001", 0, "LAN0:down:0:half" },
		{ "00001", 0, "LAN0:up:1000:full" }, // zero seconds: up at once
		{ "9000\n", EINVAL, "LAN0:up:1000:full" },
	};
	for (const auto &c : cases) {
		Sim sim;
		EXPECT_EQ(write_once("/proc/switch_phy", c.bytes), c.err) << c.bytes;
		Result r = sim.run({});
		EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.lan0) << c.bytes;
	}
}

// Each write is one whole text, applied at once or refused; `>` first puts
// back the default, so a state read back restores it.
TEST(Module, StateWritesApplyWholeOrNotAtAll)
{
	SKIP_UNLESS_MODULE_SUITE();
	const std::string lan2 = "LAN2:up:100:half\n";
	// Set before each case: a replace puts it back.
	const std::string lan3 = "LAN3:up:10:half\n";
	struct Case {
		std::string lines;
		int flags;  // O_TRUNC: replace the state; O_APPEND: change it
		int err;
		bool lan2_up;
		bool lan3_kept;
		size_t chunk; // bytes a write; 0: all in one
	} cases[] = {
		{ "lan2 up 100 half\n", O_APPEND, 0, true, true, 0 },
		{ "# a comment\n\nlan2 up 100 half\nled amber\n", O_TRUNC, 0, true, false, 0 },
		{ "lan2 up 100 half\nled amber\n", O_TRUNC, 0, true, false, 17 },
		{ "lan2 up 100 half\nlan9 up\n", O_APPEND, EINVAL, false, true, 0 },
		{ std::string("lan2 up 100 half\0\n", 18), O_APPEND, EINVAL, false, true, 0 },
		{ "lan2 up 100 half\n", O_APPEND, EINVAL, false, true, 5 }, // a line cut apart
		{ "", O_TRUNC, 0, false, false, 0 }, // the default
		{ "lan2 up 100 half\n" + std::string(4096, '#'), O_APPEND, EFBIG, false, true, 0 },
	};
	for (const auto &c : cases) {
		Sim sim;
		const std::string what = c.lines.substr(0, 40) + "... " + std::to_string(c.chunk);
		EXPECT_EQ(write_once(sim.dir + "/state", "lan3 up 10 half\n", O_APPEND), 0);
		EXPECT_EQ(write_once(sim.dir + "/state", c.lines, c.flags, c.chunk), c.err) << what;
		Result r = sim.run({});
		EXPECT_EQ(r.out.find(lan2) != std::string::npos, c.lan2_up) << what << r.out;
		EXPECT_EQ(r.out.find(lan3) != std::string::npos, c.lan3_kept) << what << r.out;
	}
	Sim sim;
	EXPECT_EQ(write_once(sim.dir + "/state", "lan2 up 100 half\nreg 0x9c 2\n", O_APPEND), 0);
	const std::string saved = sim.read("state");
	EXPECT_EQ(write_once(sim.dir + "/state", "", O_TRUNC), 0);
	EXPECT_EQ(write_once(sim.dir + "/state", saved, O_TRUNC), 0);
	EXPECT_EQ(sim.read("state"), saved);
}

// A link cycle ends on the boot clock, whatever the wall clock does, and the
// state says when, in ms on the boot clock.
TEST(Module, LinkCyclesRunOnTheBootClock)
{
	SKIP_UNLESS_MODULE_SUITE();
	struct Case {
		const char *cycle;
		long shift;  // the wall clock moved by this many seconds
		int wait_ms; // then this long on the boot clock before the report
		bool down;
	} cases[] = {
		{ "10001", -3600, 1500, false }, // clock set back: still ends on time
		{ "90001", 60, 0, true },        // clock set forward: still holds
	};
	for (const auto &c : cases) {
		Sim sim;
		EXPECT_EQ(write_once("/proc/switch_phy", c.cycle), 0);
		shift_wall_clock(c.shift);
		usleep(c.wait_ms * 1000);
		Result r = sim.run({});
		shift_wall_clock(-c.shift);
		EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
			  c.down ? "LAN0:down:0:half" : "LAN0:up:1000:full") << c.cycle;
	}

	Sim sim;
	long long before = boot_ms();
	ASSERT_EQ(write_once("/proc/switch_phy", "90001"), 0);
	const std::string text = sim.read("state");
	std::smatch m;
	ASSERT_TRUE(std::regex_search(text, m, std::regex("\nlan0 up 1000 full ([0-9]+)\n"))) << text;
	long long until = std::stoll(m[1]);
	EXPECT_GE(until, before + 9000);
	EXPECT_LE(until, boot_ms() + 9000);
	EXPECT_NE(text.find("\nlan1 up 100 full\n"), std::string::npos) << text;
}

// One request on phy0; 0 or the errno.
int request(int sock, unsigned long code, void *data)
{
	ifreq ifr{};
	std::strncpy(ifr.ifr_name, "phy0", IFNAMSIZ - 1);
	ifr.ifr_data = static_cast<char *>(data);
	return ioctl(sock, code, &ifr) == 0 ? 0 : errno;
}

// Requests, state writes, driver-file writes and log reads and writes, all
// at once; each does what it does alone. The kernel's detectors judge the rest.
TEST(ModuleStress, ConcurrentRequestsWritesAndReads)
{
	SKIP_UNLESS_MODULE_SUITE();
	Sim sim;
	const std::string state = sim.dir + "/state", log = sim.dir + "/log";
	const int rounds = 60;
	std::atomic<int> faults{ 0 };
	auto expect = [&faults](bool ok) {
		if (!ok)
			faults++;
	};
	std::vector<std::thread> threads;
	threads.emplace_back([&] { // requests, good and with bad pointers
		int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
		expect(sock >= 0);
		for (int i = 0; i < rounds; i++) {
			uint32_t rec[20] = {};
			uint16_t v = static_cast<uint16_t>(i % 3);
			expect(request(sock, 0x8948, rec) == 0);
			expect(request(sock, 0x89ff, &v) == 0);
			v = static_cast<uint16_t>(i % 2);
			expect(request(sock, 0x89fe, &v) == 0);
			expect(request(sock, 0x8948, reinterpret_cast<void *>(16)) == EFAULT);
			expect(request(sock, 0x89ff, nullptr) == EFAULT);
		}
		close(sock);
	});
	threads.emplace_back([&] { // changes, and refused ones
		for (int i = 0; i < rounds; i++) {
			std::string line = "lan2 up " + std::to_string(i) + " half\nreg " +
					   std::to_string(i % 8) + " " + std::to_string(i) + "\n";
			expect(write_once(state, line, O_APPEND) == 0);
			expect(write_once(state, "lan2 up 1 half\nbogus\n", O_APPEND) == EINVAL);
		}
	});
	threads.emplace_back([&] { // replaces
		for (int i = 0; i < rounds; i++)
			expect(write_once(state, "led amber\nlan3 up 10 full\n", O_TRUNC) == 0);
	});
	threads.emplace_back([&] { // link cycles, and refused ones
		for (int i = 0; i < rounds; i++) {
			expect(write_once("/proc/switch_phy", i % 2 ? "10101" : "00010") == 0);
			expect(write_once("/proc/switch_phy", "1x101") == EINVAL);
		}
	});
	threads.emplace_back([&] { // the register tool's log lines, past the log's size
		const std::string line = "ethreg " + std::string(400, 'x') + "\n";
		for (int i = 0; i < rounds * 4; i++)
			expect(write_once(log, line, O_APPEND) == 0);
	});
	threads.emplace_back([&] { // readers
		for (int i = 0; i < rounds; i++) {
			expect(read_all(log) == 0);
			expect(read_all(state) == 0);
		}
	});
	for (auto &t : threads)
		t.join();
	EXPECT_EQ(faults.load(), 0);
	const std::string text = sim.read("state");
	EXPECT_NE(text.find("\nwan up 1000 full\n"), std::string::npos) << text;
}

// Unload rounds while files are open: an open debugfs file keeps the module,
// and once it is gone, what is still open fails without harm.
TEST(ModuleStress, UnloadRoundsWhileFilesAreHeldOpen)
{
	SKIP_UNLESS_MODULE_SUITE();
	Sim sim;
	const std::string load = "insmod " + target().module;
	std::atomic<bool> stop{ false };
	// Requests and opens racing the unloads; any of them may fail.
	struct Joined : std::thread {
		using std::thread::thread;
		std::atomic<bool> *stop;
		~Joined() { *stop = true; join(); }
	} racer([&] {
		int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
		while (!stop) {
			uint32_t rec[20] = {};
			request(sock, 0x8948, rec);
			write_once("/proc/switch_phy", "00001");
			read_all(sim.dir + "/log");
		}
		close(sock);
	});
	racer.stop = &stop;
	for (int round = 0; round < 5; round++) {
		int state = open((sim.dir + "/state").c_str(), O_RDWR | O_CLOEXEC);
		int log = open((sim.dir + "/log").c_str(), O_RDONLY | O_CLOEXEC);
		int proc = open("/proc/switch_phy", O_WRONLY | O_CLOEXEC);
		int knob = open((sim.dir + "/fail_proc").c_str(), O_RDWR | O_CLOEXEC);
		int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
		ASSERT_TRUE(state >= 0 && log >= 0 && proc >= 0 && knob >= 0 && sock >= 0);
		EXPECT_EQ(write(state, "lan2 up 100 half\n", 17), 17);

		std::system("rmmod switchsim 2>/dev/null");
		EXPECT_TRUE(module_loaded()) << "unloaded under an open file, round " << round;
		char buf[256];
		EXPECT_GT(read(log, buf, sizeof(buf)), -1);
		close(state);
		close(log);

		// The racer's opens may hold it a moment longer.
		for (int i = 0; i < 100 && module_loaded(); i++) {
			std::system("rmmod switchsim 2>/dev/null");
			if (module_loaded())
				usleep(20000);
		}
		ASSERT_FALSE(module_loaded()) << "round " << round;
		uint32_t rec[20] = {};
		EXPECT_EQ(request(sock, 0x8948, rec), ENODEV);
		EXPECT_EQ(write(proc, "00001", 5), -1);
		EXPECT_EQ(read(knob, buf, sizeof(buf)), -1);
		EXPECT_EQ(write(knob, "Y", 1), -1);
		close(proc);
		close(knob);
		close(sock);
		ASSERT_EQ(std::system(load.c_str()), 0);
		ASSERT_TRUE(module_loaded());
	}
	// Loaded again, the module starts from the default state.
	Result r = sim.run({});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out.find("LAN2:up"), std::string::npos) << r.out;
}

} // namespace
