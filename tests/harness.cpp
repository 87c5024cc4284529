// SPDX-License-Identifier: BSD-2-Clause
#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

const char kUsage[] =
	"Usage: vok_eth [ -s (--get-phy-status)]\n"
	"\tprint phy status of ethernt ports.\n"
	"Usage: vok_eth [ -w (--switch-lan-phy) SECS \n"
	"                 -m (--switch-lan-mask) MASK]\n"
	"\tlink down lan ports (according to MASK) for SECS, then link up.\n"
	"\tSECS : 0 ~ 9.\n"
	"\tMASK : 0 ~ 15.\n"
	"Usage: vok_eth [ -l (--set-wan-led) COLOR]\n"
	"\tset the led of wan port.\n"
	"\tCOLOR : off / green / amber\n"
	"Usage: vok_eth [ -e (--ctl-atheros-header) STATUS]\n"
	"\tenable/disable Atheros Header.\n"
	"\tSTATUS : on / off\n";

static std::string target_file;

const Target &target()
{
	static const Target t = [] {
		Target t;
		std::ifstream in(target_file);
		if (!in)
			ADD_FAILURE() << "no target description: "
				      << "run with --target=BUILD/target.conf";
		std::map<std::string, std::string> kv;
		for (std::string line; std::getline(in, line);) {
			size_t eq = line.find('=');
			if (eq != std::string::npos)
				kv[line.substr(0, eq)] = line.substr(eq + 1);
		}
		using T = Target;
		for (auto f : { std::make_pair("name", &T::name), { "tool", &T::tool },
				{ "preload", &T::preload }, { "probe", &T::probe },
				{ "ethreg", &T::ethreg }, { "runner", &T::runner },
				{ "readelf", &T::readelf }, { "strip", &T::strip },
				{ "backend", &T::backend }, { "module", &T::module },
				{ "nm", &T::nm }, { "strerror", &T::strerror },
				{ "state_dir", &T::state_dir }, { "needed", &T::needed } })
			t.*f.second = kv[f.first];
		for (auto f : { std::make_pair("static", &T::is_static),
				{ "big_endian", &T::big_endian }, { "sanitized", &T::sanitized } })
			t.*f.second = kv[f.first] == "1";
		t.pointer_size = std::atoi(kv["pointer_size"].c_str());
		t.ifreq_size = std::atoi(kv["ifreq_size"].c_str());
		t.size_budget = std::atol(kv["size_budget"].c_str());
		return t;
	}();
	return t;
}

void become_nobody()
{
	if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
		_exit(126);
}

void put_file(const std::string &path, const std::string &text)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
	if (fd < 0 || (!text.empty() && ::write(fd, text.data(), text.size()) !=
						static_cast<ssize_t>(text.size())))
		ADD_FAILURE() << "cannot write " << path << ": " << std::strerror(errno);
	if (fd >= 0)
		close(fd);
}

Sim::Sim(const std::string &subdir)
	: top_([] {
		  char tmpl[] = "/tmp/vok_eth_test.XXXXXX";
		  // Others may pass through, for the tests that act as uid 65534.
		  if (!mkdtemp(tmpl) || chmod(tmpl, 0711) != 0)
			  std::abort();
		  return std::string(tmpl);
	  }()),
	  dir(backend().open(top_, subdir))
{
}

Sim::~Sim()
{
	backend().close(dir);
	std::string cmd = "rm -rf '" + top_ + "'";
	if (std::system(cmd.c_str()) != 0)
		std::fprintf(stderr, "could not remove %s\n", top_.c_str());
}

static std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream ss;
	ss << in.rdbuf();
	return ss.str();
}

std::string Sim::read(const std::string &name) const
{
	return slurp(dir + "/" + name);
}

std::string errtext(int err)
{
	const Target &t = target();
	std::string cmd = t.runner + " '" + t.strerror + "' " + std::to_string(err);
	std::string text = shell(cmd);
	if (!text.empty() && text.back() == '\n')
		text.pop_back();
	if (text.empty())
		ADD_FAILURE() << "no error text from " << cmd;
	return text;
}

std::string shell(const std::string &cmd)
{
	std::string out;
	FILE *p = popen(cmd.c_str(), "r");
	if (!p)
		return out;
	char buf[4096];
	for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;)
		out.append(buf, n);
	pclose(p);
	return out;
}

std::vector<std::string> words(const std::string &s)
{
	std::vector<std::string> w;
	std::istringstream in(s);
	for (std::string x; in >> x;)
		w.push_back(x);
	return w;
}

std::vector<std::string> lines(const std::string &text)
{
	std::vector<std::string> v;
	std::istringstream in(text);
	for (std::string l; std::getline(in, l);)
		v.push_back(l);
	return v;
}

std::vector<std::string> files(const std::string &dir)
{
	std::vector<std::string> names;
	DIR *d = opendir(dir.c_str());
	while (struct dirent *e = d ? readdir(d) : nullptr)
		if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
			names.push_back(e->d_name);
	if (d)
		closedir(d);
	std::sort(names.begin(), names.end());
	return names;
}

std::string hex(const std::string &s)
{
	std::string h;
	char b[3];
	for (unsigned char c : s) {
		std::snprintf(b, sizeof(b), "%02x", c);
		h += b;
	}
	return h;
}

