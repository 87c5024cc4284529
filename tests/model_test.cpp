// SPDX-License-Identifier: BSD-2-Clause
// The switch model alone, as both switches compile it.
#include "swmodel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const uint64_t now = 5000; // ms on the boot clock

std::string print(const swm_state &st)
{
	char buf[SWM_TEXT_MAX];
	int n = swm_print(&st, now, buf, sizeof(buf));
	EXPECT_GE(n, 0);
	return n < 0 ? "" : std::string(buf, (size_t)n);
}

// Parsed from a buffer of exactly its size, so a read past it is caught.
int parse(swm_state *st, const std::string &text, unsigned *line)
{
	std::vector<char> buf(text.begin(), text.end());
	swm_default(st);
	return swm_apply(st, buf.data(), buf.size(), line);
}

void set_reg(swm_state &s, uint32_t addr, uint32_t value)
{
	s.reg[s.nregs][0] = addr;
	s.reg[s.nregs++][1] = value;
}

TEST(Model, StateTextParses)
{
	std::string regs, regs_over;
	for (int i = 0; i < SWM_REGS; i++)
		regs += "reg " + std::to_string(i) + " 1\n";
	regs_over = regs + "reg 0x99 1\n";
	std::string biggest; // the longest text the parser takes, as printed
	for (const char *p : swm_port_name)
		biggest += p + " 4294967295 4294967295 4294967295 999999999999999999\n"s;
	biggest += "led 4294967295\nheader 4294967295\n" + regs + "boot 0xfffffffffffffff\n";
	struct Case {
		std::string text;
		int ret;
		unsigned line;
		std::function<void(swm_state &)> want; // on the default state
	} cases[] = {
		{ "", 0, 0, nullptr },
		{ "lan2 up 100 half", 0, 0, [](swm_state &s) { s.port[2] = { 1, 100, 0, 0 }; } },
		{ "\tlan3  1 0x64\tfull\r\n# x y z 1 2 3 4\n\n  \r\n", 0, 0,
		  [](swm_state &s) { s.port[3] = { 1, 100, 1, 0 }; } },
		{ "wan 7 010 9\n", 0, 0, [](swm_state &s) { s.port[4] = { 7, 10, 9, 0 }; } },
		{ "led amber\nheader on\n", 0, 0, [](swm_state &s) { s.led = 2, s.header = 1; } },
		{ "led 0x7\nheader 0X2", 0, 0, [](swm_state &s) { s.led = 7, s.header = 2; } },
		{ "reg 0x9c 2\nreg 156 0xffffffff\nreg 0 0", 0, 0, [](swm_state &s) {
			  set_reg(s, 0x9c, 0xffffffff);
			  set_reg(s, 0, 0);
		  } },
		{ regs, 0, 0, [](swm_state &s) {
			  for (uint32_t i = 0; i < SWM_REGS; i++)
				  set_reg(s, i, 1);
		  } },
		{ "lan0 down 0 half 9000", 0, 0, [](swm_state &s) { s.port[0] = { 0, 0, 0, 9000 }; } },
		{ "lan0 down 0 half 000000000000000000009000", 0, 0,
		  [](swm_state &s) { s.port[0] = { 0, 0, 0, 9000 }; } },
		{ biggest, 0, 0, [](swm_state &s) {
			  for (auto &p : s.port)
				  p = { 0xffffffff, 0xffffffff, 0xffffffff, 999999999999999999u };
			  s.led = s.header = 0xffffffff;
			  for (uint32_t i = 0; i < SWM_REGS; i++)
				  set_reg(s, i, 1);
			  s.boot = 0xfffffffffffffff;
		  } },
		{ "boot 0x0123456789abcde\n", 0, 0, [](swm_state &s) { s.boot = 0x0123456789abcde; } },
		{ "boot 12\nboot 0", 0, 0, nullptr },
		{ std::string(SWM_TEXT_MAX - 9, '#') + "\nled off\n", 0, 0, [](swm_state &s) { s.led = 0; } },
		{ "lan0 up 1000 full 9000 1", -EINVAL, 1, nullptr },
		{ "lan0 up 1000 full 1000000000000000000", -EINVAL, 1, nullptr },
		{ "lan0 up 1000 full 9e3", -EINVAL, 1, nullptr },
		{ "boot 0x1000000000000000", -EINVAL, 1, nullptr },
		{ "boot 0x123456789abcdef0", -EINVAL, 1, nullptr },
		{ "boot", -EINVAL, 1, nullptr }, { "boot 1 2", -EINVAL, 1, nullptr },
		{ "lan0 up 1000", -EINVAL, 1, nullptr },
		{ "\n\nlan0 up 0x full\n", -EINVAL, 3, nullptr },
		{ "lan0 up 1e3 full", -EINVAL, 1, nullptr },
		{ "lan0 up -1 full", -EINVAL, 1, nullptr },
		{ "lan0 on 1 full", -EINVAL, 1, nullptr },
		{ "lan0 up 4294967296 full", -EINVAL, 1, nullptr },
		{ "# ok\nled 4294967296", -EINVAL, 2, nullptr },
		{ "led 0x", -EINVAL, 1, nullptr }, { "led", -EINVAL, 1, nullptr },
		{ "led on", -EINVAL, 1, nullptr },
		{ "header amber", -EINVAL, 1, nullptr },
		{ "reg 1", -EINVAL, 1, nullptr }, { "reg 1 2 3", -EINVAL, 1, nullptr },
		{ "led amber # x", -EINVAL, 1, nullptr },
		{ "reg 0x 1", -EINVAL, 1, nullptr },
		{ "LAN0 up 1000 full", -EINVAL, 1, nullptr },
		{ "lan0 up 1000 full 1 2 3 4", -EINVAL, 1, nullptr },
		{ "lan0 up 100 full\nled gr\0een\nwan down 0 half\n"s, -EINVAL, 2, nullptr },
		{ regs_over, -ENOSPC, SWM_REGS + 1, nullptr },
		{ std::string(SWM_TEXT_MAX, '#') + "\n", -EFBIG, 0, nullptr },
	};
	for (const auto &c : cases) {
		const std::string name = c.text.substr(0, 80);
		swm_state got, want;
		unsigned line = 99;
		EXPECT_EQ(parse(&got, c.text, &line), c.ret) << name;
		EXPECT_EQ(line, c.line) << name;
		if (c.ret)
			continue;
		swm_default(&want);
		if (c.want)
			c.want(want);
		EXPECT_EQ(print(got), print(want)) << name;
	}
}

