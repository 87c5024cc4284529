/* SPDX-License-Identifier: BSD-2-Clause */
// Runs the built tool under the simulated switch and collects what it did:
// stdout, stderr, exit status, and the simulated switch's request log.
#ifndef VOK_TESTS_HARNESS_H
#define VOK_TESTS_HARNESS_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// One build of the tool, described by the target.conf that its build wrote.
struct Target {
	std::string name, tool, floor, preload, ethreg, runner, readelf, strip, nm;
	// A program that abuses the preloaded switch (tests/preload_probe.cpp).
	std::string probe;
	// "kernel": inside the emulated router, against the switch driver
	// module, whose state and log are in state_dir; otherwise against the
	// preloaded simulated switch.
	std::string backend, module, state_dir;
	// The tool's C library ("glibc", "musl"), the library it is NEEDED as
	// (empty when static), and a program that prints its error texts.
	std::string libc, needed, strerror;
	bool is_static = false;
	bool big_endian = false;
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

// A fresh simulated switch in a directory of its own, removed afterwards;
// in the emulated router, the driver module put back to its default state.
class Sim {
public:
	Sim();
	// The state directory is this name inside the private one.
	explicit Sim(const std::string &subdir);
	~Sim();
	Sim(const Sim &) = delete;
	Sim &operator=(const Sim &) = delete;

	// A fault to inject (SWITCHSIM_FAIL_*), or any other variable for the run.
	void setenv(const std::string &name, const std::string &value);
	// Runs in the child just before exec, e.g. to drop privileges.
	void in_child(std::function<void()> setup);
	void write(const std::string &name, const std::string &text);
	// A path beside the state directory, for the test's own files: the
	// switch refuses a directory that holds anything but its own.
	std::string beside(const std::string &name) const { return top_ + "/" + name; }
	std::string read(const std::string &name) const;

	// Runs the tool with args, on an empty request log; preload=false leaves
	// the kernel to answer.
	Result run(const std::vector<std::string> &args, bool preload = true,
		   const std::string &stdout_path = "") const;
	// Runs any command with the simulated switch's environment; several
	// processes may run commands of one Sim at once.
	Result exec(const std::vector<std::string> &argv, bool preload) const;
	// The command line that runs the tool with args, as run() does.
	std::vector<std::string> command(const std::vector<std::string> &args, bool preload) const;

private:
	const std::string top_;

public:
	const std::string dir; // the switch's state and log

private:
	void inject() const;
	bool hide_ethreg() const;
	std::vector<std::pair<std::string, std::string>> env_;
	std::function<void()> in_child_;
};

// The text the tool's own C library gives errno err.
std::string errtext(int err);
// Whether this backend can make the fault that SWITCHSIM_FAIL_* asks for:
// the kernel's can't be told to fail system() at will, and socket() only
// runs out of descriptors where no dynamic loader needs one first.
bool can_inject(const std::string &name, const std::string &value);
// The log lines of want that this backend's driver can see: the module sees
// its requests, its file and the register tool, but not the program's
// sockets or the shell commands behind them.
std::vector<std::string> seen(const std::vector<std::string> &want);

// The bytes the target holds for a value, as lower-case hex.
std::string hex_u16(uint16_t v);
std::string hex_u32(uint32_t v);
// The request block the tool must send: "phy0", NUL-padded, the rest zero
// but for the data pointer, which the log shows as '*'.
std::string expected_block();
// Log lines that start with prefix.
std::vector<std::string> grep(const std::vector<std::string> &lines, const std::string &prefix);

// For Sim::in_child: the rest runs as the unprivileged user kNobody, with
// no groups and no capabilities.
constexpr unsigned kNobody = 65534;
void become_nobody();

// What belongs to the user-space simulated switch alone (its files, its
// command, its environment) is not in the emulated router.
#define SKIP_IN_ROUTER()                                                               \
	do {                                                                           \
		if (target().kernel())                                                 \
			GTEST_SKIP() << "the preloaded switch's own; the router has the module"; \
	} while (0)

// The switchsim command, for people, is built for this machine only.
#define SKIP_UNLESS_SWITCHSIM_COMMAND()                                \
	do {                                                           \
		SKIP_IN_ROUTER();                                      \
		if (target().cross())                                  \
			GTEST_SKIP() << "switchsim is a host command"; \
	} while (0)

extern const char kUsage[];
// Exactly one line: a message and its newline.
bool one_line(const std::string &err);
// stderr ends with the usage text.
bool ends_with_usage(const std::string &err);

#endif
