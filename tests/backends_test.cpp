// SPDX-License-Identifier: BSD-2-Clause
// The same rows on every backend: the preloaded simulated switch on the host
// and under qemu-user, and the switch driver module in the emulated router.
// Each row is compared whole, so where the two switches differ one of them
// fails here.
#include "harness.h"

#include <gtest/gtest.h>

namespace {

// The lines every backend's driver sees: its requests, its file and the
// register tool.
std::vector<std::string> driver_log(const std::vector<std::string> &log)
{
	std::vector<std::string> lines;
	for (const auto &l : log)
		if (l.rfind("ioctl ", 0) == 0 || l.rfind("switch_phy ", 0) == 0 ||
		    l.rfind("ethreg ", 0) == 0)
			lines.push_back(l);
	return lines;
}

TEST(Backends, AgreeOnOutputStatusAndDriverLog)
{
	const std::string block = " block=" + expected_block() + " data=";
	std::string record;
	for (uint32_t i = 0; i < 20; i++)
		record += hex_u32(i < 5 ? i : 0);
	const std::string status = "ioctl S 0x8948" + block + record;
	const char report[] = "LAN0:up:1000:full\nLAN1:down:0:half\nLAN2:up:10:half\n"
			      "LAN3:down:0:half\nWAN:up:1000:full\n";
	struct Case {
		std::vector<std::string> args;
		const char *fault; // SWITCHSIM_FAIL_IOCTL, or nullptr
		std::string out, err;
		int status;
		std::vector<std::string> log;
	} cases[] = {
		{ {}, nullptr, report, "", 0, { status } },
		{ { "-s" }, "0x8948:EIO", "", "ioctl error!\n", 255, { status } },
		{ { "-l", "amber" }, nullptr, "", "", 0, { "ioctl S 0x89ff" + block + hex_u16(2) } },
		{ { "-l", "off" }, "0x89FF:EBUSY", "", "ioctl error!\n", 255,
		  { "ioctl S 0x89ff" + block + hex_u16(0) } },
		{ { "-e", "on" }, nullptr, "", "", 0,
		  { "ioctl S 0x89fe" + block + hex_u16(1), "ethreg [-i] [phy0] [0x0000009c=0x00000002]" } },
		{ { "-e", "off" }, "0x89FE:EIO", "", "ioctl error!\n", 255,
		  { "ioctl S 0x89fe" + block + hex_u16(0) } },
		{ { "-w", "3", "-m", "5" }, nullptr, "", "", 0, { "switch_phy 3330313031" } },
		{ { "-w", "x", "-m", "-1" }, nullptr, "", "", 0, { "switch_phy 3931313131" } },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.args);
		Sim sim;
		sim.write("state", "lan0 up 1000 full\nlan1 down 0 half\nlan2 up 10 half\n"
				   "lan3 down 0 half\nwan up 1000 full\n");
		if (c.fault)
			sim.setenv("SWITCHSIM_FAIL_IOCTL", c.fault);
		Result r = sim.run(c.args);
		EXPECT_EQ(r.out, c.out) << name;
		EXPECT_EQ(r.err, c.err) << name;
		EXPECT_EQ(r.status, c.status) << name;
		EXPECT_EQ(driver_log(r.log), c.log) << name;
	}
}

// Both switches print their state through the same model: byte for byte
// the same text for the same state.
TEST(Backends, PrintTheSameStateText)
{
	Sim sim;
	sim.write("state", "lan2 up 10 half\nheader on\nreg 0x9c 2\n");
	Result r = sim.run({ "-l", "amber" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(sim.read("state"), "# switchsim state; edit freely, one setting a line.\n"
				     "# port link speed duplex [held down until: ms on the boot clock, boot id]\n"
				     "lan0 up 1000 full\n"
				     "lan1 up 100 full\n"
				     "lan2 up 10 half\n"
				     "lan3 down 0 half\n"
				     "wan up 1000 full\n"
				     "led amber\n"
				     "header on\n"
				     "reg 0x0000009c 0x00000002\n");
}

// The register tool stand-in takes one command line, and logs whatever it
// is given, cut to fit a line of either switch's log.
TEST(Backends, RegisterToolTakesItsOneCommandLine)
{
	struct Case {
		std::vector<std::string> args;
		int status;
	} cases[] = {
		{ { "-i", "phy0", "0x0000009c=0x00000002" }, 0 },
		{ { "-i", "phy1", "0x0000009c=0x00000002" }, 1 },
		{ { "-i", std::string(600, 'x'), "0x0000009c=0x00000002" }, 1 },
		{ { "-i", "phy0", "0x9c=2" }, 2 },
		{ { "-i", "phy0", std::string(600, '0') }, 2 },
	};
	const std::vector<std::string> ethreg = words(target().ethreg);
	for (const auto &c : cases) {
		std::string name = c.args[1].substr(0, 8) + " " + c.args[2].substr(0, 24);
		Sim sim;
		std::vector<std::string> argv = ethreg;
		argv.insert(argv.end(), c.args.begin(), c.args.end());
		Result r = sim.exec(argv, false);
		EXPECT_EQ(r.status, c.status) << name << ": " << r.err;
		EXPECT_EQ(r.status == 0, r.err.empty()) << name;
		EXPECT_EQ(grep(r.log, "ethreg [-i] [").size(), 1u) << name;
	}
}

} // namespace
