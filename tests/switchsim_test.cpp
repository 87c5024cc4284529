// SPDX-License-Identifier: BSD-2-Clause
// The switchsim command: what a person does with the simulated switch.
#include "harness.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

Result switchsim(const Sim &sim, Args args)
{
	args.insert(args.begin(), SWITCHSIM_BIN);
	return sim.exec(args, false);
}

TEST(Switchsim, HelpIsNoError)
{
	SKIP_UNLESS_SWITCHSIM_COMMAND();
	const std::string set = "       switchsim set PORT LINK [SPEED [DUPLEX]]\n"
				"       switchsim set led off|green|amber\n"
				"       switchsim set header on|off\n"
				"       switchsim set reg ADDRESS VALUE\n",
			  ports = "PORT is lan0, lan1, lan2, lan3 or wan; LINK is up or down, "
				  "DUPLEX full or half.\n",
			  all = "usage: switchsim run COMMAND [ARG ...]\n" + set +
				"       switchsim show\n       switchsim log\n       switchsim reset\n"
				"       switchsim help [COMMAND]\n" + ports;
	const std::pair<Args, std::string> cases[] = {
		{ { "help" }, all },
		{ { "--help" }, all },
		{ { "-h" }, all },
		{ { "help", "run" }, "usage: switchsim run COMMAND [ARG ...]\n" },
		{ { "-h", "help" }, "usage: switchsim help [COMMAND]\n" },
		{ { "help", "set" }, "usage:" + set.substr(6) + ports },
	};
	for (const auto &c : cases) {
		Sim sim;
		EXPECT_EQ(outcome(switchsim(sim, c.first)), Outcome(0, c.second, ""))
			<< ::testing::PrintToString(c.first);
	}
}

TEST(Switchsim, BadInputChangesNothing)
{
	SKIP_UNLESS_SWITCHSIM_COMMAND();
	// The input, and the word its error names first, if any.
	const std::pair<Args, std::string> cases[] = {
		{ {}, "" }, { { "frobnicate" }, "frobnicate" }, { { "run" }, "" },
		{ { "show", "extra" }, "" }, { { "help", "me" }, "me" }, { { "help", "run", "x" }, "" },
		{ { "set", "lan4", "up" }, "lan4" }, { { "set", "lan0" }, "" },
		{ { "set", "lan0", "sideways" }, "sideways" }, { { "set", "lan1", "up", "fast" }, "fast" },
		{ { "set", "lan0", "up", "-100" }, "-100" },
		{ { "set", "lan0", "up", "99999999999" }, "99999999999" },
		{ { "set", "lan0", "up", "100", "double" }, "double" },
		{ { "set", "lan0", "up", "100", "full", "extra" }, "" },
		{ { "set", "led", "blue" }, "blue" }, { { "set", "led", "amber", "now" }, "now" },
		{ { "set", "header", "yes" }, "yes" }, { { "set", "header" }, "" },
		{ { "set", "reg", "0x9c" }, "" }, { { "set", "reg", "0x9c", "two" }, "two" },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.first);
		Sim sim;
		sim.write("state", "lan0 down 0 half\n");
		Result r = switchsim(sim, c.first);
		EXPECT_EQ(r.status, 2) << name;
		EXPECT_TRUE(one_line(r.err)) << name << ": " << r.err;
		EXPECT_EQ(r.err.rfind("switchsim: " + c.second + (c.second.empty() ? "" : ": "), 0), 0u)
			<< name << ": " << r.err;
		EXPECT_EQ(r.out, "") << name;
		EXPECT_EQ(sim.read("state"), "lan0 down 0 half\n") << name;
	}
}