TEST(Model, AppendAppliesOnTop)
{
	swm_state st;
	unsigned line;
	swm_default(&st);
	st.led = 0;
	const char text[] = "reg 0x9c 2\n";
	ASSERT_EQ(swm_apply(&st, text, strlen(text), &line), 0);
	ASSERT_EQ(swm_apply(&st, text, strlen(text), &line), 0);
	EXPECT_EQ(st.led, 0u);
	EXPECT_EQ(st.nregs, 1u);
}

TEST(Model, PrintedText)
{
	swm_state st;
	swm_default(&st);
	set_reg(st, 0x9c, 2);
	st.port[1] = { 3, 4294967295u, 7, 5001 };
	st.port[2].until = 5000; // ends now: no longer printed
	st.port[3].until = UINT64_MAX;
	st.boot = 0xabc;
	const std::string text = "# switchsim state; edit freely, one setting a line.\n"
				 "# port link speed duplex "
				 "[held down until: ms on the boot clock]\n"
				 "lan0 up 1000 full\nlan1 3 4294967295 7 5001\n"
				 "lan2 down 0 half\nlan3 down 0 half 18446744073709551615\n"
				 "wan up 1000 full\nled green\nheader off\nreg 0x0000009c 0x00000002\n"
				 "boot 0x000000000000abc\n";
	EXPECT_EQ(print(st), text);
	char buf[SWM_TEXT_MAX];
	EXPECT_EQ(swm_print(&st, now, buf, text.size() + 1), (int)text.size());
	EXPECT_EQ(buf, text);
	EXPECT_EQ(swm_print(&st, now, buf, text.size()), -ENOSPC);
	EXPECT_EQ(swm_print(&st, now, buf, 0), -ENOSPC);
}

