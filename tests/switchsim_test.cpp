// SPDX-License-Identifier: BSD-2-Clause
// The switchsim command: what a person does with the simulated switch.
#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
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
	for (const char *arg : { "help", "--help", "-h" }) {
		Sim sim;
		Result r = switchsim(sim, { arg });
		EXPECT_EQ(r.status, 0) << arg;
		EXPECT_EQ(r.out.rfind("usage: switchsim run", 0), 0u) << arg;
		EXPECT_EQ(r.err, "") << arg;
	}
}

TEST(Switchsim, BadInputChangesNothing)
{
	SKIP_UNLESS_SWITCHSIM_COMMAND();
	const Args cases[] = {
		{}, { "frobnicate" }, { "run" }, { "show", "extra" }, { "help", "me" },
		{ "set", "lan4", "up" }, { "set", "lan0" }, { "set", "lan0", "sideways" },
		{ "set", "lan0", "up", "fast" }, { "set", "lan0", "up", "-100" },
		{ "set", "lan0", "up", "99999999999" }, { "set", "lan0", "up", "100", "double" },
		{ "set", "lan0", "up", "100", "full", "extra" },
		{ "set", "led", "blue" }, { "set", "led", "amber", "now" },
		{ "set", "header", "yes" }, { "set", "header" },
	};
	for (const auto &args : cases) {
		std::string name = ::testing::PrintToString(args);
		Sim sim;
		sim.write("state", "lan0 down 0 half\n");
		Result r = switchsim(sim, args);
		EXPECT_EQ(r.status, 2) << name;
		EXPECT_TRUE(one_line(r.err)) << name << ": " << r.err;
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
	// Written by rename: nothing but the state file and the lock is left behind.
	EXPECT_EQ(files(sim.dir), (Args{ "lock", "state" }));
	Result show = switchsim(sim, { "show" });
	EXPECT_EQ(show.status, 0);
	EXPECT_NE(show.out.find("lan2   up 100 half\n"), std::string::npos) << show.out;
	EXPECT_NE(show.out.find("wan    down 0 half\nled    amber\nheader on\n"), std::string::npos)
		<< show.out;

	Result r = switchsim(sim, { "run", target().tool, "-s" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "LAN0:up:1000:full\nLAN1:up:100:full\nLAN2:up:100:half\n"
			 "LAN3:down:0:half\nWAN:down:0:half\n");
	EXPECT_EQ(switchsim(sim, { "log" }).out.rfind("socket ", 0), 0u);

	// Reset leaves nothing of ours: what runs leave, and what runs that died leave.
	for (const char *f :
	     { "state", "log", "log.old", "switch_phy", "state.Ab12Cd", "switch_phy.Xy34Zw" })
		sim.write(f, "x\n");
	r = switchsim(sim, { "reset" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(files(sim.dir), Args{ "lock" });
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

TEST(Log, MovesAsideAtOneMebibyteKeepingOneOldFile)
{
	SKIP_IN_ROUTER();
	Sim sim;
	std::string full;
	while (full.size() < (1u << 20))
		full += "ioctl 3 0x89ff block=... data=0100\n";
	sim.write("log", full);
	sim.write("log.old", "older still\n");
	// Not run(): that starts by removing the log.
	Result r = sim.exec(sim.command({ "-l", "amber" }, true), true);
	EXPECT_EQ(r.status, 0) << r.err;
	// The line that reached the limit ends the old file.
	std::string old = sim.read("log.old");
	EXPECT_EQ(old.compare(0, full.size(), full), 0);
	EXPECT_EQ(old.substr(full.size()).rfind("socket ", 0), 0u);
	ASSERT_EQ(r.log.size(), 2u);
	EXPECT_EQ(r.log[0].rfind("ioctl ", 0), 0u);
	EXPECT_EQ(r.log[1].rfind("close ", 0), 0u);
	if (!target().cross()) {
		EXPECT_EQ(switchsim(sim, { "log" }).out, old + sim.read("log"));
	}
}

// A full disk (here, a file size limit) must not leave half a line for the
// next one to be appended to, and the message names the real error.
TEST(Log, ALineIsWrittenWholeOrNotAtAll)
{
	SKIP_IN_ROUTER();
	Sim sim;
	std::string before;
	while (before.size() < 200)
		before += "ioctl 3 0x89ff block=... data=0100\n";
	sim.write("log", before);
	rlim_t limit = before.size() + 4;
	sim.in_child([limit] {
		struct rlimit rl = { limit, limit };
		setrlimit(RLIMIT_FSIZE, &rl);
		signal(SIGXFSZ, SIG_IGN);
	});
	Result r = sim.exec(sim.command({ "-s" }, true), true);
	std::string err = "switchsim: " + sim.dir + "/log: " + std::strerror(EFBIG) + "\n";
	EXPECT_EQ(outcome(r), Outcome(2, "", err));
	EXPECT_EQ(sim.read("log"), before);
}

// switchsim log holds the log still while it copies it: the reader misses
// nothing of a move aside, and no run waits on a reader stalled on output.
TEST(Log, AReaderSeesEveryLineThroughAMoveAside)
{
	SKIP_UNLESS_SWITCHSIM_COMMAND();
	Sim sim;
	std::string old, cur;
	while (old.size() < (256u << 10))
		old += "older " + std::to_string(old.size()) + "\n";
	while (cur.size() < (1u << 20) - 64)
		cur += "current " + std::to_string(cur.size()) + "\n";
	sim.write("log.old", old);
	sim.write("log", cur);
	auto start = [&sim](int out, std::vector<const char *> argv) {
		pid_t pid = fork();
		if (pid == 0) {
			::setenv("SWITCHSIM_DIR", sim.dir.c_str(), 1);
			if (out >= 0)
				dup2(out, 1);
			argv.push_back(nullptr);
			execv(argv[0], const_cast<char **>(argv.data()));
			_exit(127);
		}
		return pid;
	};
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	// The reader fills the pipe and waits there, within log.old.
	pid_t reader = start(p[1], { SWITCHSIM_BIN, "log" });
	close(p[1]);
	usleep(200000);
	pid_t writer = start(-1, { target().ethreg.c_str(), "-i", "phy0", "0x00000001=0x00000002" });
	int st = 0, wst = 0;
	pid_t done = 0;
	for (int i = 0; i < 100 && !(done = waitpid(writer, &wst, WNOHANG)); i++)
		usleep(50000);
	EXPECT_EQ(done, writer) << "a run waits on a stalled reader";
	std::string got;
	char buf[65536];
	for (ssize_t n; (n = read(p[0], buf, sizeof(buf))) > 0;)
		got.append(buf, static_cast<size_t>(n));
	close(p[0]);
	waitpid(reader, &st, 0);
	EXPECT_EQ(st, 0);
	if (done != writer)
		waitpid(writer, &wst, 0);
	EXPECT_EQ(wst, 0);
	EXPECT_TRUE(got == old + cur) << got.size() << " bytes of " << old.size() + cur.size();
}

// Any size a person writes is read; errors name the file, the line and the
// reason. The model's own tests hold every reason; here, how each is reported.
TEST(StateFile, AnySizeIsReadAndErrorsAreNamed)
{
	SKIP_IN_ROUTER();
	std::vector<std::pair<std::string, std::string>> cases = {
		// The state, and the error after "switchsim: DIR/state" (none: read).
		{ "\n\nlan0 up 0x full\n", ":3: link is up, down or a number; speed a number; "
					   "duplex full, half or a number" },
		{ std::string(1 << 20, '#') + "\n", ": larger than 1 MiB" },
		{ "lan0 up 1000 full\nlan9 up\n",
		  ":2: expected lan0..lan3, wan, led, header or reg with its values" },
	};
	const std::string last = "\nlan0 down 0 half\n";
	for (size_t size : { 4095, 4096, 4097, 200000, (1 << 20) - 1, 1 << 20 })
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
// that is not the driver's reaches the kernel untouched.
TEST(Preload, BadPointersAreEfaultNotACrash)
{
	SKIP_IN_ROUTER();
	// The kernel checks CAP_NET_ADMIN before the driver reads the record.
	const std::string status = geteuid() == 0 ? "EFAULT" : "EPERM";
	Sim sim;
	Result r = probe(sim, { "pointers" });
	const std::string out = "led-null-block EFAULT\nled-unmapped-block EFAULT\n"
				"led-block-at-page-end ok\nled-unmapped-data EFAULT\n"
				"header-unmapped-data EFAULT\nstatus-unmapped-data " + status +
				"\nstatus-read-only-data " + status +
				"\nfionbio-int-at-page-end ok\n";
	EXPECT_EQ(outcome(r), Outcome(0, out, ""));
	// What the driver never read is not logged; the other request's
	// argument not at all.
	std::vector<std::string> ioctls = grep(r.log, "ioctl ");
	ASSERT_EQ(ioctls.size(), geteuid() == 0 ? 3u : 2u) << ::testing::PrintToString(r.log);
	EXPECT_EQ(ioctls[0], request(0x89ff, 2));
	EXPECT_EQ(ioctls.back().find(" block="), std::string::npos) << ioctls.back();
	EXPECT_NE(ioctls.back().find(" passed-on"), std::string::npos) << ioctls.back();
	EXPECT_NE(sim.read("state").find("\nled amber\n"), std::string::npos);
}

// Every table and every piece of state of the simulated switch is safe
// from any thread.
TEST(Preload, ThreadsShareItSafely)
{
	SKIP_IN_ROUTER();
	struct Case {
		Args args;
		size_t events; // requests, or link cycles
	} cases[] = {
		{ { "sockets", "16", "250" }, 4000 },
		{ { "shells", "8", "25" }, 200 },
		// A frame of the C library's size, no more: big buffers are not on the stack.
		{ { "sockets", "2", "10", "small" }, 20 },
		{ { "shells", "2", "5", "small" }, 10 },
	};
	for (const auto &c : cases) {
		std::string name = ::testing::PrintToString(c.args);
		Sim sim;
		Result r = probe(sim, c.args);
		std::string out = c.args[0] + " failed 0\nLD_PRELOAD kept\n";
		EXPECT_EQ(outcome(r), Outcome(0, out, "")) << name;
		// The log may have been moved aside on the way.
		std::istringstream in(sim.read("log.old") + sim.read("log"));
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
