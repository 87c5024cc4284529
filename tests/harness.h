/* SPDX-License-Identifier: BSD-2-Clause */
// Runs the built tool under the simulated switch and collects what it did:
// stdout, stderr, exit status, and the simulated switch's request log.
#ifndef VOK_TESTS_HARNESS_H
#define VOK_TESTS_HARNESS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using Args = std::vector<std::string>;

// One build of the tool, described by the target.conf that its build wrote.
struct Target {
	std::string name, tool, preload, ethreg, runner, readelf, strip, nm;
	// A program that abuses the preloaded switch (tests/preload_probe.cpp).
	std::string probe;
	// "kernel": inside the emulated router, against the switch driver
	// module, whose state and log are in state_dir; otherwise against the
	// preloaded simulated switch.
	std::string backend, module, state_dir;
	// The C library the tool is NEEDED as (empty when static), and a program
	// that prints that library's error texts.
	std::string needed, strerror;
	bool is_static = false, big_endian = false;
	bool sanitized = false; // not the shipped binary: no budget applies
	int pointer_size = 0, ifreq_size = 0;
	long size_budget = 0;
	bool cross() const { return !runner.empty(); }
	bool kernel() const { return backend == "kernel"; }
};
const Target &target();

struct Result {
	int status = -1;  // exit status, or 128+N when killed by signal N
	std::string out, err;
	std::vector<std::string> log;
};
// What a run gave back, to compare whole: exit status, stdout, stderr.
using Outcome = std::tuple<int, std::string, std::string>;
inline Outcome outcome(const Result &r) { return Outcome(r.status, r.out, r.err); }

// One write(), as the module applies each write whole.
void put_file(const std::string &path, const std::string &text);

// A fresh simulated switch in a directory of its own, removed afterwards;
// in the emulated router, the driver module put back to its default state.
class Sim {
public:
	// The state directory is this name inside the private one.
	explicit Sim(const std::string &subdir = "switch");
	~Sim();
	Sim(const Sim &) = delete;
	Sim &operator=(const Sim &) = delete;

	// A fault to inject (SWITCHSIM_FAIL_*), or any other variable for the run.
	void setenv(const std::string &name, const std::string &v) { env_.emplace_back(name, v); }
	const std::vector<std::pair<std::string, std::string>> &env() const { return env_; }
	// Runs in the child just before exec, e.g. to drop privileges.
	void in_child(std::function<void()> setup) { in_child_ = std::move(setup); }
	void write(const std::string &name, const std::string &t) { put_file(dir + "/" + name, t); }
	// A path beside the state directory, for the test's own files: the
	// switch refuses a directory that holds anything but its own.
	std::string beside(const std::string &name) const { return top_ + "/" + name; }
	std::string read(const std::string &name) const;

	// Runs the tool with args, on an empty request log; preload=false leaves
	// the kernel to answer.
	Result run(const Args &args, bool preload = true) const;
	// Runs any command with the simulated switch's environment; several
	// processes may run commands of one Sim at once. setup runs in the
	// child before in_child's.
	Result exec(const Args &argv, bool preload, void (*setup)() = nullptr) const;
	// The command line that runs the tool with args, as run() does.
	Args command(const Args &args, bool preload) const;

private:
	const std::string top_;

public:
	const std::string dir; // the switch's state and log

private:
	std::vector<std::pair<std::string, std::string>> env_;
	std::function<void()> in_child_;
};

// Where the tool runs, each in a file of its own: backend_preload.cpp, a
// process of this machine or of qemu-user with the switch preloaded, and
// backend_kernel.cpp, the emulated router with the switch driver module.
class Backend {
public:
	virtual ~Backend() = default;
	// The state directory of a new Sim whose private directory is top, in
	// its default state; close puts it back so at the Sim's end.
	virtual std::string open(const std::string &top, const std::string &subdir) const = 0;
	virtual void close(const std::string &dir) const = 0;
	// Runs argv, the tool's command line, with sim's state and faults on an
	// empty log; driver=false: with no simulated switch at all.
	virtual Result run(const Sim &sim, const Args &argv, bool driver) const = 0;
	// Whether it can make the fault SWITCHSIM_FAIL_* asks for.
	virtual bool can_inject(const std::string &name, const std::string &value) const = 0;
	// The log lines of want that its driver can see.
	virtual Args seen(const Args &want) const = 0;
	// On the build machine: the preloaded switch's own files, command and
	// environment are here, and its programs (binutils, strace, stdbuf).
	virtual bool preloaded() const = 0;
	// A run's cost, in plain runs on this machine.
	virtual int cost() const = 0;
	// Gives the switch's state to uid; false where it stays root's.
	virtual bool give_state(const Sim &sim, unsigned uid) const = 0;
};
const Backend &preload_backend();
const Backend &kernel_backend();
inline const Backend &backend() { return target().kernel() ? kernel_backend() : preload_backend(); }

// The text the tool's own C library gives errno err.
std::string errtext(int err);
inline bool can_inject(const std::string &name, const std::string &value)
{
	return backend().can_inject(name, value);
}
inline Args seen(const Args &want) { return backend().seen(want); }

// The log line of the tool's request code: its data is the two bytes of
// flags, or for the status (0x8948) the zeroed record with unit numbers.
std::string request(unsigned code, uint16_t flags = 0);
// Log lines that start with prefix.
std::vector<std::string> grep(const std::vector<std::string> &lines, const std::string &prefix);
// "51" -> "3531"
std::string hex(const std::string &s);
std::string shell(const std::string &cmd); // its stdout
std::vector<std::string> words(const std::string &s);
std::vector<std::string> lines(const std::string &text);
std::vector<std::string> files(const std::string &dir); // sorted, but for . and ..
// A whole port report: four LANs and the WAN, a line each.
bool is_report(const std::string &out);

// For Sim::in_child: the rest runs as the unprivileged user kNobody, with
// no groups and no capabilities.
constexpr unsigned kNobody = 65534;
void become_nobody();
// For Sim::in_child: only the standard three open, and n descriptors in all.
template <rlim_t n> void descriptors()
{
	for (int fd = 3; fd < 1024; fd++)
		close(fd);
	struct rlimit lim = { n, n };
	if (setrlimit(RLIMIT_NOFILE, &lim) != 0)
		_exit(126);
}

// What belongs to the user-space simulated switch alone (its files, its
// command, its environment) is not in the emulated router.
#define SKIP_UNLESS_PRELOAD()                                                               \
	do {                                                                           \
		if (!backend().preloaded())                                            \
			GTEST_SKIP() << "the preloaded switch's own; the emulated router has the module"; \
	} while (0)

// The switchsim command, for people, is built for this machine only.
#define SKIP_UNLESS_SWITCHSIM_COMMAND()                                \
	do {                                                           \
		SKIP_UNLESS_PRELOAD();                                      \
		if (target().cross())                                  \
			GTEST_SKIP() << "switchsim is a host command"; \
	} while (0)

extern const char kUsage[];
// Exactly one line: a message and its newline.
inline bool one_line(const std::string &e) { return !e.empty() && e.find('\n') == e.size() - 1; }
// stderr ends with the usage text.
inline bool ends_with_usage(const std::string &err)
{
	size_t n = std::char_traits<char>::length(kUsage);
	return err.size() >= n && err.compare(err.size() - n, n, kUsage) == 0;
}

#endif