TEST(Model, NumbersAreDecimalOrHexU32)
{
	struct Case {
		const char *s;
		int ret;
		uint32_t v;
	} cases[] = {
		{ "0", 0, 0 }, { "010", 0, 10 }, { "000000000000000000000000000001", 0, 1 },
		{ "4294967295", 0, 4294967295u }, { "0xffffffff", 0, 4294967295u },
		{ "0X1f", 0, 31 }, { "0x00000000000000000000000000001", 0, 1 },
		{ "4294967296", -EINVAL, 0 }, { "42949672950", -EINVAL, 0 },
		{ "0x100000000", -EINVAL, 0 }, { "0x", -EINVAL, 0 }, { "", -EINVAL, 0 },
		{ "+1", -EINVAL, 0 }, { "-1", -EINVAL, 0 }, { "1a", -EINVAL, 0 },
		{ "0xg", -EINVAL, 0 }, { " 1", -EINVAL, 0 }, { "1\n", -EINVAL, 0 },
	};
	for (const auto &c : cases) {
		uint32_t v = 12345;
		std::vector<char> buf(c.s, c.s + strlen(c.s));
		EXPECT_EQ(swm_u32(buf.data(), buf.size(), &v), c.ret) << c.s;
		EXPECT_EQ(v, c.ret ? 12345 : c.v) << c.s;
	}
}

TEST(Model, WordsOrNumbers)
{
	struct Case {
		swm_field f;
		const char *s;
		int ret;
		uint32_t v;
	} cases[] = {
		{ SWM_LINK, "up", 0, 1 },	  { SWM_LINK, "down", 0, 0 },
		{ SWM_LINK, "2", 0, 2 },	  { SWM_LINK, "Up", -EINVAL, 0 },
		{ SWM_DUPLEX, "full", 0, 1 },	  { SWM_DUPLEX, "half", 0, 0 },
		{ SWM_DUPLEX, "fu", -EINVAL, 0 }, { SWM_LED, "amber", 0, 2 },
		{ SWM_LED, "0x1", 0, 1 },	  { SWM_LED, "on", -EINVAL, 0 },
		{ SWM_HEADER, "on", 0, 1 },	  { SWM_HEADER, "green", -EINVAL, 0 },
		{ SWM_HEADER, "3", 0, 3 },
	};
	for (const auto &c : cases) {
		uint32_t v = 99;
		std::vector<char> buf(c.s, c.s + strlen(c.s));
		EXPECT_EQ(swm_word_parse(c.f, buf.data(), buf.size(), &v), c.ret) << c.s;
		EXPECT_EQ(v, c.ret ? 99 : c.v) << c.s;
	}
}

TEST(Model, LinkCycleHoldsLanPortsUntilTheLastEnds)
{
	struct Case {
		std::string digits;
		uint64_t before[SWM_PORTS];
		int ret;
		uint64_t after[SWM_PORTS];
	} cases[] = {
		{ "30101", {}, 0, { 8000, 0, 8000, 0, 0 } },
		{ "91111", {}, 0, { 14000, 14000, 14000, 14000, 0 } },
		{ "00001", {}, 0, { 5000, 0, 0, 0, 0 } },
		{ "10011", { 9000, 100 }, 0, { 9000, 6000 } },
		{ "20000", { 7 }, 0, { 7 } },
		{ "10001", { 5000 + 9001 }, 0, { 14001 } },
		{ "10001", { UINT64_MAX }, 0, { UINT64_MAX } },
		{ "00001", { 4999 }, 0, { 5000 } },
		{ "3010", {}, -EINVAL, {} }, { "301011", {}, -EINVAL, {} },
		{ "30121", {}, -EINVAL, {} }, { "a0101", {}, -EINVAL, {} },
		{ "3010\n", {}, -EINVAL, {} }, { " 0101", {}, -EINVAL, {} },
		{ "3010\0"s, {}, -EINVAL, {} },
	};
	for (const auto &c : cases) {
		swm_state st;
		swm_default(&st);
		for (int i = 0; i < SWM_PORTS; i++)
			st.port[i].until = c.before[i];
		std::vector<char> buf(c.digits.begin(), c.digits.end());
		EXPECT_EQ(swm_cycle(&st, now, buf.data(), buf.size()), c.ret) << c.digits;
		for (int i = 0; i < SWM_PORTS; i++)
			EXPECT_EQ(st.port[i].until, c.ret ? c.before[i] : c.after[i]) << c.digits << " port " << i;
	}
}

