// Command-line handling: usage on every kind of error, and which one action
// runs for a command line.
#include "harness.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Args = std::vector<std::string>;

// What reached the driver and the shell, one word per request.
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
		else if (line.rfind("system ", 0) == 0)
			what = line.substr(7);
		else
			continue;
		s += (s.empty() ? "" : " | ") + what;
	}
	return s;
}

TEST(Usage, EveryCommandLineErrorPrintsUsageAndSendsNothing)
{
	struct Case {
		Args args;
		bool library_diagnostic; // getopt_long's own line comes first
	} cases[] = {
		{ { "-x" }, true },
		{ { "--bogus" }, true },
		{ { "-w" }, true },
		{ { "-m" }, true },
		{ { "-l" }, true },
		{ { "-e" }, true },
		{ { "--switch-lan-phy" }, true },
		{ { "--get-phy-status=1" }, true },
		{ { "--switch", "3" }, true }, // ambiguous abbreviation
		{ { "-e", "on", "-q" }, true },
		{ { "-l", "blue" }, false },
		{ { "-l", "Green" }, false },
		{ { "-l", "" }, false },
		{ { "--set-wan-led=GREEN" }, false },
		{ { "-e", "ON" }, false },
		{ { "-e", "yes" }, false },
		{ { "-s", "-e", "of" }, false },
		{ { "-s", "extra" }, false },
		{ { "extra" }, false },
		{ { "-w", "5", "-m", "3", "now" }, false },
		{ { "-l", "green", "--", "-s" }, false },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.args);
		Sim sim;
		Result r = sim.run(c.args);
		EXPECT_EQ(r.status, 255) << name;
		EXPECT_EQ(r.out, "") << name;
		EXPECT_TRUE(r.log.empty()) << name << ": " << ::testing::PrintToString(r.log);
		ASSERT_TRUE(ends_with_usage(r.err)) << name << ": " << r.err;
		std::string before = r.err.substr(0, r.err.size() - std::strlen(kUsage));
		if (c.library_diagnostic) {
			EXPECT_TRUE(!before.empty() && before.find('\n') == before.size() - 1)
				<< name << ": " << before;
		} else {
			EXPECT_EQ(before, "") << name;
		}
	}
}

TEST(Usage, TextIsThirteenLinesOf463Bytes)
{
	EXPECT_EQ(std::strlen(kUsage), 463u);
	Sim sim;
	Result r = sim.run({ "extra" });
	EXPECT_EQ(r.err, kUsage);
}

TEST(Dispatch, OneActionByPriority)
{
	const std::string cycle = "echo -n ";
	const std::string to_proc = " >/proc/switch_phy";
	const std::string ethreg = "/sbin/ethreg -i phy0 0x0000009c=";
	struct Case {
		Args args;
		std::string actions;
	} cases[] = {
		{ {}, "status" },
		{ { "-s" }, "status" },
		{ { "--get-phy-status" }, "status" },
		{ { "-m", "3" }, "status" },
		{ { "-s", "-w", "5" }, "status" },
		{ { "-w", "5", "-s" }, "status" },
		{ { "-sw4" }, "status" },
		{ { "-e", "on", "-l", "green", "-w", "5", "-s" }, "status" },
		{ { "-w", "5", "-l", "green" }, cycle + "51111" + to_proc },
		{ { "-e", "on", "-w", "3" }, cycle + "31111" + to_proc },
		{ { "-w4", "-m1" }, cycle + "40001" + to_proc },
		{ { "--switch-lan-phy=3", "--switch-lan-mask=5" }, cycle + "30101" + to_proc },
		{ { "--switch-lan-phy", "3", "--switch-lan-mask", "5" }, cycle + "30101" + to_proc },
		{ { "--switch-lan-p=2" }, cycle + "21111" + to_proc },
		{ { "-m", "2", "-w", "6", "-m", "8" }, cycle + "61000" + to_proc },
		{ { "-l", "green", "-e", "on" }, "led" },
		{ { "-e", "on", "-l", "green" }, "led" },
		{ { "--set=amber" }, "led" },
		{ { "-e", "on" }, "header | " + ethreg + "0x00000002" },
		{ { "--ctl=off" }, "header | " + ethreg + "0x00000000" },
		{ { "-e", "on", "-e", "off" }, "header | " + ethreg + "0x00000000" },
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
