// The switch driver module's own files, in the emulated router: the driver
// file takes exactly five digits, and a state write applies whole or not at
// all.
#include "harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

#define SKIP_UNLESS_KERNEL()                                                     \
	do {                                                                     \
		if (!target().kernel())                                          \
			GTEST_SKIP() << "the module runs in the emulated router"; \
	} while (0)

// One write(); 0, or the errno it failed with.
int write_once(const std::string &path, const std::string &bytes, int flags = 0)
{
	int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | flags);
	if (fd < 0)
		return errno;
	ssize_t n = write(fd, bytes.data(), bytes.size());
	int err = n < 0 ? errno : n == static_cast<ssize_t>(bytes.size()) ? 0 : EIO;
	close(fd);
	return err;
}

TEST(Module, DriverFileTakesExactlyFiveDigits)
{
	SKIP_UNLESS_KERNEL();
	struct Case {
		std::string bytes;
		int err;
		const char *lan0; // the report's LAN0 line afterwards
	} cases[] = {
		{ "90001", 0, "LAN0:down:0:half" },
		{ "00001", 0, "LAN0:up:1000:full" }, // zero seconds: up at once
		{ "9000", EINVAL, "LAN0:up:1000:full" },
		{ "900011", EINVAL, "LAN0:up:1000:full" },
		{ "90002", EINVAL, "LAN0:up:1000:full" },
		{ "x0001", EINVAL, "LAN0:up:1000:full" },
		{ "9000\n", EINVAL, "LAN0:up:1000:full" },
		{ std::string("9\0" "001", 5), EINVAL, "LAN0:up:1000:full" },
	};
	for (const auto &c : cases) {
		Sim sim;
		EXPECT_EQ(write_once("/proc/switch_phy", c.bytes), c.err) << c.bytes;
		Result r = sim.run({});
		EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.lan0) << c.bytes;
	}
}

TEST(Module, StateWritesApplyWholeOrNotAtAll)
{
	SKIP_UNLESS_KERNEL();
	const std::string lan2 = "LAN2:up:100:half\n";
	struct Case {
		std::string lines;
		int flags;  // O_TRUNC: replace the state; O_APPEND: change it
		int err;
		bool lan2_up;
	} cases[] = {
		{ "lan2 up 100 half\n", O_APPEND, 0, true },
		{ "lan2 up 0x64 half", O_APPEND, 0, true },
		{ "# a comment\n\nlan2 up 100 half\nled amber\n", O_TRUNC, 0, true },
		{ "lan2 up 100 half\nlan9 up\n", O_APPEND, EINVAL, false },
		{ "lan2 up 100 half\nled red\n", O_APPEND, EINVAL, false },
		{ "lan2 up 0100 half\n", O_APPEND, 0, true }, // decimal, not octal
		{ "lan2 up -100 half\n", O_APPEND, EINVAL, false },
		{ std::string("lan2 up 100 half\0\n", 18), O_APPEND, EINVAL, false },
	};
	for (const auto &c : cases) {
		Sim sim;
		EXPECT_EQ(write_once(sim.dir + "/state", c.lines, c.flags), c.err) << c.lines;
		Result r = sim.run({});
		EXPECT_EQ(r.out.find(lan2) != std::string::npos, c.lan2_up) << c.lines << r.out;
	}
}

} // namespace