TEST(Model, PortReadsDownWhileHeld)
{
	struct Case {
		uint64_t until, now;
		bool held;
	} cases[] = {
		{ 0, 0, false }, { 5000, 4999, true }, { 5000, 5000, false },
		{ UINT64_MAX, UINT64_MAX - 1, true }, { 14000, 5000, true },
		{ 14001, 5000, true }, { UINT64_MAX, 0, true }, { 5001, 5000, true },
	};
	for (const auto &c : cases) {
		swm_state st;
		swm_default(&st);
		st.port[4].until = c.until;
		uint32_t rec[SWM_STATUS_WORDS];
		for (uint32_t i = 0; i < SWM_STATUS_WORDS; i++)
			rec[i] = 0xa5a5a5a5;
		EXPECT_EQ(swm_request(&st, SWM_REQ_STATUS, c.now, rec), 0);
		const uint32_t up[3] = { 1, 1000, 1 }, down[3] = { 0, 0, 0 };
		for (int w = 0; w < 3; w++)
			EXPECT_EQ(rec[5 * (w + 1) + 4], c.held ? down[w] : up[w]) << c.until << " " << c.now;
		for (int i = 0; i < 5; i++)
			EXPECT_EQ(rec[i], 0xa5a5a5a5) << "the request's own words";
		EXPECT_EQ(rec[5], 1u) << "other ports";
	}
}

TEST(Model, LedAndHeaderValues)
{
	struct Case {
		unsigned long code;
		uint16_t v;
		int ret;
	} cases[] = {
		{ SWM_REQ_LED, 0, 0 },	    { SWM_REQ_LED, 2, 0 },	   { SWM_REQ_LED, 3, -EINVAL },
		{ SWM_REQ_LED, 0xffff, -EINVAL }, { SWM_REQ_HEADER, 1, 0 },
		{ SWM_REQ_HEADER, 2, -EINVAL }, { SWM_REQ_HEADER, 0x100, -EINVAL },
	};
	for (const auto &c : cases) {
		swm_state st;
		swm_default(&st);
		const std::string before = print(st);
		uint16_t v = c.v;
		EXPECT_EQ(swm_request_size(c.code), 2u);
		EXPECT_EQ(swm_request(&st, c.code, 0, &v), c.ret) << c.v;
		if (c.ret) {
			EXPECT_EQ(print(st), before) << c.v;
		} else {
			EXPECT_EQ(c.code == SWM_REQ_LED ? st.led : st.header, c.v);
		}
	}
}