bool is_report(const std::string &out)
{
	static const std::regex report("(LAN[0-3]:(up|down):-?[0-9]+:(full|half)\n){4}"
				       "WAN:(up|down):-?[0-9]+:(full|half)\n");
	return std::regex_match(out, report);
}

Result Sim::exec(const std::vector<std::string> &argv, bool preload, void (*setup)()) const
{
	std::string tag = std::to_string(getpid());
	std::string out = top_ + "/.stdout." + tag, err = top_ + "/.stderr." + tag;
	pid_t pid = fork();
	if (pid == 0) {
		for (const char *v : { "LD_PRELOAD", "SWITCHSIM_FAIL_SOCKET", "SWITCHSIM_FAIL_IOCTL",
				       "SWITCHSIM_FAIL_SYSTEM", "SWITCHSIM_FAIL_PROC",
				       "SWITCHSIM_FAIL_ETHREG", "QEMU_SET_ENV" })
			::unsetenv(v);
		::setenv("SWITCHSIM_DIR", dir.c_str(), 1);
		::setenv("SWITCHSIM_ETHREG", target().ethreg.c_str(), 1);
		for (const auto &e : env_)
			::setenv(e.first.c_str(), e.second.c_str(), 1);
		if (preload && !target().cross())
			::setenv("LD_PRELOAD", target().preload.c_str(), 1);
		// The simulated switch is preloaded ahead of the sanitizer runtime.
		if (target().sanitized)
			::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
		int in = open("/dev/null", O_RDONLY);
		int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0)
			_exit(126);
		close(in);
		close(o);
		close(e);
		if (setup)
			setup();
		if (in_child_)
			in_child_();
		std::vector<char *> args;
		for (const auto &a : argv)
			args.push_back(const_cast<char *>(a.c_str()));
		args.push_back(nullptr);
		execvp(args[0], args.data());
		std::fprintf(stderr, "harness: cannot run %s: %s\n", args[0], std::strerror(errno));
		_exit(127);
	}
	int st = 0;
	waitpid(pid, &st, 0);
	Result r;
	r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
	r.out = slurp(out);
	r.err = slurp(err);
	std::remove(out.c_str());
	std::remove(err.c_str());
	std::vector<std::string> socks;
	for (std::string line : lines(read("log"))) {
		// Socket numbers differ between hosts and emulators: call them S.
		std::istringstream w(line);
		std::string verb, fd;
		w >> verb >> fd;
		if (verb == "socket" && fd != "-1")
			socks.push_back(fd);
		bool sock_verb = verb == "socket" || verb == "ioctl" || verb == "close";
		if (sock_verb && std::find(socks.begin(), socks.end(), fd) != socks.end())
			line.replace(verb.size() + 1, fd.size(), "S");
		r.log.push_back(line);
	}
	return r;
}

std::vector<std::string> Sim::command(const std::vector<std::string> &args, bool preload) const
{
	const Target &t = target();
	std::vector<std::string> argv;
	if (t.cross()) {
		argv = words(t.runner);
		if (preload)
			argv.insert(argv.end(), { "-E", "LD_PRELOAD=" + t.preload });
	}
	argv.push_back(t.tool);
	argv.insert(argv.end(), args.begin(), args.end());
	return argv;
}

Result Sim::run(const std::vector<std::string> &args, bool preload) const
{
	return backend().run(*this, command(args, preload), preload);
}

// The bytes the target holds for v, as lower-case hex.
static std::string hex_bytes(uint32_t v, int n)
{
	std::string s;
	char b[3];
	for (int i = 0; i < n; i++) {
		int shift = target().big_endian ? 8 * (n - 1 - i) : 8 * i;
		std::snprintf(b, sizeof(b), "%02x", (v >> shift) & 0xff);
		s += b;
	}
	return s;
}

std::string request(unsigned code, uint16_t flags)
{
	const Target &t = target();
	char c[8];
	std::snprintf(c, sizeof(c), "%04x", code);
	// "phy0", NUL-padded, the rest zero but for the data pointer, which the
	// log shows as '*'.
	std::string line = "ioctl S 0x" + std::string(c) + " block=70687930" +
			   std::string(2 * 12, '0') + std::string(2 * t.pointer_size, '*') +
			   std::string(2 * (t.ifreq_size - 16 - t.pointer_size), '0') + " data=";
	for (uint32_t i = 0; code == 0x8948 && i < 20; i++)
		line += hex_bytes(i < 5 ? i : 0, 4);
	return code == 0x8948 ? line : line + hex_bytes(flags, 2);
}

std::vector<std::string> grep(const std::vector<std::string> &lines, const std::string &prefix)
{
	std::vector<std::string> hits;
	for (const auto &l : lines)
		if (l.compare(0, prefix.size(), prefix) == 0)
			hits.push_back(l);
	return hits;
}

int main(int argc, char **argv)
{
	testing::InitGoogleTest(&argc, argv);
	for (int i = 1; i < argc; i++)
		if (std::strncmp(argv[i], "--target=", 9) == 0)
			target_file = argv[i] + 9;
	return RUN_ALL_TESTS();
}
