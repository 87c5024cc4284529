// SPDX-License-Identifier: GPL-2.0-only OR BSD-2-Clause
/*
 * Kernel rules hold in both builds: no floating point, no 64-bit division
 * (it does not link on 32-bit MIPS), no recursion, small frames.
 */
#include "swmodel.h"

#define SWM_FIELDS	6
#define SWM_IFNAMSIZ	16	/* struct ifreq: the name, then the data pointer */
#define SWM_WORDS	4	/* the most words a field has, and a NULL */

const char *const swm_port_name[SWM_PORTS] = {
	"lan0", "lan1", "lan2", "lan3", "wan"
};
static const char *const swm_words[][SWM_WORDS] = {
	[SWM_LINK] = { "down", "up" },
	[SWM_DUPLEX] = { "half", "full" },
	[SWM_LED] = { "off", "green", "amber" },
	[SWM_HEADER] = { "off", "on" },
};

struct swm_tok {
	const char *s;
	size_t n;
};

void swm_default(struct swm_state *st)
{
	static const struct swm_state def = {
		.port = { { 1, 1000, 1, 0 }, { 1, 100, 1, 0 }, [4] = { 1, 1000, 1, 0 } },
		.led = 1,
	};

	*st = def;
}

static bool swm_is(const struct swm_tok *t, const char *word)
{
	return t->n == strlen(word) && !memcmp(t->s, word, t->n);
}

/* Lowercase only: a boot id is, and swm_u32 folds its own case. */
static int swm_digit(int c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	return 99;
}

int swm_u32(const char *s, size_t len, uint32_t *out)
{
	uint32_t v = 0, base = 10, d;
	size_t i = 0;

	if (len > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
		base = 16;
		i = 2;
	}
	if (i == len)
		return -EINVAL;
	for (; i < len; i++) {
		d = swm_digit(s[i] >= 'A' && s[i] <= 'F' ? s[i] - 'A' + 'a' : s[i]);
		if (d >= base || v > (0xffffffffU - d) / base)
			return -EINVAL;
		v = v * base + d;
	}
	*out = v;
	return 0;
}

int swm_word_parse(enum swm_field f, const char *s, size_t len, uint32_t *out)
{
	struct swm_tok t = { s, len };
	uint32_t i;

	for (i = 0; swm_words[f][i]; i++) {
		if (swm_is(&t, swm_words[f][i])) {
			*out = i;
			return 0;
		}
	}
	return swm_u32(s, len, out);
}

const char *swm_word(enum swm_field f, uint32_t v, char num[12])
{
	if (v < SWM_WORDS && swm_words[f][v])
		return swm_words[f][v];
	snprintf(num, 12, "%u", (unsigned int)v);
	return num;
}

/* Decimal ms; no one needs more digits than SWM_HOLD_DIGITS. */
static bool swm_ms(const struct swm_tok *t, uint64_t *out)
{
	uint64_t v = 0;
	size_t i, digits = 0;

	for (i = 0; i < t->n; i++) {
		if (t->s[i] < '0' || t->s[i] > '9')
			return false;
		v = v * 10 + (uint64_t)(t->s[i] - '0');
		if (v && ++digits > SWM_HOLD_DIGITS)
			return false;
	}
	*out = v;
	return t->n > 0;
}

static bool swm_boot_id(const struct swm_tok *t)
{
	size_t i;

	if (t->n != SWM_BOOT_LEN)
		return false;
	for (i = 0; i < t->n; i++) {
		bool dash = i == 8 || i == 13 || i == 18 || i == 23;

		if (dash ? t->s[i] != '-' : swm_digit(t->s[i]) > 15)
			return false;
	}
	return true;
}

int swm_set_reg(struct swm_state *st, uint32_t addr, uint32_t value)
{
	uint32_t i = 0;

	while (i < st->nregs && st->reg[i].addr != addr)
		i++;
	if (i >= SWM_REGS)
		return -ENOSPC;
	if (i == st->nregs)
		st->nregs++;
	st->reg[i] = (struct swm_reg){ addr, value };
	return 0;
}

static const char swm_why_port[] =
	"link is up, down or a number; speed a number; duplex full, half or a number";

