// The switchsim command: what a person does with the simulated switch.
#include "harness.h"

#include <gtest/gtest.h>

#include <dirent.h>

namespace {

using Args = std::vector<std::string>;

Result switchsim(const Sim &sim, Args args)
{
	args.insert(args.begin(), SWITCHSIM_BIN);
	return sim.exec(args, false);
}

std::vector<std::string> files(const std::string &dir)
{
	std::vector<std::string> names;
	DIR *d = opendir(dir.c_str());
	while (struct dirent *e = d ? readdir(d) : nullptr)
		if (e->d_name[0] != '.')
			names.push_back(e->d_name);
	if (d)
		closedir(d);
	std::sort(names.begin(), names.end());
	return names;
}

TEST(Switchsim, BadInputChangesNothing)
{
	if (target().cross() || target().kernel())
		GTEST_SKIP() << "switchsim is a host command";
	const Args cases[] = {
		{},
		{ "frobnicate" },
		{ "run" },
		{ "show", "extra" },
		{ "set", "lan4", "up" },
		{ "set", "lan0" },
		{ "set", "lan0", "sideways" },
		{ "set", "lan0", "up", "fast" },
		{ "set", "lan0", "up", "-100" },
		{ "set", "lan0", "up", "99999999999" },
		{ "set", "lan0", "up", "100", "double" },
		{ "set", "lan0", "up", "100", "full", "extra" },
	};
	for (const auto &args : cases) {
		std::string name = ::testing::PrintToString(args);
		Sim sim;
		sim.write("state", "lan0 down 0 half\n");
		Result r = switchsim(sim, args);
		EXPECT_EQ(r.status, 2) << name;
		EXPECT_NE(r.err, "") << name;
		EXPECT_EQ(r.out, "") << name;
		EXPECT_EQ(sim.read("state"), "lan0 down 0 half\n") << name;
	}
}

TEST(Switchsim, SetShowAndRun)
{
	if (target().cross() || target().kernel())
		GTEST_SKIP() << "switchsim is a host command";
	Sim sim;
	EXPECT_EQ(switchsim(sim, { "set", "lan2", "up", "100", "half" }).status, 0);
	EXPECT_EQ(switchsim(sim, { "set", "wan", "down" }).status, 0);
	// Written by rename: nothing but the state file is left behind.
	EXPECT_EQ(files(sim.dir), (std::vector<std::string>{ "state" }));
	Result show = switchsim(sim, { "show" });
	EXPECT_EQ(show.status, 0);
	EXPECT_NE(show.out.find("lan2   up 100 half\n"), std::string::npos) << show.out;
	EXPECT_NE(show.out.find("wan    down 0 half\n"), std::string::npos) << show.out;

	Result r = switchsim(sim, { "run", target().tool, "-s" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "LAN0:up:1000:full\nLAN1:up:100:full\nLAN2:up:100:half\n"
			 "LAN3:down:0:half\nWAN:down:0:half\n");
	EXPECT_EQ(switchsim(sim, { "log" }).out.rfind("socket ", 0), 0u);
}

TEST(Switchsim, DamagedStateIsReportedNotUsed)
{
	if (target().cross() || target().kernel())
		GTEST_SKIP() << "switchsim is a host command";
	Sim sim;
	sim.write("state", "lan0 up 1000 full\nlan9 up\n");
	Result show = switchsim(sim, { "show" });
	EXPECT_EQ(show.status, 1);
	EXPECT_NE(show.err.find("state:2:"), std::string::npos) << show.err;
	// The driver refuses rather than report made-up ports.
	Result r = sim.run({ "-s" });
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.out, "");
	EXPECT_NE(r.err.find("ioctl error!\n"), std::string::npos);
}

} // namespace
