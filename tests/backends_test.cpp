// SPDX-License-Identifier: BSD-2-Clause
// What both switches share: the preloaded simulated switch on the host and
// under qemu-user, and the switch driver module in the emulated router (the
// actions' own table is Actions.WhatReachesTheDriverAndWhatComesBack).
#include "harness.h"

namespace {

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
		Args args;
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
