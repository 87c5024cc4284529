// SPDX-License-Identifier: BSD-2-Clause
// The tool inside the emulated router, against the switch driver module:
// the state, the log and the fault knobs are the module's debugfs files,
// and the test's private directory holds only the test's own files.
#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// The module takes a number; faults are asked for by name.
std::string errno_number(const std::string &name)
{
	for (int e = 1; e < 4096; e++)
		if (const char *n = strerrorname_np(e))
			if (name == n)
				return std::to_string(e);
	return name;
}

class Kernel : public Backend {
public:
	std::string open(const std::string &, const std::string &) const override
	{
		close(target().state_dir);
		return target().state_dir;
	}

	// The module back to its default state, with an empty log and no faults.
	void close(const std::string &dir) const override
	{
		put_file(dir + "/state", "");
		put_file(dir + "/log", "");
		put_file(dir + "/fail_ioctl_errno", "0");
		put_file(dir + "/fail_proc", "N");
	}

	Result run(const Sim &sim, const std::vector<std::string> &argv, bool driver) const override
	{
		const Target &t = target();
		const std::string &dir = sim.dir;
		put_file(dir + "/log", "");
		bool hidden = false, no_fds = false;
		for (const auto &e : sim.env()) {
			size_t colon = e.second.find(':');
			if (e.first == "SWITCHSIM_FAIL_IOCTL") {
				put_file(dir + "/fail_ioctl_code", e.second.substr(0, colon));
				put_file(dir + "/fail_ioctl_errno",
					 errno_number(e.second.substr(colon + 1)));
			} else if (e.first == "SWITCHSIM_FAIL_PROC" && e.second != "0") {
				put_file(dir + "/fail_proc", "Y");
			} else if (e.first == "SWITCHSIM_FAIL_SOCKET") {
				no_fds = true;
			} else if (e.first == "SWITCHSIM_FAIL_ETHREG" && e.second == "missing") {
				// A register tool that is missing for real.
				std::string aside = t.ethreg + ".hidden";
				hidden = std::rename(t.ethreg.c_str(), aside.c_str()) == 0;
			}
		}
		// Without the module there is no "phy0" at all. Busybox rmmod exits
		// 0 even when the module stays.
		if (!driver && (std::system("rmmod switchsim") != 0 ||
				access("/sys/module/switchsim", F_OK) == 0))
			ADD_FAILURE() << "cannot unload the switch driver";
		// No descriptor past the standard three: socket() finds none.
		Result r = sim.exec(argv, false, no_fds ? descriptors<3> : nullptr);
		if (!driver && std::system(("insmod '" + t.module + "'").c_str()) != 0)
			ADD_FAILURE() << "cannot load the switch driver again";
		if (hidden)
			std::rename((t.ethreg + ".hidden").c_str(), t.ethreg.c_str());
		return r;
	}

	// It can't be told to fail system() at will, and socket() only runs
	// out of descriptors where no dynamic loader needs one first.
	bool can_inject(const std::string &name, const std::string &value) const override
	{
		if (name == "SWITCHSIM_FAIL_SOCKET")
			return target().is_static && value == "EMFILE";
		return name != "SWITCHSIM_FAIL_SYSTEM";
	}

	// The module sees its requests, its file and the register tool, but not
	// the program's sockets or the shell commands behind them.
	std::vector<std::string> seen(const std::vector<std::string> &want) const override
	{
		std::vector<std::string> lines;
		for (const auto &l : want)
			if (l.rfind("socket ", 0) != 0 && l.rfind("close ", 0) != 0 &&
			    l.rfind("system ", 0) != 0)
				lines.push_back(l);
		return lines;
	}

	bool preloaded() const override { return false; }
	int cost() const override { return 30; }
	// Its state is root's, as register writes are on a router.
	bool give_state(const Sim &, unsigned) const override { return false; }
};

} // namespace

const Backend &kernel_backend()
{
	static const Kernel b;
	return b;
}
