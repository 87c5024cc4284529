// SPDX-License-Identifier: BSD-2-Clause
// The port status report and the driver request behind it.
#include "harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const char kDefaultPorts[] = "lan0 down 0 half\nlan1 up 100 full\nlan2 down 0 half\n"
			     "lan3 down 0 half\nwan down 0 half\n";
const char kDefaultReport[] = "LAN0:down:0:half\nLAN1:up:100:full\nLAN2:down:0:half\n"
			      "LAN3:down:0:half\nWAN:down:0:half\n";

TEST(Status, ReportsEachPortOnItsOwnLine)
{
	Sim sim;
	sim.write("state", kDefaultPorts);
	Result r = sim.run({ "-s" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, kDefaultReport);
	EXPECT_EQ(r.err, "");
}

TEST(Status, PrintsDriverValuesAsGiven)
{
	struct Case {
		const char *state, *report;
	} cases[] = {
		// Any non-zero link or duplex counts; speed is a signed number.
		{ "lan0 2 10 7\nlan1 0xffffffff 0x80000000 0xffffffff\nlan2 down 4294967295 half\n"
		  "lan3 up 1000 2\nwan 1 2147483647 0x100\n",
		  "LAN0:up:10:full\nLAN1:up:-2147483648:full\nLAN2:down:-1:half\n"
		  "LAN3:up:1000:full\nWAN:up:2147483647:full\n" },
		// Down ports still print the speed and duplex the driver left.
		{ "lan0 down 100 full\nlan1 down 0 half\nlan2 down 0 half\nlan3 down 0 half\nwan down 10 full\n",
		  "LAN0:down:100:full\nLAN1:down:0:half\nLAN2:down:0:half\nLAN3:down:0:half\n"
		  "WAN:down:10:full\n" },
	};
	for (const auto &c : cases) {
		Sim sim;
		sim.write("state", c.state);
		Result r = sim.run({});
		EXPECT_EQ(r.status, 0) << c.state;
		EXPECT_EQ(r.out, c.report) << c.state;
	}
}

TEST(Status, SendsZeroedRecordWithUnitNumbers)
{
	Sim sim;
	Result r = sim.run({ "-s" });
	std::string record;
	for (uint32_t i = 0; i < 20; i++)
		record += hex_u32(i < 5 ? i : 0);
	EXPECT_EQ(r.log, seen({ "socket S inet dgram", "ioctl S 0x8948 block=" + expected_block() + " data=" + record,
				"close S" }));
}

TEST(Status, DriverFailures)
{
	struct Case {
		const char *var, *value;
		std::string err;
		std::vector<std::string> log;
	} cases[] = {
		{ "SWITCHSIM_FAIL_SOCKET", "EMFILE", "socket failed, " + errtext(EMFILE) + "\n",
		  { "socket -1 EMFILE" } },
		{ "SWITCHSIM_FAIL_SOCKET", "EACCES", "socket failed, " + errtext(EACCES) + "\n",
		  { "socket -1 EACCES" } },
		{ "SWITCHSIM_FAIL_SOCKET", "EINTR", "socket failed, " + errtext(EINTR) + "\n",
		  { "socket -1 EINTR" } },
		{ "SWITCHSIM_FAIL_IOCTL", "0x8948:EIO", "ioctl error!\n", { "socket S inet dgram", "", "close S" } },
		{ "SWITCHSIM_FAIL_IOCTL", "0x8948:ENODEV", "ioctl error!\n", { "socket S inet dgram", "", "close S" } },
	};
	for (const auto &c : cases) {
		if (!can_inject(c.var, c.value))
			continue;
		Sim sim;
		sim.setenv(c.var, c.value);
		Result r = sim.run({ "-s" });
		EXPECT_EQ(r.status, 255) << c.value;
		EXPECT_EQ(r.out, "") << c.value;
		EXPECT_EQ(r.err, c.err) << c.value;
		std::vector<std::string> want = seen(c.log);
		ASSERT_EQ(r.log.size(), want.size()) << c.value;
		for (size_t i = 0; i < want.size(); i++)
			if (!want[i].empty()) {
				EXPECT_EQ(r.log[i], want[i]) << c.value;
			}
	}
}

TEST(Status, KernelAnswersWithoutTheDriver)
{
	// No simulated switch: this machine has no "phy0".
	Sim sim;
	Result r = sim.run({ "-s" }, false);
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "ioctl error!\n");
}

