// SPDX-License-Identifier: BSD-2-Clause
// The simulated switch runs as root: where its state may live, which files
// it opens, and what of a path reaches the shell.
#include "harness.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kSecret[] = "root only\n";

// Runs plant in a child as another user of this machine.
void as_other_user(const std::function<void()> &plant)
{
	pid_t pid = fork();
	if (pid == 0) {
		become_nobody();
		plant();
		_exit(0);
	}
	int st = 0;
	waitpid(pid, &st, 0);
	ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "could not act as uid " << kNobody;
}

// Made with mode, whatever the umask; returns path.
std::string make_dir(const std::string &path, mode_t mode)
{
	EXPECT_EQ(mkdir(path.c_str(), mode), 0) << path;
	EXPECT_EQ(chmod(path.c_str(), mode), 0) << path;
	return path;
}

// A root-only file beside a shared directory with /tmp's mode, for
// another user to plant things in.
// Root's directory `target` must come out of every run as it went in.
struct Shared {
	Sim sim;
	std::string shared = sim.dir + "/shared", secret = sim.dir + "/secret";
	std::string target = sim.dir + "/target";
	Shared()
	{
		chmod(sim.dir.c_str(), 0755);
		make_dir(shared, 01777);
		make_dir(target, 0755);
		sim.write("secret", kSecret);
		chmod(secret.c_str(), 0600);
	}
};

TEST(StateDir, RefusesADirectoryOthersCouldChange)
{
	SKIP_UNLESS_PRELOAD();
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root, to act as a second user";
	struct Case {
		const char *name;
		// Prepares the directory; returns it.
		std::string (*plant)(const Shared &s);
	} cases[] = {
		{ "made by another user, with traps",
		  [](const Shared &s) {
			  std::string d = s.shared + "/switchsim", script = d + "/no-such-ethreg";
			  as_other_user([&] {
				  if (mkdir(d.c_str(), 0755) != 0 ||
				      symlink(s.secret.c_str(), (d + "/log").c_str()) != 0 ||
				      symlink(s.secret.c_str(), (d + "/switch_phy").c_str()) != 0 ||
				      mkfifo((d + "/state").c_str(), 0666) != 0)
					  _exit(1);
				  put_file(script, "#!/bin/sh\ntouch '" + s.shared + "/ran'\n");
				  if (chmod(script.c_str(), 0755) != 0)
					  _exit(1);
			  });
			  return d;
		  } },
		{ "ours, but anyone may write in it",
		  [](const Shared &s) { return make_dir(s.shared + "/open", 0777); } },
		{ "ours, but the group may write in it",
		  [](const Shared &s) { return make_dir(s.shared + "/group", 0770); } },
		{ "another user's link to ours",
		  [](const Shared &s) {
			  std::string mine = make_dir(s.sim.dir + "/mine", 0700);
			  as_other_user([&] {
				  if (symlink(mine.c_str(), (s.shared + "/link").c_str()) != 0)
					  _exit(1);
			  });
			  return s.shared + "/link";
		  } },
		{ "ours, but it holds what is not the switch's (as /dev holds its log)",
		  [](const Shared &s) {
			  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
			  struct sockaddr_un a = {};
			  a.sun_family = AF_UNIX;
			  std::string log = s.target + "/log";
			  memcpy(a.sun_path, log.c_str(), log.size() + 1);
			  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)), 0);
			  close(fd);
			  put_file(s.target + "/state.Ab12Cd", "");
			  return s.target;
		  } },
	};
	std::vector<Args> tool_runs = { { "-s" }, { "-w", "5" }, { "-l", "amber" }, { "-e", "on" } };
	std::vector<Args> switchsim_runs = { { "show" }, { "log" }, { "reset" },
					     { "set", "lan0", "down" }, { "set", "led", "off" },
					     { "run", "/bin/true" } };
	for (const auto &c : cases) {
		Shared s;
		std::string dir = c.plant(s);
		const std::vector<std::string> target_was = files(s.target);
		s.sim.setenv("SWITCHSIM_DIR", dir);
		s.sim.setenv("SWITCHSIM_FAIL_ETHREG", "missing");
		std::vector<Result> results;
		for (const auto &args : tool_runs)
			results.push_back(s.sim.run(args));
		if (!target().cross())
			for (auto args : switchsim_runs) {
				args.insert(args.begin(), SWITCHSIM_BIN);
				results.push_back(s.sim.exec(args, false));
			}
		for (const auto &r : results) {
			EXPECT_EQ(r.status, 2) << c.name << ": " << r.err;
			EXPECT_EQ(r.out, "") << c.name;
			EXPECT_TRUE(one_line(r.err)) << c.name << ": " << r.err;
		}
		EXPECT_EQ(s.sim.read("secret"), kSecret) << c.name;
		EXPECT_EQ(files(s.target), target_was) << c.name;
		EXPECT_NE(access((s.shared + "/ran").c_str(), F_OK), 0) << c.name;
	}
}