static int swm_port_line(struct swm_port *p, const struct swm_tok *tok, int n,
			 const struct swm_clock *clk, const char **why)
{
	struct swm_port q = { 0 };
	const char *boot = clk ? clk->boot : NULL;

	if (n == 5 || (n == 6 && (!swm_ms(&tok[4], &q.until) || !swm_boot_id(&tok[5])))) {
		*why = "a hold is its end in ms on the boot clock and its boot id";
		return -EINVAL;
	}
	if (n != 4 && n != 6) {
		*why = "a port takes link, speed, duplex and an optional hold";
		return -EINVAL;
	}
	if (swm_word_parse(SWM_LINK, tok[1].s, tok[1].n, &q.link) ||
	    swm_u32(tok[2].s, tok[2].n, &q.speed) ||
	    swm_word_parse(SWM_DUPLEX, tok[3].s, tok[3].n, &q.duplex)) {
		*why = swm_why_port;
		return -EINVAL;
	}
	/* A hold outlives no reboot: its end means nothing on another clock. */
	if (n == 6 && (!boot || strlen(boot) != SWM_BOOT_LEN ||
		       memcmp(boot, tok[5].s, SWM_BOOT_LEN) != 0))
		q.until = 0;
	*p = q;
	return 0;
}

static bool swm_space(char c)
{
	return c == ' ' || c == '\t' || c == '\r';
}

static int swm_line(struct swm_state *st, const char *s, size_t len,
		    const struct swm_clock *clk, const char **why)
{
	struct swm_tok tok[SWM_FIELDS];
	uint32_t addr, value;
	size_t i = 0, start;
	int n = 0, p;

	for (; i < len; i++) {
		if (swm_space(s[i]))
			continue;
		if (n == 0 && s[i] == '#')
			return 0;
		if (n == SWM_FIELDS) {
			*why = "too many fields";
			return -EINVAL;
		}
		for (start = i; i + 1 < len && !swm_space(s[i + 1]); i++)
			;
		tok[n].s = s + start;
		tok[n++].n = i + 1 - start;
	}
	if (n == 0)
		return 0;
	for (p = 0; p < SWM_PORTS; p++)
		if (swm_is(&tok[0], swm_port_name[p]))
			return swm_port_line(&st->port[p], tok, n, clk, why);
	if (n == 2 && swm_is(&tok[0], "led") &&
	    !swm_word_parse(SWM_LED, tok[1].s, tok[1].n, &st->led))
		return 0;
	if (n == 2 && swm_is(&tok[0], "header") &&
	    !swm_word_parse(SWM_HEADER, tok[1].s, tok[1].n, &st->header))
		return 0;
	if (n == 3 && swm_is(&tok[0], "reg") &&
	    !swm_u32(tok[1].s, tok[1].n, &addr) &&
	    !swm_u32(tok[2].s, tok[2].n, &value)) {
		if (!swm_set_reg(st, addr, value))
			return 0;
		*why = "too many registers";
		return -ENOSPC;
	}
	*why = "expected lan0..lan3, wan, led, header or reg with its values";
	return -EINVAL;
}

int swm_apply(struct swm_state *st, const char *text, size_t len,
	      const struct swm_clock *clk, struct swm_error *err)
{
	const char *nl;
	size_t at = 0, n;
	int ret;

	*err = (struct swm_error){ 0, NULL };
	if (len > SWM_STATE_MAX) {
		err->why = "larger than 1 MiB";
		return -EFBIG;
	}
	while (at < len) {
		nl = memchr(text + at, '\n', len - at);
		n = nl ? (size_t)(nl - (text + at)) : len - at;
		err->line++;
		if (memchr(text + at, '\0', n)) {
			err->why = "a NUL byte";
			return -EINVAL;
		}
		ret = swm_line(st, text + at, n, clk, &err->why);
		if (ret)
			return ret;
		at += n + 1;
	}
	err->line = 0;
	return 0;
}

/*
 * Output into a caller's buffer; the first text that does not fit sticks.
 * vsnprintf keeps it NUL-terminated, and a size of 0 is an error at once.
 */
struct swm_out {
	char *buf;
	size_t size, len;
	int err;
};

static __printf(2, 3) void swm_put(struct swm_out *o, const char *fmt, ...)
{
	va_list ap;
	int n;

	if (o->err)
		return;
	va_start(ap, fmt);
	n = vsnprintf(o->buf + o->len, o->size - o->len, fmt, ap);
	va_end(ap);
	if (n < 0 || (size_t)n >= o->size - o->len)
		o->err = -ENOSPC;
	else
		o->len += n;
}

/* Bytes as hex; those in [mask, mask_end) as "**" each. */
static void swm_put_hex(struct swm_out *o, const unsigned char *b, size_t len,
			size_t mask, size_t mask_end)
{
	size_t i;

	for (i = 0; i < len; i++) {
		if (i >= mask && i < mask_end)
			swm_put(o, "**");
		else
			swm_put(o, "%02x", b[i]);
	}
}

static int swm_done(const struct swm_out *o)
{
	return o->err ? o->err : (int)o->len;
}

