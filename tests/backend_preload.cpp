// SPDX-License-Identifier: BSD-2-Clause
// The tool as a process of this machine, or of qemu-user, with the
// simulated switch preloaded into it and its state in a directory.
#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Preload : public Backend {
public:
	std::string open(const std::string &top, const std::string &subdir) const override
	{
		std::string dir = subdir.empty() ? top : top + "/" + subdir;
		for (size_t at = top.size(); at != std::string::npos; at = dir.find('/', at + 1))
			if (at > top.size() && mkdir(dir.substr(0, at).c_str(), 0700) != 0)
				std::abort();
		if (dir != top && mkdir(dir.c_str(), 0700) != 0)
			std::abort();
		return dir;
	}

	void close(const std::string &) const override {}

	Result run(const Sim &sim, const std::vector<std::string> &argv, bool driver) const override
	{
		std::remove((sim.dir + "/log").c_str());
		return sim.exec(argv, driver);
	}

	bool can_inject(const std::string &, const std::string &) const override { return true; }

	Args seen(const Args &want) const override { return want; }

	bool preloaded() const override { return true; }
	int cost() const override { return target().sanitized ? 10 : 1; }

	bool give_state(const Sim &sim, unsigned uid) const override
	{
		for (const std::string &f : { sim.dir, sim.dir + "/state" })
			EXPECT_EQ(chown(f.c_str(), uid, uid), 0) << f;
		return true;
	}
};

} // namespace

const Backend &preload_backend()
{
	static const Preload b;
	return b;
}
