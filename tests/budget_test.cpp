// SPDX-License-Identifier: BSD-2-Clause
// What the shipped binary may cost: flash, libraries, start-up work, and the
// system calls of one run.
#include "harness.h"

#include <regex>
#include <sys/stat.h>

namespace {

// The budget is the shipped binary's; a sanitized build is not that.
#define SKIP_UNLESS_SHIPPED()                                                      \
	do {                                                                       \
		if (target().sanitized)                                            \
			GTEST_SKIP() << "budgets apply to the unsanitized build";   \
		if (!backend().preloaded())                                          \
			GTEST_SKIP() << "binutils and strace run on the build machine"; \
	} while (0)

TEST(Budget, StrippedSizeFitsTheFlash)
{
	SKIP_UNLESS_SHIPPED();
	const Target &t = target();
	if (!t.size_budget)
		GTEST_SKIP() << "flash size is budgeted for the router build";
	Sim sim;
	std::string stripped = sim.dir + "/vok_eth";
	ASSERT_EQ(shell("'" + t.strip + "' -o '" + stripped + "' '" + t.tool + "' 2>&1"), "");
	struct stat st;
	ASSERT_EQ(stat(stripped.c_str(), &st), 0);
	EXPECT_LE(st.st_size, t.size_budget);
}

TEST(Budget, LibcIsTheOnlyNeededLibrary)
{
	SKIP_UNLESS_SHIPPED();
	const Target &t = target();
	std::string needed = shell("'" + t.readelf + "' -d '" + t.tool + "' | grep '(NEEDED)'");
	if (t.needed.empty()) {
		EXPECT_EQ(needed, "") << "a static build needs nothing";
		return;
	}
	EXPECT_EQ(lines(needed).size(), 1u) << needed;
	EXPECT_NE(needed.find("[" + t.needed + "]"), std::string::npos) << needed;
}

TEST(Budget, NoStaticConstructorsOrDestructors)
{
	SKIP_UNLESS_SHIPPED();
	const Target &t = target();
	std::string syms = shell("'" + t.nm + "' '" + t.tool + "'");
	ASSERT_NE(syms.find(" main\n"), std::string::npos) << "no symbols to check";
	for (const char *s : { "_GLOBAL__sub_I", "_GLOBAL__sub_D", "__cxa_atexit", " atexit" })
		EXPECT_EQ(syms.find(s), std::string::npos) << s;
	// Only the C runtime's own entry in each table.
	std::string sections = shell("'" + t.readelf + "' -SW '" + t.tool + "'");
	for (const char *name : { "init_array", "fini_array" }) {
		std::smatch m;
		// Name, type, address, offset, size.
		std::regex row(std::string("\\.") + name + " +\\S+ +\\S+ +\\S+ +([0-9a-f]+) ");
		ASSERT_TRUE(std::regex_search(sections, m, row)) << name << "\n" << sections;
		EXPECT_EQ(std::stoul(m[1], nullptr, 16), size_t(t.pointer_size)) << name;
	}
}

// The system calls of one run, from the first socket() on: start-up is the
// loader's business.
std::vector<std::string> traced(const Sim &sim, bool preload, std::string *writes)
{
	const Target &t = target();
	std::string trace = sim.beside("trace");
	std::vector<std::string> argv = { "strace", "-qq", "-s", "512", "-o", trace };
	if (preload)
		argv.insert(argv.end(), { "-E", "LD_PRELOAD=" + t.preload });
	argv.insert(argv.end(), { t.tool, "-s" });
	Result r = sim.exec(argv, false);
	std::vector<std::string> calls;
	bool started = false;
	for (std::string l : lines(sim.read("../trace"))) {
		// strace pads before " = result"; keep one blank.
		size_t eq = l.rfind(" = ");
		size_t end = eq == std::string::npos ? eq : l.find_last_not_of(' ', eq);
		if (end != std::string::npos)
			l.erase(end + 1, eq - end - 1);
		if (l.rfind("write(1, ", 0) == 0)
			*writes += l + "\n";
		started = started || l.rfind("socket(", 0) == 0;
		if (started && l[0] != '+')
			calls.push_back(l.rfind("write(2, ", 0) == 0 ? l : l.substr(0, l.find('(')));
	}
	return calls;
}

// Without the driver, one request and one message; with it, the report
// leaves in one write.
TEST(Syscalls, OneRequestAndOneMessageOrOneWrite)
{
	SKIP_UNLESS_SHIPPED();
	if (target().cross())
		GTEST_SKIP() << "traced on the host build";
	Sim bare, sim;
	std::string none, writes;
	EXPECT_EQ(traced(bare, false, &none),
		  (Args{ "socket", "ioctl", "write(2, \"ioctl error!\\n\", 13) = 13", "close",
			 "exit_group" }));
	EXPECT_EQ(none, "");
	sim.write("state", "lan0 up 1000 full\n");
	traced(sim, true, &writes);
	EXPECT_EQ(writes, "write(1, \"LAN0:up:1000:full\\nLAN1:up:100:full\\nLAN2:down:0:half\\n"
			  "LAN3:down:0:half\\nWAN:up:1000:full\\n\", 86) = 86\n");
}

} // namespace