TEST(Status, UnwritableOutputIsAFailure)
{
	struct Case {
		const char *name;
		std::vector<std::string> before; // what runs the tool
	} cases[] = {
		{ "buffered", {} },
		// Unbuffered, the error shows in ferror(), not in fflush().
		{ "unbuffered", { "stdbuf", "-o0" } },
	};
	for (const auto &c : cases) {
		// stdbuf's library is this machine's, not the router's.
		if (!c.before.empty() && (target().cross() || !backend().preloaded()))
			continue;
		Sim sim;
		Result r;
		if (c.before.empty()) {
			r = sim.run({ "-s" }, true, "/dev/full");
		} else {
			std::string cmd = "exec";
			for (const auto &a : c.before)
				cmd += " '" + a + "'";
			for (const auto &a : sim.command({ "-s" }, true))
				cmd += " '" + a + "'";
			r = sim.exec({ "/bin/sh", "-c", cmd + " >/dev/full" }, true);
		}
		EXPECT_EQ(r.status, 255) << c.name;
		EXPECT_EQ(r.err, "write failed, No space left on device\n") << c.name;
		EXPECT_EQ(grep(r.log, "close").size(), seen({ "close S" }).size()) << c.name;
	}
}

TEST(Status, ASocketAtAnyDescriptorIsTheDriver)
{
	struct Case {
		const char *name;
		void (*setup)();
	} cases[] = {
		// Descriptors 3 to 1100 are taken, so the tool's socket comes above 1024.
		{ "above 1024",
		  [] {
			  struct rlimit lim = { 2048, 2048 };
			  if (setrlimit(RLIMIT_NOFILE, &lim) != 0)
				  _exit(126);
			  for (int fd = 3; fd <= 1100; fd++)
				  if (dup2(0, fd) < 0)
					  _exit(126);
		  } },
		// With stdin closed, the socket is descriptor 0.
		{ "at 0", [] { close(0); } },
	};
	for (const auto &c : cases) {
		Sim sim;
		sim.in_child(c.setup);
		sim.write("state", kDefaultPorts);
		Result r = sim.run({ "-s" });
		EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
		EXPECT_EQ(r.out, kDefaultReport) << c.name;
		EXPECT_TRUE(starts(r.log, seen({ "socket S inet dgram", "ioctl S 0x8948 ", "close S" })))
			<< c.name;
	}
}

// Request 0x8948 is the kernel's SIOCGMIIREG, which the kernel refuses to a
// process without CAP_NET_ADMIN before any driver sees it.
TEST(Privilege, OnlyTheReportNeedsNetAdmin)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root, to run the tool as uid " << kNobody;
	struct Case {
		std::vector<std::string> args;
		int status;
		const char *out, *err, *state; // state: a line the state file then holds
		std::vector<std::string> log;
	} cases[] = {
		{ { "-s" }, 255, "", "ioctl error!\n", "\nled off\n", { "socket S inet dgram", "close S" } },
		{ { "-l", "green" }, 0, "", "", "\nled green\n", {} },
		{ { "-e", "on" }, 0, "", "", "\nheader on\n", {} },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.args);
		Sim sim;
		sim.write("state", "# set by the test\nled off\n");
		if (!backend().give_state(sim, kNobody) && c.args[0] == "-e")
			continue;
		sim.in_child(become_nobody);
		Result r = sim.run(c.args);
		EXPECT_EQ(r.status, c.status) << name << ": " << r.err;
		EXPECT_EQ(r.out, c.out) << name;
		EXPECT_EQ(r.err, c.err) << name;
		if (!c.log.empty()) {
			EXPECT_EQ(r.log, seen(c.log)) << name;
		}
		EXPECT_NE(sim.read("state").find(c.state), std::string::npos) << name;
	}
}

} // namespace