TEST(StateDir, FilesAreOpenedOnlyAsRegularFiles)
{
	SKIP_UNLESS_PRELOAD();
	const std::string kNotRegular = "not a regular file";
	struct Case {
		const char *file;
		char kind; // 'l' a link to a file, 'p' a FIFO, 'd' a directory, 'f' a file
		Args args;
		std::string why;
	} cases[] = {
		{ "log", 'l', { "-l", "amber" }, kNotRegular },
		{ "state", 'l', { "-s" }, kNotRegular },
		{ "state", 'p', { "-s" }, kNotRegular },
		{ "state", 'd', { "-s" }, kNotRegular },
		{ "state.new", 'l', { "-w", "3", "-m", "0" }, kNotRegular },
		{ "notes", 'f', { "-l", "amber" },
		  "not the simulated switch's: give it an empty directory of its own" },
	};
	for (const auto &c : cases) {
		std::string name = c.file + std::string(1, c.kind);
		Sim sim;
		sim.write("../secret", "lan0 down 0 half\n");
		std::string path = sim.dir + "/" + c.file;
		if (c.kind == 'f')
			put_file(path, "");
		int made = c.kind == 'l' ? symlink(sim.beside("secret").c_str(), path.c_str())
			   : c.kind == 'p' ? mkfifo(path.c_str(), 0600)
			   : c.kind == 'd' ? mkdir(path.c_str(), 0700)
					   : 0;
		ASSERT_EQ(made, 0) << name;
		// Not run(): that starts by removing the log.
		Result r = sim.exec(sim.command(c.args, true), true);
		std::string err = "switchsim: " + path + ": " + c.why + "\n";
		EXPECT_EQ(outcome(r), Outcome(2, "", err)) << name;
		EXPECT_EQ(sim.read("../secret"), "lan0 down 0 half\n") << name;
	}
}

TEST(StateDir, DefaultIsTheUsersOwn)
{
	SKIP_UNLESS_PRELOAD();
	struct Case {
		const char *xdg, *home; // under the Sim's directory; "-" for a relative XDG value
		const char *state;
	} cases[] = {
		{ "xdg", "home", "xdg/switchsim/state" },
		{ "", "home", "home/.cache/switchsim/state" },
		{ "-", "home", "home/.cache/switchsim/state" },
	};
	for (const auto &c : cases) {
		Sim sim;
		make_dir(sim.dir + "/home", 0700);
		make_dir(sim.dir + "/xdg", 0700);
		sim.setenv("SWITCHSIM_DIR", "");
		sim.setenv("XDG_RUNTIME_DIR", !*c.xdg ? "" : *c.xdg == '-' ? "xdg" : sim.dir + "/" + c.xdg);
		sim.setenv("HOME", sim.dir + "/" + c.home);
		Result r = sim.exec(sim.command({ "-l", "amber" }, true), true);
		EXPECT_EQ(r.status, 0) << c.state << ": " << r.err;
		EXPECT_NE(sim.read(c.state).find("\nled amber\n"), std::string::npos) << c.state;
	}
}

TEST(StateDir, RelativeNameIsMadeAbsoluteForTheCommand)
{
	SKIP_UNLESS_SWITCHSIM_COMMAND();
	Sim sim;
	sim.setenv("SWITCHSIM_DIR", "vok_eth_relative_state");
	// The command changes directory before the tool runs.
	Result r = sim.exec({ "/bin/sh", "-c",
			      "cd \"$0\" && exec \"$1\" run /bin/sh -c 'cd / && exec \"$0\" -l amber' \"$2\"",
			      sim.dir, SWITCHSIM_BIN, target().tool },
			    false);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(sim.read("vok_eth_relative_state/state").find("\nled amber\n"), std::string::npos);
}

