/* SPDX-License-Identifier: GPL-2.0-only OR BSD-2-Clause */
/*
 * The simulated switch: the kernel module and the user-space switch both
 * compile this source, so the two agree byte for byte. It works only on
 * memory the caller owns and keeps nothing between calls: the caller locks,
 * reads its clocks and passes the time in. Errors are negative errno values.
 */
#ifndef SWMODEL_H
#define SWMODEL_H

/* Each side's include path supplies what the model takes from it. */
#include "swmodel_env.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SWM_PORTS	5		/* lan0..lan3, wan */
#define SWM_LANS	4
#define SWM_REGS	16
#define SWM_BOOT_LEN	36		/* a boot id: a lowercase uuid */
#define SWM_STATUS_WORDS 20		/* the port status record, in u32 */
#define SWM_CYCLE_LEN	5		/* secs, then mask bits 3..0 */
#define SWM_STATE_MAX	(1 << 20)	/* state text longer than this is refused */
#define SWM_HOLD_DIGITS	19		/* a hold's end: any such number fits 64 bits */
#define SWM_HOLD_MAX	9999999999999999999ULL
#define SWM_TEXT_HEAD	"# switchsim state; edit freely, one setting a line.\n" \
	"# port link speed duplex [held down until: ms on the boot clock, boot id]\n"
/* The longest state text: every value 10 digits, every port held, every register set. */
#define SWM_TEXT_MAX	(sizeof(SWM_TEXT_HEAD) +					\
			 SWM_PORTS * (sizeof("lan0 4294967295 4294967295 4294967295\n") + \
				      2 + SWM_HOLD_DIGITS + SWM_BOOT_LEN) +		\
			 sizeof("led 4294967295\nheader 4294967295\n") +		\
			 SWM_REGS * sizeof("reg 0x00000000 0x00000000\n"))
#define SWM_LINE_MAX	512		/* room enough for any log line */
#define SWM_NO_FD	(-1)		/* logged as "S": the kernel sees no fd */
#define SWM_REQ_STATUS	0x8948		/* SIOCGMIIREG: the port status record */
#define SWM_REQ_HEADER	0x89fe		/* SIOCDEVPRIVATE + 14 */
#define SWM_REQ_LED	0x89ff		/* SIOCDEVPRIVATE + 15 */

struct swm_port {
	uint32_t link;		/* non-zero: up */
	uint32_t speed;
	uint32_t duplex;	/* non-zero: full */
	uint64_t until;		/* ms on the boot clock; reads down before it */
};

struct swm_reg { uint32_t addr, value; };

struct swm_state {
	struct swm_port port[SWM_PORTS];
	uint32_t led;		/* 0 off, 1 green, 2 amber */
	uint32_t header;	/* 0 off, 1 on */
	uint32_t nregs;
	struct swm_reg reg[SWM_REGS];
};

struct swm_clock {
	uint64_t now;		/* ms on the boot clock */
	const char *boot;	/* this boot's id, SWM_BOOT_LEN characters */
};

struct swm_error {
	unsigned int line;	/* 1 the first, 0 the whole text */
	const char *why;
};

extern const char *const swm_port_name[SWM_PORTS];

void swm_default(struct swm_state *st);

/*
 * The text's settings on top of st (on swm_default's, for a whole state).
 * On an error st holds some of them: apply to a copy. Another boot's hold
 * holds nothing.
 */
int swm_apply(struct swm_state *st, const char *text, size_t len,
	      const struct swm_clock *clk, struct swm_error *err);
/* The state text, NUL-terminated, or -ENOSPC; expired holds left out. */
int swm_print(const struct swm_state *st, const struct swm_clock *clk, char *buf, size_t size);

/* Decimal, or hex after 0x; no sign, no space. 0 or -EINVAL. */
int swm_u32(const char *s, size_t len, uint32_t *out);

/* The settings that have words: a word, or the number where there is none. */
enum swm_field { SWM_LINK, SWM_DUPLEX, SWM_LED, SWM_HEADER };
int swm_word_parse(enum swm_field f, const char *s, size_t len, uint32_t *out);
const char *swm_word(enum swm_field f, uint32_t v, char num[12]);

int swm_set_reg(struct swm_state *st, uint32_t addr, uint32_t value);

/* What port i reads at now: link, speed and duplex 0 while it is held. */
struct swm_port swm_port_now(const struct swm_state *st, int i, uint64_t now);
/* What a request's data points at, in bytes; 0 for a request not the driver's. */
size_t swm_request_size(unsigned long code);
/*
 * One of the driver's requests answered: the status puts the ports' words
 * into the record's words 5..19 and leaves the rest; the LED (0..2) and the
 * header (0..1) take a u16. 0, or -EINVAL for a value out of range.
 */
int swm_request(struct swm_state *st, unsigned long code, uint64_t now, void *data);
/* Exactly five digits: the seconds, then mask bits 3..0 (bit i holds LAN i down). */
int swm_cycle(struct swm_state *st, uint64_t now, const char *digits, size_t len);

/*
 * Log lines, without the newline; their length, or -ENOSPC. A request logs
 * "ioctl FD 0xCODE block=HEX data=HEX", the block a struct ifreq whose data
 * pointer (after the 16-byte name) is shown as '*'; data NULL, for a request
 * not the driver's, logs "ioctl FD 0xCODE passed-on".
 */
int swm_log_ioctl(char *buf, size_t size, int fd, unsigned long code,
		  const void *block, size_t block_len,
		  const void *data, size_t data_len);
/* What was written to the driver file: switch_phy HEX */
int swm_log_switch_phy(char *buf, size_t size, const void *bytes, size_t len);

#ifdef __cplusplus
}
#endif

#endif