int swm_print(const struct swm_state *st, const struct swm_clock *clk, char *buf, size_t size)
{
	struct swm_out o = { buf, size, 0, 0 };
	char a[12], b[12];
	uint32_t i;

	swm_put(&o, SWM_TEXT_HEAD);
	for (i = 0; i < SWM_PORTS; i++) {
		const struct swm_port *p = &st->port[i];

		swm_put(&o, "%s %s %u %s", swm_port_name[i], swm_word(SWM_LINK, p->link, a),
			(unsigned int)p->speed, swm_word(SWM_DUPLEX, p->duplex, b));
		if (clk && clk->boot && p->until > clk->now)
			swm_put(&o, " %llu %s", (unsigned long long)p->until,
				clk->boot);
		swm_put(&o, "\n");
	}
	swm_put(&o, "led %s\nheader %s\n", swm_word(SWM_LED, st->led, a),
		swm_word(SWM_HEADER, st->header, b));
	for (i = 0; i < st->nregs && i < SWM_REGS; i++)
		swm_put(&o, "reg 0x%08x 0x%08x\n", (unsigned int)st->reg[i].addr,
			(unsigned int)st->reg[i].value);
	return swm_done(&o);
}

struct swm_port swm_port_now(const struct swm_state *st, int i, uint64_t now)
{
	struct swm_port p = st->port[i];

	if (now < p.until)
		p = (struct swm_port){ .until = p.until };
	return p;
}

size_t swm_request_size(unsigned long code)
{
	if (code == SWM_REQ_STATUS)
		return SWM_STATUS_WORDS * sizeof(uint32_t);
	return code == SWM_REQ_LED || code == SWM_REQ_HEADER ? sizeof(uint16_t) : 0;
}

/* The LED and header take exactly two bytes: the router's tools send a u16, not an int. */
int swm_request(struct swm_state *st, unsigned long code, uint64_t now, void *data)
{
	enum swm_field f = code == SWM_REQ_LED ? SWM_LED : SWM_HEADER;
	uint32_t *rec = data;
	struct swm_port p;
	uint16_t v;
	int i;

	if (code == SWM_REQ_STATUS) {
		for (i = 0; i < SWM_PORTS; i++) {
			p = swm_port_now(st, i, now);
			rec[5 + i] = p.link;
			rec[10 + i] = p.speed;
			rec[15 + i] = p.duplex;
		}
		return 0;
	}
	memcpy(&v, data, sizeof(v));
	/* The values a driver takes are those with words. */
	if (v >= SWM_WORDS || !swm_words[f][v])
		return -EINVAL;
	*(f == SWM_LED ? &st->led : &st->header) = v;
	return 0;
}

int swm_cycle(struct swm_state *st, uint64_t now, const char *digits, size_t len)
{
	uint64_t until;
	int i;

	if (len != SWM_CYCLE_LEN)
		return -EINVAL;
	for (i = 0; i < SWM_CYCLE_LEN; i++)
		if (digits[i] < '0' || digits[i] > (i ? '1' : '9'))
			return -EINVAL;
	until = (uint64_t)(digits[0] - '0') * 1000;
	/* Past what the parser takes, the state could not be read back. */
	until = now < SWM_HOLD_MAX - until ? now + until : SWM_HOLD_MAX;
	/* A shorter cycle does not end a longer one still running. */
	for (i = 0; i < SWM_LANS; i++)
		if (digits[SWM_LANS - i] == '1' && st->port[i].until < until)
			st->port[i].until = until;
	return 0;
}

int swm_log_ioctl(char *buf, size_t size, int fd, unsigned long code,
		  const void *block, size_t block_len,
		  const void *data, size_t data_len)
{
	struct swm_out o = { buf, size, 0, 0 };

	if (fd < 0)
		swm_put(&o, "ioctl S 0x%04lx", code);
	else
		swm_put(&o, "ioctl %d 0x%04lx", fd, code);
	if (!data) {
		swm_put(&o, " passed-on");
		return swm_done(&o);
	}
	/* The pointer's bytes are the only ones that differ from run to run. */
	swm_put(&o, " block=");
	swm_put_hex(&o, block, block_len, SWM_IFNAMSIZ, SWM_IFNAMSIZ + sizeof(void *));
	swm_put(&o, " data=");
	swm_put_hex(&o, data, data_len, 0, 0);
	return swm_done(&o);
}

int swm_log_switch_phy(char *buf, size_t size, const void *bytes, size_t len)
{
	struct swm_out o = { buf, size, 0, 0 };

	swm_put(&o, "switch_phy ");
	swm_put_hex(&o, bytes, len, 0, 0);
	return swm_done(&o);
}
