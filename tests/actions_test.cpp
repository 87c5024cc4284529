// SPDX-License-Identifier: BSD-2-Clause
// LAN link cycling, WAN LED and Atheros header: what reaches the driver,
// its file and the register tool, and the exit status that comes back.
#include "harness.h"

#include <cerrno>

namespace {

using namespace std::string_literals;

TEST(LinkCycle, WritesFiveDigitsToTheDriverFile)
{
	struct Case {
		Args args;
		const char *digits;
	} cases[] = {
		{ { "-w", "5" }, "51111" }, { { "-w", "3", "-m", "1" }, "30001" },
		{ { "-w", "3", "-m", "5" }, "30101" }, { { "-w", "0", "-m", "6" }, "00110" },
		{ { "-w", "9", "-m", "8" }, "91000" },
		// SECS is its first character less '0', limited to 0..9.
		{ { "-w", "12" }, "11111" }, { { "-w", "x" }, "91111" },
		{ { "-w", "x", "-m", "-1" }, "91111" }, { { "-w", ":" }, "91111" },
		{ { "-w", "/" }, "01111" }, { { "-w", "" }, "01111" },
		{ { "-w", "\xff" }, "01111" },
		// MASK is base 10, low four bits, bit 3 first.
		{ { "-w", "7", "-m", "16" }, "70000" }, { { "-w", "7", "-m", "-1" }, "71111" },
		{ { "-w", "7", "-m", "0x0f" }, "70000" }, { { "-w", "7", "-m", "015" }, "71111" },
		{ { "-w", "7", "-m", "  5" }, "70101" }, { { "-w", "7", "-m", "+5kg" }, "70101" },
		{ { "-w", "7", "-m", "abc" }, "70000" },
		{ { "-w", "7", "-m", "99999999999999999999" }, "71111" },
		{ { "-w", "7", "-m", "-99999999999999999999" }, "70000" },
		// Saturated at the int bounds, wherever long is wider.
		{ { "-w", "7", "-m", "2147483648" }, "71111" },
		{ { "-w", "7", "-m", "-2147483649" }, "70000" },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.args);
		Sim sim;
		Result r = sim.run(c.args);
		EXPECT_EQ(outcome(r), Outcome(0, "", "")) << name;
		std::string digits = c.digits;
		EXPECT_EQ(r.log, seen({ "system echo -n " + digits + " >/proc/switch_phy",
					"switch_phy " + hex(digits) }))
			<< name;
	}
}

// A hold from an earlier boot never holds a port; one of this boot holds it
// until it ends, however far off. The state names its boot by the first 15
// hex digits of the boot id; the module's state is never of another boot.
TEST(LinkCycle, ChosenPortsReportDownForTheSeconds)
{
	const std::string id = shell("cat /proc/sys/kernel/random/boot_id");
	ASSERT_GE(id.size(), 17u) << id;
	const std::string boot = "boot 0x" + id.substr(0, 8) + id.substr(9, 4) + id.substr(14, 3) + "\n";
	const std::string far = "lan0 up 1000 full 999999999999999999\n";
	const char *up = "LAN0:up:1000:full\nLAN1:up:1000:full\nLAN2:up:100:full\nLAN3:up:10:half\n"
			 "WAN:up:1000:full\n";
	const char *lan0_down = "LAN0:down:0:half\nLAN1:up:1000:full\nLAN2:up:100:full\n"
				"LAN3:up:10:half\nWAN:up:1000:full\n";
	struct Case {
		std::vector<Args> cycles;
		const char *report;
		std::string hold = ""; // state lines on top
		bool preload_only = false;
	} cases[] = {
		// Mask bit i is LAN i.
		{ { { "-w", "9", "-m", "5" } },
		  "LAN0:down:0:half\nLAN1:up:1000:full\nLAN2:down:0:half\nLAN3:up:10:half\n"
		  "WAN:up:1000:full\n" },
		// A shorter cycle does not end a longer one.
		{ { { "-w", "9", "-m", "1" }, { "-w", "0", "-m", "3" } }, lan0_down },
		// This boot's hold, however far off, until it ends.
		{ {}, lan0_down, far + boot },
		{ { { "-w", "0", "-m", "1" } }, lan0_down, far + boot },
		{ {}, up, "lan0 up 1000 full 1\n" + boot },
		// Another boot's, or one of no boot: none.
		{ {}, up, far + "boot 0x123456789abcdef\n", true },
		{ {}, up, far, true },
		{ { { "-w", "0", "-m", "1" } }, up, far + "boot 0x123456789abcdef\n", true },
	};
	for (const auto &c : cases) {
		if (c.preload_only && !backend().preloaded())
			continue;
		Sim sim;
		sim.write("state", "lan0 up 1000 full\nlan1 up 1000 full\nlan2 up 100 full\n"
				   "lan3 up 10 half\nwan up 1000 full\n" + c.hold);
		for (const auto &args : c.cycles)
			EXPECT_EQ(sim.run(args).status, 0) << ::testing::PrintToString(args);
		EXPECT_EQ(sim.run({}).out, c.report) << c.hold;
		if (!c.cycles.empty() && backend().preloaded()) {
			EXPECT_NE(sim.read("state").find(boot), std::string::npos) << c.hold;
		}
	}
}

