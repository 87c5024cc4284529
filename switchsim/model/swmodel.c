// SPDX-License-Identifier: GPL-2.0-only OR BSD-2-Clause
/*
 * Kernel rules hold in both builds: no floating point, no 64-bit division
 * (it does not link on 32-bit MIPS), no recursion, small frames.
 */
#include "swmodel.h"

#define SWM_FIELDS	5
#define SWM_IFNAMSIZ	16	/* struct ifreq: the name, then the data pointer */
#define SWM_WORDS	4	/* the most words a field has, and a NULL */
#define SWM_MS_MAX	999999999999999999ULL	/* 10 times it still fits 64 bits */
#define SWM_BOOT_MAX	0xfffffffffffffffULL	/* 16 times it still fits */

const char *const swm_port_name[SWM_PORTS] = { "lan0", "lan1", "lan2", "lan3", "wan" };

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

/* Decimal, or hex after 0x, up to max; each step stays far from overflow. */
static int swm_num(const char *s, size_t len, uint64_t max, uint64_t *out)
{
	uint64_t v = 0, base = 10, d;
	size_t i = 0;

	if (len > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
		base = 16;
		i = 2;
	}
	if (i == len)
		return -EINVAL;
	for (; i < len; i++) {
		d = s[i] >= '0' && s[i] <= '9' ? s[i] - '0' :
		    s[i] >= 'a' && s[i] <= 'f' ? s[i] - 'a' + 10 :
		    s[i] >= 'A' && s[i] <= 'F' ? s[i] - 'A' + 10 : 99;
		v = v * base + d;
		if (d >= base || v > max)
			return -EINVAL;
	}
	*out = v;
	return 0;
}

