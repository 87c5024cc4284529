// SPDX-License-Identifier: BSD-2-Clause
// Command-line handling: usage on every kind of error, and which one action
// runs for a command line.
#include "harness.h"

#include <cstring>

namespace {

// What reached the driver, its file and the register tool: a word per
// request, the others' log lines whole; what every backend's driver sees.
std::string actions(const Result &r)
{
	std::string s;
	for (const auto &line : r.log) {
		std::string what;
		if (line.rfind("ioctl S 0x8948 ", 0) == 0)
			what = "status";
		else if (line.rfind("ioctl S 0x89ff ", 0) == 0)
			what = "led";
		else if (line.rfind("ioctl S 0x89fe ", 0) == 0)
			what = "header";
		else if (line.rfind("switch_phy ", 0) == 0 || line.rfind("ethreg ", 0) == 0)
			what = line;
		else
			continue;
		s += (s.empty() ? "" : " | ") + what;
	}
	return s;
}

TEST(Usage, EveryCommandLineErrorPrintsUsageAndSendsNothing)
{
	struct Case {
		bool library_diagnostic; // getopt_long's own line comes first
		std::vector<Args> lines;
	} cases[] = {
		{ true,
		  { { "-x" }, { "--bogus" }, { "-w" }, { "-m" }, { "-l" }, { "-e" },
		    { "--switch-lan-phy" }, { "--get-phy-status=1" },
		    { "--switch", "3" }, // ambiguous abbreviation
		    { "-e", "on", "-q" }, { "-h" }, { "--help" } } },
		{ false,
		  { { "-l", "blue" }, { "-l", "Green" }, { "-l", "" }, { "--set-wan-led=GREEN" },
		    { "-e", "ON" }, { "-e", "yes" }, { "-s", "-e", "of" }, { "-e", "onx" },
		    { "-l", "greenx" }, { "-s", "extra" }, { "extra" },
		    { "-w", "5", "-m", "3", "now" }, { "-l", "green", "--", "-s" } } },
	};
	for (const auto &c : cases)
		for (const auto &args : c.lines) {
			std::string name = ::testing::PrintToString(args);
			Sim sim;
			Result r = sim.run(args);
			EXPECT_EQ(r.status, 255) << name;
			EXPECT_EQ(r.out, "") << name;
			EXPECT_EQ(r.log, Args{}) << name;
			ASSERT_TRUE(ends_with_usage(r.err)) << name << ": " << r.err;
			std::string before = r.err.substr(0, r.err.size() - std::strlen(kUsage));
			EXPECT_TRUE(c.library_diagnostic ? one_line(before) : before.empty())
				<< name << ": " << before;
		}
}

TEST(Dispatch, OneActionByPriority)
{
	auto cycle = [](const char *digits) { return "switch_phy " + hex(digits); };
	const std::string ethreg = "ethreg [-i] [phy0] [0x0000009c=";
	struct Case {
		Args args;
		std::string actions;
	} cases[] = {
		{ {}, "status" }, { { "-s" }, "status" }, { { "--get-phy-status" }, "status" },
		{ { "-m", "3" }, "status" }, { { "-s", "-w", "5" }, "status" },
		{ { "-w", "5", "-s" }, "status" }, { { "-sw4" }, "status" },
		{ { "-e", "on", "-l", "green", "-w", "5", "-s" }, "status" },
		{ { "-w", "5", "-l", "green" }, cycle("51111") },
		{ { "-e", "on", "-w", "3" }, cycle("31111") }, { { "-w4", "-m1" }, cycle("40001") },
		{ { "--switch-lan-phy=3", "--switch-lan-mask=5" }, cycle("30101") },
		{ { "--switch-lan-phy", "3", "--switch-lan-mask", "5" }, cycle("30101") },
		{ { "--switch-lan-p=2" }, cycle("21111") },
		{ { "-m", "2", "-w", "6", "-m", "8" }, cycle("61000") },
		{ { "-l", "green", "-e", "on" }, "led" }, { { "-e", "on", "-l", "green" }, "led" },
		{ { "--set=amber" }, "led" },
		{ { "-e", "on" }, "header | " + ethreg + "0x00000002]" },
		{ { "--ctl=off" }, "header | " + ethreg + "0x00000000]" },
		{ { "-e", "on", "-e", "off" }, "header | " + ethreg + "0x00000000]" },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.args);
		Sim sim;
		Result r = sim.run(c.args);
		EXPECT_EQ(r.status, 0) << name << "\n" << r.err;
		EXPECT_EQ(actions(r), c.actions) << name;
	}
}

} // namespace