// Each action's requests, its file and the register tool, as each backend's
// driver sees them, and what comes back: rows are compared whole, so where
// the two switches differ one of them fails here. A failed request ends the
// action: never the shell or the register tool.
TEST(Actions, WhatReachesTheDriverAndWhatComesBack)
{
	using Log = std::vector<std::string>;
	auto sent = [](unsigned code, uint16_t flags) {
		return Log{ "socket S inet dgram", request(code, flags), "close S" };
	};
	// The header's request, then its register through the register tool.
	auto header = [&](uint16_t flags, const std::string &reg) {
		Log log = sent(0x89fe, flags);
		log.push_back("system /sbin/ethreg -i phy0 0x0000009c=" + reg);
		log.push_back("ethreg [-i] [phy0] [0x0000009c=" + reg + "]");
		return log;
	};
	auto failed = [](int err) { return "socket failed, " + errtext(err) + "\n"; };
	const char kSocket[] = "SWITCHSIM_FAIL_SOCKET", kIoctl[] = "SWITCHSIM_FAIL_IOCTL";
	const std::string ioerr = "ioctl error!\n";
	// The whole state text a request leaves, the same from both switches;
	// the preloaded one's then names its boot.
	const std::string reg = "reg 0x00000100 0x00000007\n";
	auto text = [](const std::string &rest) {
		return "# switchsim state; edit freely, one setting a line.\n"
		       "# port link speed duplex [held down until: ms on the boot clock]\n"
		       "lan0 up 1000 full\nlan1 down 0 half\nlan2 up 10 half\nlan3 down 0 half\n"
		       "wan up 1000 full\n"s + rest;
	};
	struct Case {
		Args args;
		const char *var, *value; // a fault to inject, or nullptr
		std::string err;         // the run fails, status 255, when it is set
		Log log;
		std::string state = ""; // what the state file then holds
		const char *out = "";
	} cases[] = {
		{ {}, nullptr, nullptr, "", sent(0x8948, 0), "",
		  "LAN0:up:1000:full\nLAN1:down:0:half\nLAN2:up:10:half\nLAN3:down:0:half\n"
		  "WAN:up:1000:full\n" },
		{ { "-l", "off" }, nullptr, nullptr, "", sent(0x89ff, 0), text("led off\nheader off\n" + reg) },
		{ { "-l", "green" }, nullptr, nullptr, "", sent(0x89ff, 1),
		  text("led green\nheader off\n" + reg) },
		{ { "-l", "amber" }, nullptr, nullptr, "", sent(0x89ff, 2),
		  text("led amber\nheader off\n" + reg) },
		{ { "-e", "on" }, nullptr, nullptr, "", header(1, "0x00000002"),
		  text("led green\nheader on\n" + reg + "reg 0x0000009c 0x00000002\n") },
		{ { "-e", "off" }, nullptr, nullptr, "", header(0, "0x00000000"),
		  text("led green\nheader off\n" + reg + "reg 0x0000009c 0x00000000\n") },
		{ { "-s" }, kSocket, "EMFILE", failed(EMFILE), { "socket -1 EMFILE" } },
		{ { "-s" }, kSocket, "EACCES", failed(EACCES), { "socket -1 EACCES" } },
		{ { "-s" }, kSocket, "EINTR", failed(EINTR), { "socket -1 EINTR" } },
		{ { "-l", "green" }, kSocket, "ENFILE", failed(ENFILE), { "socket -1 ENFILE" } },
		{ { "-e", "off" }, kSocket, "EMFILE", failed(EMFILE), { "socket -1 EMFILE" } },
		{ { "-s" }, kIoctl, "0x8948:EIO", ioerr, sent(0x8948, 0) },
		{ { "-s" }, kIoctl, "0x8948:ENODEV", ioerr, sent(0x8948, 0) },
		{ { "-l", "green" }, kIoctl, "0x89FF:EIO", ioerr, sent(0x89ff, 1) },
		{ { "-l", "off" }, kIoctl, "0x89FF:EBUSY", ioerr, sent(0x89ff, 0) },
		{ { "-e", "on" }, kIoctl, "0x89FE:EBUSY", ioerr, sent(0x89fe, 1) },
		{ { "-e", "off" }, kIoctl, "0x89FE:EIO", ioerr, sent(0x89fe, 0) },
	};
	for (const auto &c : cases) {
		if (c.var && !can_inject(c.var, c.value))
			continue;
		std::string name = ::testing::PrintToString(c.args) + " " + (c.var ? c.value : "");
		Sim sim;
		sim.write("state", "lan0 up 1000 full\nlan1 down 0 half\nlan2 up 10 half\n"
				   "lan3 down 0 half\nwan up 1000 full\nreg 0x100 7\n");
		if (c.var)
			sim.setenv(c.var, c.value);
		Result r = sim.run(c.args);
		EXPECT_EQ(outcome(r), Outcome(c.err.empty() ? 0 : 255, c.out, c.err)) << name;
		EXPECT_EQ(r.log, seen(c.log)) << name;
		EXPECT_NE(sim.read("state").find(c.state), std::string::npos) << name;
	}
}