TEST(Switchsim, RunsOnlyWhatTheLoaderPreloadsTheSwitchInto)
{
	SKIP_UNLESS_SWITCHSIM_COMMAND();
	namespace fs = std::filesystem;
	enum Program { kTool, kMissing, kStatic, kSetuid, kCapabilities };
	struct Case {
		const char *dir;
		Program program;
		bool runs; // ld.so splits LD_PRELOAD at spaces and colons, expands $LIB
		Args wrap = {}; // run first, as the program's parent or by exec
	} cases[] = {
		{ "copy (1)", kTool, false },
		{ "a:b", kTool, false },
		{ "x(1)'s;y", kTool, true },
		{ "$LIB", kTool, false },
		{ "missing", kMissing, false },
		// No loader runs for a static program, and the loader drops
		// LD_PRELOAD for one that gains privileges as it starts.
		{ "static", kStatic, false },
		{ "setuid", kSetuid, false },
		{ "capabilities", kCapabilities, false },
		// Only the named program is checked: a shell may run the tool.
		{ "sh-tool", kTool, true, { "/bin/sh", "-c", "\"$0\" \"$@\"; exit" } },
	};
	for (const auto &c : cases) {
		if (c.program >= kSetuid && geteuid() != 0)
			continue; // it takes root to give the program away or capabilities
		Sim sim, bins;
		fs::path to = fs::path(bins.dir) / c.dir;
		fs::path from = fs::path(SWITCHSIM_BIN).parent_path();
		fs::create_directory(to);
		for (const char *f : { "switchsim", "libswitchsim.so", "ethreg" })
			fs::copy_file(from / f, to / f);
		fs::path tool = c.program == kStatic	? fs::path(VOK_STATIC_TOOL)
				: c.program == kMissing ? to / "no-such-program"
							: fs::path(target().tool);
		if (c.program >= kSetuid) {
			fs::copy_file(tool, to / "vok_eth");
			tool = to / "vok_eth";
		}
		if (c.program == kSetuid) {
			ASSERT_EQ(chown(tool.c_str(), kNobody, kNobody), 0);
			ASSERT_EQ(chmod(tool.c_str(), 04755), 0);
		}
		if (c.program == kCapabilities) {
			// CAP_NET_ADMIN permitted and effective: struct vfs_cap_data, revision 2.
			const uint32_t caps[5] = { 0x02000001, 1u << 12, 0, 0, 0 };
			ASSERT_EQ(setxattr(tool.c_str(), "security.capability", caps, sizeof(caps), 0), 0)
				<< std::strerror(errno);
		}
		// The register tool beside the library, as a person gets it.
		sim.setenv("SWITCHSIM_ETHREG", "");
		Args argv = { (to / "switchsim").string(), "run" };
		argv.insert(argv.end(), c.wrap.begin(), c.wrap.end());
		argv.insert(argv.end(), { tool.string(), "-e", "on" });
		Result r = sim.exec(argv, false);
		EXPECT_EQ(r.out, "") << c.dir;
		if (c.runs) {
			EXPECT_EQ(r.status, 0) << c.dir << ": " << r.err;
			EXPECT_NE(sim.read("state").find("\nreg 0x0000009c 0x00000002\n"), std::string::npos);
		} else {
			EXPECT_EQ(r.status, c.program == kMissing ? 127 : 2) << c.dir;
			EXPECT_TRUE(one_line(r.err)) << c.dir << ": " << r.err;
			EXPECT_TRUE(r.log.empty()) << c.dir;
		}
	}
}

TEST(Faults, MalformedValuesStopTheRunBeforeAnything)
{
	SKIP_UNLESS_PRELOAD();
	struct Case {
		Args args;
		const char *var;
		std::vector<const char *> values;
	} cases[] = {
		{ { "-e", "on" }, "SWITCHSIM_FAIL_ETHREG", { "256", "0", "-1", "gone" } },
		{ { "-w", "5" }, "SWITCHSIM_FAIL_SYSTEM",
		  { "signal:0", "signal:abc", "signal:128", "signal:", "ECHILDREN" } },
		{ { "-w", "5" }, "SWITCHSIM_FAIL_PROC", { "2", "yes" } },
		{ { "-s" }, "SWITCHSIM_FAIL_IOCTL",
		  { "0x8948", "0x8948:", "0x8948:EBOGUS", "0x1234:EIO", ":EIO" } },
		{ { "-s" }, "SWITCHSIM_FAIL_SOCKET", { "EBOGUS", "0", "4096" } },
	};
	for (const auto &c : cases)
		for (const char *value : c.values) {
			std::string name = std::string(c.var) + "=" + value;
			Sim sim;
			sim.setenv(c.var, value);
			Result r = sim.run(c.args);
			EXPECT_EQ(r.status, 2) << name;
			EXPECT_EQ(r.out, "") << name;
			EXPECT_TRUE(one_line(r.err)) << name << ": " << r.err;
			EXPECT_EQ(r.err.rfind("switchsim: " + name + ": ", 0), 0u)
				<< name << ": " << r.err;
			EXPECT_TRUE(r.log.empty()) << name;
		}
}

} // namespace