int swm_u32(const char *s, size_t len, uint32_t *out)
{
	uint64_t v;
	int err = swm_num(s, len, 0xffffffffU, &v);

	if (!err)
		*out = v;
	return err;
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

static const char *swm_word(enum swm_field f, uint32_t v, char num[12])
{
	if (v < SWM_WORDS && swm_words[f][v])
		return swm_words[f][v];
	snprintf(num, 12, "%u", (unsigned int)v);
	return num;
}

static int swm_port_line(struct swm_port *p, const struct swm_tok *tok, int n)
{
	struct swm_port q = { 0 };

	if ((n != 4 && n != 5) ||
	    swm_word_parse(SWM_LINK, tok[1].s, tok[1].n, &q.link) ||
	    swm_u32(tok[2].s, tok[2].n, &q.speed) ||
	    swm_word_parse(SWM_DUPLEX, tok[3].s, tok[3].n, &q.duplex) ||
	    (n == 5 && swm_num(tok[4].s, tok[4].n, SWM_MS_MAX, &q.until)))
		return -EINVAL;
	*p = q;
	return 0;
}

static int swm_line(struct swm_state *st, const char *s, size_t len)
{
	struct swm_tok tok[SWM_FIELDS + 1];
	uint32_t addr, value, i;
	size_t at, start;
	int n = 0, p;

	for (at = 0; at < len && n <= SWM_FIELDS; at++) {
		if (s[at] == ' ' || s[at] == '\t' || s[at] == '\r')
			continue;
		if (n == 0 && s[at] == '#')
			return 0;
		for (start = at; at + 1 < len && s[at + 1] != ' ' && s[at + 1] != '\t' &&
		     s[at + 1] != '\r'; at++)
			;
		tok[n].s = s + start;
		tok[n++].n = at + 1 - start;
	}
	if (n == 0)
		return 0;
	for (p = 0; p < SWM_PORTS; p++)
		if (swm_is(&tok[0], swm_port_name[p]))
			return swm_port_line(&st->port[p], tok, n);
	if (n == 2 && swm_is(&tok[0], "led"))
		return swm_word_parse(SWM_LED, tok[1].s, tok[1].n, &st->led);
	if (n == 2 && swm_is(&tok[0], "header"))
		return swm_word_parse(SWM_HEADER, tok[1].s, tok[1].n, &st->header);
	if (n == 2 && swm_is(&tok[0], "boot"))
		return swm_num(tok[1].s, tok[1].n, SWM_BOOT_MAX, &st->boot);
	if (n != 3 || !swm_is(&tok[0], "reg") || swm_u32(tok[1].s, tok[1].n, &addr) ||
	    swm_u32(tok[2].s, tok[2].n, &value))
		return -EINVAL;
	for (i = 0; i < st->nregs && st->reg[i][0] != addr; i++)
		;
	if (i >= SWM_REGS)
		return -ENOSPC;
	st->nregs += i == st->nregs;
	st->reg[i][0] = addr;
	st->reg[i][1] = value;
	return 0;
}

int swm_apply(struct swm_state *st, const char *text, size_t len, unsigned int *line)
{
	const char *nl;
	size_t at, n;
	int ret;

	*line = 0;
	if (len > SWM_TEXT_MAX)
		return -EFBIG;
	for (at = 0; at < len; at += n + 1) {
		nl = memchr(text + at, '\n', len - at);
		n = nl ? (size_t)(nl - (text + at)) : len - at;
		++*line;
		ret = swm_line(st, text + at, n);
		if (ret)
			return ret;
	}
	*line = 0;
	return 0;
}

/* Output into a caller's buffer; the first text that does not fit sticks. */
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

static int swm_done(const struct swm_out *o)
{
	return o->err ? o->err : (int)o->len;
}

/* Bytes as hex, those in [mask, mask_end) as "**" each; then swm_done(). */
static int swm_put_hex(struct swm_out *o, const unsigned char *b, size_t len,
		       size_t mask, size_t mask_end)
{
	size_t i;

	for (i = 0; i < len; i++) {
		if (i >= mask && i < mask_end)
			swm_put(o, "**");
		else
			swm_put(o, "%02x", b[i]);
	}
	return swm_done(o);
}

int swm_print(const struct swm_state *st, uint64_t now, char *buf, size_t size)
{
	struct swm_out o = { buf, size, 0, 0 };
	const struct swm_port *p;
	char a[12], b[12];
	uint32_t i;

	swm_put(&o, "# switchsim state; edit freely, one setting a line.\n"
		"# port link speed duplex [held down until: ms on the boot clock]\n");
	for (i = 0; i < SWM_PORTS; i++) {
		p = &st->port[i];
		swm_put(&o, "%s %s %u %s", swm_port_name[i], swm_word(SWM_LINK, p->link, a),
			(unsigned int)p->speed, swm_word(SWM_DUPLEX, p->duplex, b));
		if (now < p->until)
			swm_put(&o, " %llu", (unsigned long long)p->until);
		swm_put(&o, "\n");
	}
	swm_put(&o, "led %s\nheader %s\n", swm_word(SWM_LED, st->led, a),
		swm_word(SWM_HEADER, st->header, b));
	for (i = 0; i < st->nregs && i < SWM_REGS; i++)
		swm_put(&o, "reg 0x%08x 0x%08x\n", (unsigned int)st->reg[i][0],
			(unsigned int)st->reg[i][1]);
	if (st->boot)
		swm_put(&o, "boot 0x%015llx\n", (unsigned long long)st->boot);
	return swm_done(&o);
}

size_t swm_request_size(unsigned long code)
{
	if (code == SWM_REQ_STATUS)
		return SWM_STATUS_WORDS * sizeof(uint32_t);
	return code == SWM_REQ_LED || code == SWM_REQ_HEADER ? sizeof(uint16_t) : 0;
}

/* Exactly two bytes: the router's tools send a u16, which on a big-endian
 * router is not the first half of an int. */
int swm_request(struct swm_state *st, unsigned long code, uint64_t now, void *data)
{
	enum swm_field f = code == SWM_REQ_LED ? SWM_LED : SWM_HEADER;
	static const struct swm_port down;	/* a link cycle's hold reads all 0 */
	const struct swm_port *p;
	uint32_t *rec = data;
	uint16_t v;
	int i;

	if (code == SWM_REQ_STATUS) {
		for (i = 0; i < SWM_PORTS; i++) {
			p = now < st->port[i].until ? &down : &st->port[i];
			rec[5 + i] = p->link;
			rec[10 + i] = p->speed;
			rec[15 + i] = p->duplex;
		}
		return 0;
	}
	memcpy(&v, data, sizeof(v));
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
	until = now + (uint64_t)(digits[0] - '0') * 1000;
	/* A shorter cycle does not end a longer one still running. */
	for (i = 0; i < SWM_LANS; i++)
		if (digits[SWM_LANS - i] == '1' && st->port[i].until < until)
			st->port[i].until = until;
	return 0;
}

int swm_log_ioctl(char *buf, size_t size, int fd, unsigned long code,
		  const void *block, size_t block_len, const void *data, size_t data_len)
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
	return swm_put_hex(&o, data, data_len, 0, 0);
}

int swm_log_switch_phy(char *buf, size_t size, const void *bytes, size_t len)
{
	struct swm_out o = { buf, size, 0, 0 };

	swm_put(&o, "switch_phy ");
	return swm_put_hex(&o, bytes, len, 0, 0);
}
