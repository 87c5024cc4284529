// SPDX-License-Identifier: BSD-2-Clause
// Many runs against one simulated switch at once: no update is lost, and
// each run applies only what it did itself.
#include "harness.h"

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Command {
	Args argv;
	bool preload;
	bool report; // stdout must be a whole report
};

// What each port's line in the state file holds: "lan0 up 1000 full 73512"
std::map<std::string, std::vector<std::string>> state_lines(const std::string &text)
{
	std::map<std::string, std::vector<std::string>> got;
	for (const std::string &line : lines(text)) {
		std::vector<std::string> f = words(line);
		if (!f.empty() && f[0][0] != '#')
			got[f[0] == "reg" ? f[0] + " " + f[1] : f[0]] = f;
	}
	return got;
}

TEST(Concurrency, TwoHundredMixedCommandsLoseNothing)
{
	SKIP_UNLESS_PRELOAD();
	Sim sim;
	std::vector<Command> cmds;
	auto tool = [&](const Args &args) {
		cmds.push_back({ sim.command(args, true), true, false });
	};
	tool({ "-l", "amber" });
	tool({ "-e", "on" });
	cmds.push_back({ { SWITCHSIM_BIN, "set", "lan3", "up", "10", "half" }, false, false });
	cmds.push_back({ { SWITCHSIM_BIN, "set", "wan", "up", "100", "half" }, false, false });
	// Registers of their own, through the register tool itself; the state
	// must then hold every update.
	std::vector<Args> settings = {
		{ "led", "amber" }, { "header", "on" }, { "lan3", "up", "10", "half" },
		{ "wan", "up", "100", "half" }, { "reg", "0x0000009c", "0x00000002" },
	};
	for (int i = 0; i < 14; i++) {
		char addr[16], value[16];
		std::snprintf(addr, sizeof(addr), "0x%08x", 0x100 + i);
		std::snprintf(value, sizeof(value), "0x%08x", 0xa000 + i);
		settings.push_back({ "reg", addr, value });
		cmds.push_back({ words(target().ethreg), false, false });
		cmds.back().argv.insert(cmds.back().argv.end(),
					{ "-i", "phy0", std::string(addr) + "=" + value });
	}
	// One long link cycle among many short ones, on LAN0..LAN2 only: the
	// set commands above own LAN3.
	tool({ "-w", "9", "-m", "5" });
	std::vector<std::string> cycles = { "90101" }; // the digits of each link cycle
	for (int i = 0; i < 59; i++) {
		tool({ "-w", "0", "-m", std::to_string(i % 8) });
		cycles.push_back("00" + std::bitset<3>(i % 8).to_string());
	}
	size_t reports = 200 - cmds.size();
	while (cmds.size() < 200)
		cmds.push_back({ sim.command({ "-s" }, true), true, true });

	// All start together: each child waits until the pipe closes.
	int gate[2];
	ASSERT_EQ(pipe(gate), 0);
	auto ms = [](const struct timespec &t) {
		return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
	};
	struct timespec boot, wall;
	clock_gettime(CLOCK_BOOTTIME, &boot);
	clock_gettime(CLOCK_REALTIME, &wall);
	int64_t start_ms = ms(boot), start_wall = ms(wall);
	std::vector<pid_t> pids;
	for (const auto &c : cmds) {
		pid_t pid = fork();
		if (pid == 0) {
			close(gate[1]);
			char b;
			while (read(gate[0], &b, 1) > 0) {
			}
			close(gate[0]);
			Result r = sim.exec(c.argv, c.preload);
			bool out_ok = c.report ? is_report(r.out) : r.out.empty();
			if (r.status == 0 && (!r.err.empty() || !out_ok))
				_exit(99);
			_exit(r.status);
		}
		if (pid < 0) {
			ADD_FAILURE() << "fork: " << std::strerror(errno);
			break;
		}
		pids.push_back(pid);
	}
	close(gate[0]);
	close(gate[1]);
	for (size_t i = 0; i < pids.size(); i++) {
		int st = 0;
		waitpid(pids[i], &st, 0);
		EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0)
			<< ::testing::PrintToString(cmds[i].argv) << ": status " << st;
	}

	auto st = state_lines(sim.read("state"));
	for (const Args &set : settings)
		EXPECT_EQ(st[set[0] == "reg" ? "reg " + set[1] : set[0]], set);
	// The long cycle holds LAN0 and LAN2, whatever ran after it. A state
	// last written after the hold could have ended (a slow, sanitized run)
	// rightly shows it no more.
	struct stat sb;
	ASSERT_EQ(stat((sim.dir + "/state").c_str(), &sb), 0);
	bool may_have_ended = ms(sb.st_mtim) >= start_wall + 9000;
	for (const char *lan : { "lan0", "lan2" }) {
		if (may_have_ended && st[lan].size() == 4)
			continue;
		ASSERT_EQ(st[lan].size(), 5u) << lan;
		EXPECT_GE(std::stoll(st[lan][4]), start_ms + 9000) << lan;
		EXPECT_LT(std::stoll(st[lan][4]), start_ms + 9000 + 60000) << lan;
	}

	// Every request and every cycle is in the log, each once.
	std::vector<std::string> log = sim.exec({ "/bin/true" }, false).log;
	EXPECT_EQ(grep(log, "ioctl S 0x8948 ").size(), reports);
	EXPECT_EQ(grep(log, "ioctl S 0x89ff ").size(), 1u);
	EXPECT_EQ(grep(log, "ioctl S 0x89fe ").size(), 1u);
	EXPECT_EQ(grep(log, "socket S").size(), grep(log, "close S").size());
	EXPECT_EQ(grep(log, "ethreg [-i] [phy0] ").size(), 15u);
	std::vector<std::string> want_system, want_phy;
	for (const auto &d : cycles) {
		want_system.push_back("system echo -n " + d + " >/proc/switch_phy");
		want_phy.push_back("switch_phy " + hex(d));
	}
	want_system.push_back("system /sbin/ethreg -i phy0 0x0000009c=0x00000002");
	std::vector<std::string> got_system = grep(log, "system "), got_phy = grep(log, "switch_phy ");
	for (auto *v : { &want_system, &want_phy, &got_system, &got_phy })
		std::sort(v->begin(), v->end());
	EXPECT_EQ(got_system, want_system);
	EXPECT_EQ(got_phy, want_phy);
}

} // namespace