TEST(Actions, ShellResultsReachTheExitStatus)
{
	const int kShell = -2;
	// The shell's own message, which names the router's file at fault.
	const std::string kNames = "(the shell's own message, naming) ";
	auto failed = [](int err) { return "system failed, " + errtext(err) + "\n"; };
	struct Case {
		Args args;
		const char *var, *value;
		int status;      // kShell: whatever non-zero code the shell chose
		std::string err; // exact, or kNames and the path
	} cases[] = {
		{ { "-w", "5" }, "SWITCHSIM_FAIL_PROC", "1", kShell, kNames + "/proc/switch_phy" },
		{ { "-e", "on" }, "SWITCHSIM_FAIL_ETHREG", "missing", 127, kNames + "/sbin/ethreg" },
		{ { "-e", "on" }, "SWITCHSIM_FAIL_ETHREG", "3", 3, "ethreg: simulated failure\n" },
		{ { "-e", "off" }, "SWITCHSIM_FAIL_ETHREG", "1", 1, "ethreg: simulated failure\n" },
		{ { "-e", "on" }, "SWITCHSIM_FAIL_ETHREG", "255", 255, "ethreg: simulated failure\n" },
		{ { "-w", "5" }, "SWITCHSIM_FAIL_PROC", "0", 0, "" },
		{ { "-w", "5" }, "SWITCHSIM_FAIL_SYSTEM", "signal:15", 143, "" },
		{ { "-e", "on" }, "SWITCHSIM_FAIL_SYSTEM", "signal:9", 137, "" },
		{ { "-w", "5" }, "SWITCHSIM_FAIL_SYSTEM", "ECHILD", 255, failed(ECHILD) },
		{ { "-e", "on" }, "SWITCHSIM_FAIL_SYSTEM", "EAGAIN", 255, failed(EAGAIN) },
	};
	for (const auto &c : cases) {
		if (!can_inject(c.var, c.value))
			continue;
		std::string name = ::testing::PrintToString(c.args) + " " + c.value;
		Sim sim;
		sim.setenv(c.var, c.value);
		Result r = sim.run(c.args);
		// The router's own shell says what it says.
		bool shell = c.status == kShell, names = c.err.rfind(kNames, 0) == 0;
		EXPECT_TRUE(shell ? r.status > 0 && r.status < 126 : r.status == c.status)
			<< name << ": status " << r.status << "\n" << r.err;
		EXPECT_EQ(r.out, "") << name;
		EXPECT_TRUE(!names		       ? r.err == c.err
			    : backend().preloaded() ? r.err.find(c.err.substr(kNames.size()) + ":") !=
							      std::string::npos
						    : !r.err.empty())
			<< name << ": " << r.err;
	}
}

// What both switches share, the preloaded one on the host and under
// qemu-user and the driver module in the emulated router, beyond the actions'
// table above.
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