TEST(Switchsim, SetShowRunAndReset)
{
	SKIP_UNLESS_SWITCHSIM_COMMAND();
	Sim sim;
	EXPECT_EQ(switchsim(sim, { "set", "lan2", "up", "100", "half" }).status, 0);
	EXPECT_EQ(switchsim(sim, { "set", "wan", "down" }).status, 0);
	EXPECT_EQ(switchsim(sim, { "set", "led", "amber" }).status, 0);
	EXPECT_EQ(switchsim(sim, { "set", "header", "on" }).status, 0);
	// Written by rename: nothing but the state file is left behind.
	EXPECT_EQ(files(sim.dir), Args{ "state" });
	Result show = switchsim(sim, { "show" });
	EXPECT_EQ(show.status, 0);
	EXPECT_NE(show.out.find("\nlan2 up 100 half\n"), std::string::npos) << show.out;
	EXPECT_NE(show.out.find("\nwan down 0 half\nled amber\nheader on\n"), std::string::npos)
		<< show.out;

	Result r = switchsim(sim, { "run", target().tool, "-s" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "LAN0:up:1000:full\nLAN1:up:100:full\nLAN2:up:100:half\n"
			 "LAN3:down:0:half\nWAN:down:0:half\n");
	EXPECT_EQ(switchsim(sim, { "log" }).out.rfind("socket ", 0), 0u);

	// Reset: an empty state, the default, and an empty log.
	sim.write("state.new", "lan0 down\n");
	r = switchsim(sim, { "reset" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(sim.read("state") + sim.read("log"), "");
	EXPECT_EQ(sim.run({}).out.rfind("LAN0:up:1000:full\nLAN1:up:100:full\nLAN2:down:0:half\n", 0), 0u);
}

TEST(Switchsim, DamagedStateIsReportedNotUsed)
{
	SKIP_UNLESS_SWITCHSIM_COMMAND();
	Sim sim;
	sim.write("state", "lan0 up 1000 full\nlan9 up\n");
	Result show = switchsim(sim, { "show" });
	EXPECT_EQ(show.status, 2);
	EXPECT_NE(show.err.find("state:2:"), std::string::npos) << show.err;
	// The driver refuses a report of made-up ports (StateFile's table), and
	// a link cycle too: the shell's write fails, and so does the run.
	Result r = sim.run({ "-w", "5", "-m", "1" });
	EXPECT_TRUE(r.status > 0 && r.status < 126) << r.status;
	EXPECT_EQ(r.out, "");
}

// A state up to its limit is read whole, however the reads fall; errors name
// the file and the line. The model's own tests hold every reason.
TEST(StateFile, ReadWholeAndErrorsAreNamed)
{
	SKIP_UNLESS_PRELOAD();
	const std::string last = "\nlan0 down 0 half\n";
	std::vector<std::pair<std::string, std::string>> cases = {
		// The state, and the error after "switchsim: DIR/state" (none: read).
		{ "\n\nlan0 up 0x full\n", ":3: not a setting (switchsim(1) has the state text)" },
		{ std::string(4097 - last.size(), '#') + last, ": longer than 4096 bytes" },
	};
	for (size_t size : { 4095, 4096 })
		cases.push_back({ std::string(size - last.size(), '#') + last, "" });
	for (const auto &c : cases) {
		Sim sim;
		sim.write("state", c.first);
		Result r = sim.run({ "-s" });
		if (c.second.empty()) {
			EXPECT_EQ(r.status, 0) << c.first.size() << ": " << r.err;
			EXPECT_EQ(r.out.rfind("LAN0:down:0:half\n", 0), 0u) << c.first.size();
		} else {
			std::string err = "switchsim: " + sim.dir + "/state" + c.second;
			EXPECT_EQ(outcome(r), Outcome(255, "", err + "\nioctl error!\n"));
		}
	}
}

// Runs the probe program under the simulated switch, as run() runs the tool.
Result probe(const Sim &sim, const Args &args)
{
	Args argv = sim.command({}, true);
	std::replace(argv.begin(), argv.end(), target().tool, target().probe);
	argv.insert(argv.end(), args.begin(), args.end());
	return sim.exec(argv, true);
}

// Like the kernel: a bad address is EFAULT, never a crash, and a request
// that is not the driver's reaches the kernel untouched; at the descriptor
// limit, the program gets its EMFILE and the driver still answers.
TEST(Preload, BadPointersAndTheDescriptorLimitAreErrorsNotCrashes)
{
	SKIP_UNLESS_PRELOAD();
	// The kernel checks CAP_NET_ADMIN before the driver reads the record.
	const std::string status = geteuid() == 0 ? "EFAULT" : "EPERM";
	Sim sim;
	Result r = probe(sim, { "pointers" });
	const std::string out = "led-null-block EFAULT\nled-unmapped-block EFAULT\n"
				"led-block-at-page-end ok\nled-unmapped-data EFAULT\n"
				"header-unmapped-data EFAULT\nstatus-unmapped-data " + status +
				"\nstatus-read-only-data " + status +
				"\nfionbio-int-at-page-end ok\nsocket-at-the-limit EMFILE\n"
				"led-at-the-limit ok\n";
	EXPECT_EQ(outcome(r), Outcome(0, out, ""));
	// What the driver never read is not logged; the other request's
	// argument not at all.
	std::vector<std::string> ioctls = grep(r.log, "ioctl ");
	ASSERT_EQ(ioctls.size(), geteuid() == 0 ? 4u : 3u) << ::testing::PrintToString(r.log);
	EXPECT_EQ(ioctls[0], request(0x89ff, 2));
	const std::string &other = ioctls[ioctls.size() - 2];
	EXPECT_EQ(other.find(" block="), std::string::npos) << other;
	EXPECT_NE(other.find(" passed-on"), std::string::npos) << other;
	EXPECT_EQ(ioctls.back(), request(0x89ff, 2));
	EXPECT_NE(sim.read("state").find("\nled amber\n"), std::string::npos);
}

// Every table and every piece of state of the simulated switch is safe
// from any thread.
TEST(Preload, ThreadsShareItSafely)
{
	SKIP_UNLESS_PRELOAD();
	struct Case {
		Args args;
		size_t events; // requests, or link cycles
	} cases[] = {
		{ { "sockets", "8", "100" }, 800 },
		{ { "shells", "4", "10" }, 40 },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.args);
		Sim sim;
		Result r = probe(sim, c.args);
		std::string out = c.args[0] + " failed 0\nLD_PRELOAD kept\n";
		EXPECT_EQ(outcome(r), Outcome(0, out, "")) << name;
		std::istringstream in(sim.read("log"));
		std::map<std::string, size_t> count;
		for (std::string line; std::getline(in, line);)
			count[line.substr(0, line.find(' '))]++;
		if (c.args[0] == "sockets") {
			EXPECT_EQ(count["socket"], c.events) << name;
			EXPECT_EQ(count["ioctl"], geteuid() == 0 ? c.events : 0) << name;
			EXPECT_EQ(count["close"], c.events) << name;
		} else {
			EXPECT_EQ(count["system"], c.events) << name;
			EXPECT_EQ(count["switch_phy"], c.events) << name;
		}
	}
}

} // namespace
