// SPDX-License-Identifier: BSD-2-Clause
// The port status report and the driver request behind it.
#include "harness.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

TEST(Status, KernelAnswersWithoutTheDriver)
{
	// No simulated switch: this machine has no "phy0".
	Sim sim;
	EXPECT_EQ(outcome(sim.run({ "-s" }, false)), Outcome(255, "", "ioctl error!\n"));
}

TEST(Status, UnwritableOutputIsAFailure)
{
	// Unbuffered, the error shows in ferror(), not in fflush().
	for (Args before : { Args{}, Args{ "stdbuf", "-o0" } }) {
		// stdbuf's library is this machine's, not the router's.
		if (!before.empty() && (target().cross() || !backend().preloaded()))
			continue;
		Sim sim;
		std::string cmd = "exec";
		for (const auto &a : sim.command({ "-s" }, true))
			before.push_back(a);
		for (const auto &a : before)
			cmd += " '" + a + "'";
		Result r = backend().run(sim, { "/bin/sh", "-c", cmd + " >/dev/full" }, true);
		EXPECT_EQ(r.status, 255) << cmd;
		EXPECT_EQ(r.err, "write failed, No space left on device\n") << cmd;
		EXPECT_EQ(grep(r.log, "close").size(), seen({ "close S" }).size()) << cmd;
	}
}

// One request with a zeroed record but for the unit numbers, from a socket at
// any descriptor; each port on a line of its own, with the driver's values.
TEST(Status, ReportsWhatTheDriverGives)
{
	const char *const up = "lan0 up 1000 full\n",
			  *const report = "LAN0:up:1000:full\nLAN1:up:100:full\nLAN2:down:0:half\n"
					  "LAN3:down:0:half\nWAN:up:1000:full\n",
			  *const no_socket = "socket failed, Too many open files\n";
	struct Case {
		const char *name;
		void (*setup)();
		const char *state, *report;
		const char *or_err = nullptr; // the tool's error, where it may fail
	} cases[] = {
		{ "the lowest descriptor free", nullptr,
		  "lan0 down 0 half\nlan1 up 100 full\nlan2 down 0 half\nlan3 down 0 half\n"
		  "wan down 0 half\n",
		  "LAN0:down:0:half\nLAN1:up:100:full\nLAN2:down:0:half\nLAN3:down:0:half\n"
		  "WAN:down:0:half\n" },
		// Descriptors 3 to 1100 are taken, so the tool's socket comes above 1024.
		{ "above 1024",
		  [] {
			  struct rlimit lim = { 2048, 2048 };
			  if (setrlimit(RLIMIT_NOFILE, &lim) != 0)
				  _exit(126);
			  for (int fd = 3; fd <= 1100; fd++)
				  if (dup2(0, fd) < 0)
					  _exit(126);
		  },
		  up, report },
		// With stdin closed, the socket is descriptor 0.
		{ "at 0", [] { close(0); }, up, report },
		// The switch holds two descriptors, taken before the tool runs, and
		// spends none on a request; with fewer, the tool's socket may fail.
		{ "6 descriptors in all", descriptors<6>, up, report },
		{ "5 descriptors in all", descriptors<5>, up, report, no_socket },
		{ "4 descriptors in all", descriptors<4>, up, report, no_socket },
		// Any non-zero link or duplex counts; speed is a signed number.
		{ "odd values", nullptr,
		  "lan0 2 10 7\nlan1 0xffffffff 0x80000000 0xffffffff\nlan2 down 4294967295 half\n"
		  "lan3 up 1000 2\nwan 1 2147483647 0x100\n",
		  "LAN0:up:10:full\nLAN1:up:-2147483648:full\nLAN2:down:-1:half\n"
		  "LAN3:up:1000:full\nWAN:up:2147483647:full\n" },
		// Down ports still print the speed and duplex the driver left.
		{ "down ports", nullptr,
		  "lan0 down 100 full\nlan1 down 0 half\nlan2 down 0 half\nlan3 down 0 half\n"
		  "wan down 10 full\n",
		  "LAN0:down:100:full\nLAN1:down:0:half\nLAN2:down:0:half\nLAN3:down:0:half\n"
		  "WAN:down:10:full\n" },
	};
	for (const auto &c : cases) {
		// LeakSanitizer needs a descriptor of its own at the exit.
		if (c.or_err && target().sanitized)
			continue;
		Sim sim;
		sim.in_child(c.setup);
		sim.write("state", c.state);
		Result r = sim.run({ "-s" });
		if (c.or_err && r.status != 0) {
			EXPECT_EQ(outcome(r), Outcome(255, "", c.or_err)) << c.name;
			continue;
		}
		EXPECT_EQ(outcome(r), Outcome(0, c.report, "")) << c.name;
		EXPECT_EQ(r.log, seen({ "socket S inet dgram", request(0x8948), "close S" }))
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
		Args args;
		int status;
		const char *out, *err, *state; // state: a line the state file then holds
		std::vector<std::string> log;
		bool switchsim = false; // through switchsim run, as a person runs it
	} cases[] = {
		{ { "-s" }, 255, "", "ioctl error!\n", "\nled off\n", { "socket S inet dgram", "close S" } },
		{ { "-l", "green" }, 0, "", "", "\nled green\n", {} },
		{ { "-e", "on" }, 0, "", "", "\nheader on\n", {} },
		// switchsim run gives the user a user and network namespace of
		// their own, in which they hold CAP_NET_ADMIN.
		{ { "-s" }, 0, "LAN0:up:1000:full\nLAN1:up:100:full\nLAN2:down:0:half\n"
		  "LAN3:down:0:half\nWAN:up:1000:full\n", "", "\nled off\n",
		  { "socket S inet dgram", request(0x8948), "close S" }, true },
		{ { "-w", "5", "-m", "1" }, 0, "", "", "\nlan0 up 1000 full ", {}, true },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.args) + (c.switchsim ? " run" : "");
		Sim sim;
		sim.write("state", "# set by the test\nled off\n");
		if ((!backend().give_state(sim, kNobody) && c.args[0] == "-e") ||
		    (c.switchsim && (!backend().preloaded() || target().cross())))
			continue;
		sim.in_child(become_nobody);
		Args run = { SWITCHSIM_BIN, "run", target().tool };
		run.insert(run.end(), c.args.begin(), c.args.end());
		Result r = c.switchsim ? sim.exec(run, false) : sim.run(c.args);
		EXPECT_EQ(outcome(r), Outcome(c.status, c.out, c.err)) << name;
		if (!c.log.empty()) {
			EXPECT_EQ(r.log, seen(c.log)) << name;
		}
		EXPECT_NE(sim.read("state").find(c.state), std::string::npos) << name;
	}
}

} // namespace
