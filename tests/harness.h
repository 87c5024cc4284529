// Runs the built tool under the simulated switch and collects what it did:
// stdout, stderr, exit status, and the simulated switch's request log.
#ifndef VOK_TESTS_HARNESS_H
#define VOK_TESTS_HARNESS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One build of the tool, described by the target.conf that its build wrote.
struct Target {
	std::string name, tool, floor, preload, ethreg, runner, readelf, strip, nm;
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
	~Sim();
	Sim(const Sim &) = delete;
	Sim &operator=(const Sim &) = delete;

	// A fault to inject (SWITCHSIM_FAIL_*), or any other variable for the run.
	void setenv(const std::string &name, const std::string &value);
	void write(const std::string &name, const std::string &text);
	std::string read(const std::string &name) const;

	// Runs the tool with args, on an empty request log; preload=false leaves
	// the kernel to answer.
	Result run(const std::vector<std::string> &args, bool preload = true,
		   const std::string &stdout_path = "") const;
	// Runs any command with the simulated switch's environment.
	Result exec(const std::vector<std::string> &argv, bool preload) const;

	const std::string dir;  // the switch's state and log
	const std::string work; // scratch files of the test

private:
	void inject() const;
	bool hide_ethreg() const;
	std::vector<std::pair<std::string, std::string>> env_;
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

extern const char kUsage[];
// stderr ends with the usage text.
bool ends_with_usage(const std::string &err);

#endif