TEST(Model, LogLines)
{
	unsigned char block[40], data[2] = { 0x00, 0x02 };
	for (size_t i = 0; i < sizeof(block); i++)
		block[i] = (unsigned char)(0xa0 + i);
	// The name's 16 bytes, the data pointer's masked, then the rest.
	const std::string hex = "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"s +
				(sizeof(void *) == 8 ? "****************" : "********b4b5b6b7") +
				"b8b9babbbcbdbebfc0c1c2c3c4c5c6c7";
	char buf[SWM_LINE_MAX];
	struct Case {
		int fd;
		unsigned long code;
		const void *data;
		std::string want;
	} cases[] = {
		{ 3, 0x8948, data, "ioctl 3 0x8948 block=" + hex + " data=0002" },
		{ SWM_NO_FD, 0x89ff, data, "ioctl S 0x89ff block=" + hex + " data=0002" },
		{ 12, 0x5, nullptr, "ioctl 12 0x0005 passed-on" },
		{ 0, 0xc0de1234, nullptr, "ioctl 0 0xc0de1234 passed-on" },
	};
	for (const auto &c : cases) {
		EXPECT_EQ(swm_log_ioctl(buf, sizeof(buf), c.fd, c.code, block, sizeof(block), c.data, 2),
			  (int)c.want.size());
		EXPECT_EQ(buf, c.want);
		EXPECT_EQ(swm_log_ioctl(buf, c.want.size() + 1, c.fd, c.code, block, sizeof(block), c.data, 2),
			  (int)c.want.size());
		EXPECT_EQ(swm_log_ioctl(buf, c.want.size(), c.fd, c.code, block, sizeof(block), c.data, 2),
			  -ENOSPC);
	}
	EXPECT_EQ(swm_log_switch_phy(buf, sizeof(buf), "30101", 5), 21);
	EXPECT_STREQ(buf, "switch_phy 3330313031");
	EXPECT_EQ(swm_log_switch_phy(buf, 21, "30101", 5), -ENOSPC);
	EXPECT_EQ(swm_log_switch_phy(buf, sizeof(buf), "\n\0\xff", 3), 17);
	EXPECT_STREQ(buf, "switch_phy 0a00ff");
}

// Any bytes parse without fault, and whatever parses prints back the same.
TEST(Model, RandomTextRoundTrips)
{
	const char *const words[] = { "lan0", "lan1", "wan", "led", "header", "reg", "up", "down",
				      "full", "half", "off", "on", "amber", "0x", "0x9c", "4294967295",
				      "9000", "5001", "boot", "0xabc", "#", " ", "\t", "\r", "\n", "\n" };
	std::mt19937 rng(20261208);
	int parsed = 0;
	for (int run = 0; run < 20000; run++) {
		std::string text;
		if (run % 2) {
			swm_state st;
			swm_default(&st);
			auto r = [&](uint32_t n) { return (uint32_t)(rng() % n); };
			for (auto &p : st.port)
				p = { r(3), r(4) ? r(10001) : (uint32_t)rng(), r(3),
				      r(3) ? 0 : now - 2 + r(4) + (r(2) ? rng() : 0) };
			st.led = r(5) ? r(4) : (uint32_t)rng();
			st.header = r(5) ? r(3) : (uint32_t)rng();
			st.boot = r(2) ? 0 : (uint64_t)rng() << 28 | rng();
			for (uint32_t n = r(SWM_REGS + 1); n; n--)
				set_reg(st, n << 24 | (r(4) ? r(256) : (uint32_t)rng() >> 8), (uint32_t)rng());
			text = print(st);
			swm_state back;
			unsigned line;
			ASSERT_EQ(parse(&back, text, &line), 0) << text << line;
			ASSERT_EQ(print(back), text);
			for (unsigned n = rng() % 4; n; n--) // then damaged a little
				text[rng() % text.size()] = (char)rng();
		} else {
			for (unsigned n = rng() % 40; n; n--)
				text += rng() % 8 ? words[rng() % (sizeof(words) / sizeof(*words))]
						  : std::string(1, (char)rng());
		}
		swm_state st;
		unsigned line;
		if (parse(&st, text, &line) != 0) {
			EXPECT_GT(line, 0u);
			continue;
		}
		parsed++;
		const std::string once = print(st);
		swm_state again;
		ASSERT_EQ(parse(&again, once, &line), 0) << once;
		ASSERT_EQ(print(again), once) << text;
	}
	EXPECT_GT(parsed, 2000) << "the generator should reach valid text often";
}

} // namespace
