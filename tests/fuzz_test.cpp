// SPDX-License-Identifier: BSD-2-Clause
// Randomized command lines against the invariants every run must keep.
// VOK_FUZZ_SEED and VOK_FUZZ_RUNS choose the runs (scripts/fuzz.sh); a
// failure prints the seed that replays it alone.
#include "harness.h"

#include <cstdlib>
#include <random>
#include <regex>

namespace {

std::vector<std::string> random_command_line(std::mt19937 &rng)
{
	static const char *const options[] = {
		"-s", "-w", "-m", "-l", "-e", "--get-phy-status", "--switch-lan-phy",
		"--switch-lan-mask", "--set-wan-led", "--ctl-atheros-header", "--get", "--sw",
		"--switch-lan-p", "--switch-lan-m", "--set", "--ctl", "--s", "--", "-", "-x",
		"--bogus", "-sw", "-ws", "-sm", "-se", "-sl", "--set-wan-led=", "--ctl-atheros-header=",
		"--switch-lan-phy=", "--switch-lan-mask=", "--get-phy-status=",
	};
	static const char *const values[] = {
		"off", "green", "amber", "on", "ON", "Green", "AMBER", "of", "", " ", "0", "5", "9",
		"12", "x", "-1", "16", "15", "0x0f", "015", "  7", "+3", "99999999999999999999",
		"-99999999999999999999", "2147483648", "\xff", "\x80\x81", "\xc3\xa9", "extra",
		"-s", "--", "%s%n", "\t", "a b",
	};
	std::vector<std::string> args;
	for (unsigned n = rng() % 7; n; n--) {
		std::string a;
		switch (rng() % 4) {
		case 0:
		case 1:
			a = options[rng() % (sizeof(options) / sizeof(*options))];
			break;
		case 2:
			a = values[rng() % (sizeof(values) / sizeof(*values))];
			break;
		default: // glue a value to an option: -w5, --set=amber, -lgreen
			a = options[rng() % (sizeof(options) / sizeof(*options))];
			if (a.size() > 1 && a[1] == '-' && a.back() != '=' && rng() % 2)
				a += "=";
			a += values[rng() % (sizeof(values) / sizeof(*values))];
		}
		args.push_back(a);
	}
	return args;
}

// Every invariant of one run; empty when all hold.
std::string check(const Result &r)
{
	static const std::regex command("system (echo -n [0-9][01]{4} >/proc/switch_phy|"
					"/sbin/ethreg -i phy0 0x0000009c=0x0000000[02])");
	if (r.status != 0 && r.status != 255)
		return "exit status " + std::to_string(r.status);
	for (const char *bad : { "Sanitizer", "runtime error" })
		if (r.err.find(bad) != std::string::npos)
			return "sanitizer report";
	bool usage = ends_with_usage(r.err);
	if (usage && (r.status != 255 || !r.log.empty() || !r.out.empty()))
		return "usage text, yet something was done";
	if (!usage && r.status != 0)
		return "failure without the usage text";
	if (!r.out.empty() && !is_report(r.out))
		return "stdout is not a five-line report";
	int open = 0; // sockets now open
	int shells = 0;
	for (const auto &l : r.log) {
		if (l.rfind("system ", 0) == 0) {
			shells++;
			if (!std::regex_match(l, command))
				return "unexpected shell command: " + l;
		} else if (l.rfind("socket ", 0) == 0) {
			if (open++)
				return "two sockets at once";
		} else if (l.rfind("close ", 0) == 0) {
			if (open-- != 1)
				return "close without an open socket";
		}
	}
	if (open != 0)
		return "socket left open";
	if (shells > 1)
		return "more than one shell command";
	return "";
}

TEST(Fuzz, RandomCommandLinesKeepTheInvariants)
{
	if (target().cross())
		GTEST_SKIP() << "command lines are fuzzed on the host builds";
	const char *seed_env = std::getenv("VOK_FUZZ_SEED");
	const char *runs_env = std::getenv("VOK_FUZZ_RUNS");
	unsigned long seed = seed_env ? std::strtoul(seed_env, nullptr, 10) : 20261208;
	// A sanitized run costs ten times as much, and one in the emulated
	// router thirty; fewer of them still find what the sanitizers and the
	// real kernel are there for.
	long runs = runs_env ? std::atol(runs_env) : 1000 / backend().cost();
	Sim sim;
	int failures = 0;
	for (long i = 0; i < runs && failures < 10; i++) {
		std::mt19937 rng(static_cast<std::mt19937::result_type>(seed + i));
		std::vector<std::string> args = random_command_line(rng);
		Result r = sim.run(args);
		std::string why = check(r);
		if (!why.empty()) {
			failures++;
			ADD_FAILURE() << why << "\n  args: " << ::testing::PrintToString(args)
				      << "\n  stderr: " << r.err << "\n  replay: VOK_FUZZ_SEED="
				      << seed + i << " VOK_FUZZ_RUNS=1";
		}
	}
}

} // namespace
