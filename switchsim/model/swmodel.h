/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The simulated switch itself: its state, the state text, the requests it
 * answers and the lines it logs. The kernel module and the user-space
 * switch both compile this same source, so the two agree byte for byte.
 *
 * It works only on memory the caller owns and keeps nothing between calls:
 * the caller locks, reads its clocks and passes the time in.
 * Errors are negative errno values.
 */
#ifndef SWMODEL_H
#define SWMODEL_H

#ifdef __KERNEL__
#include <linux/types.h>
#else
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#endif

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
/*
 * Room for the longest state the parser takes, printed: the two heading
 * lines (126), a port line of at most 95 (every number 32 bits wide, a
 * 19-digit hold and a boot id), led and header lines with 32-bit values
 * (33), 26 bytes for each register, and the NUL.
 */
#define SWM_TEXT_MAX	(126 + SWM_PORTS * 95 + 33 + SWM_REGS * 26 + 1)
#define SWM_LINE_MAX	512		/* room enough for any log line */
#define SWM_NO_FD	(-1)		/* logged as "S": the kernel sees no fd */

struct swm_port {
	uint32_t link;		/* non-zero: up */
	uint32_t speed;
	uint32_t duplex;	/* non-zero: full */
	uint64_t until;		/* ms on the boot clock; reads down before it */
};

struct swm_reg {
	uint32_t addr, value;
};

struct swm_state {
	struct swm_port port[SWM_PORTS];
	uint32_t led;		/* 0 off, 1 green, 2 amber */
	uint32_t header;	/* 0 off, 1 on */
	uint32_t nregs;
	struct swm_reg reg[SWM_REGS];
};

/* Now, on the boot clock, and this boot's id (SWM_BOOT_LEN characters). */
struct swm_clock {
	uint64_t now;
	const char *boot;
};

/* Where the state text went wrong: line 1 is the first, 0 the whole text. */
struct swm_error {
	unsigned int line;
	const char *why;
};

extern const char *const swm_port_name[SWM_PORTS];

void swm_default(struct swm_state *st);

/*
 * The whole text as a new state: st is reset to the default first, so on
 * an error it holds a partial state. Parse into a scratch record and copy
 * it over the live one on success, and a replace is all-or-nothing.
 * A hold of another boot is dropped.
 */
int swm_parse(struct swm_state *st, const char *text, size_t len,
	      const struct swm_clock *clk, struct swm_error *err);
/* The same lines applied on top of st, for appends; same caveat. */
int swm_apply(struct swm_state *st, const char *text, size_t len,
	      const struct swm_clock *clk, struct swm_error *err);
/*
 * The state text into buf, NUL-terminated; its length, or -ENOSPC if it
 * does not fit (SWM_TEXT_MAX always does). Expired holds are left out.
 */
int swm_print(const struct swm_state *st, const struct swm_clock *clk,
	      char *buf, size_t size);

/* Decimal, or hex after 0x; no sign, no space. 0 or -EINVAL. */
int swm_u32(const char *s, size_t len, uint32_t *out);

/* The settings that have words: a word, or the number where there is none. */
enum swm_field { SWM_LINK, SWM_DUPLEX, SWM_LED, SWM_HEADER };
int swm_word_parse(enum swm_field f, const char *s, size_t len, uint32_t *out);
/* The word for v, or NULL: then it is shown as a number. */
const char *swm_word_name(enum swm_field f, uint32_t v);

/* Sets or adds a register: 0, or -ENOSPC when the table is full. */
int swm_set_reg(struct swm_state *st, uint32_t addr, uint32_t value);

/* What port i reads at now: link, speed and duplex 0 while it is held. */
struct swm_port swm_port_now(const struct swm_state *st, int i, uint64_t now);
/* The status request: ports' words into rec[5..19], the rest left as is. */
void swm_status(const struct swm_state *st, uint64_t now,
		uint32_t rec[SWM_STATUS_WORDS]);
/* The LED (0..2) and header (0..1) requests: 0, or -EINVAL for others. */
int swm_set_led(struct swm_state *st, uint16_t v);
int swm_set_header(struct swm_state *st, uint16_t v);
/*
 * A link cycle as written to the driver file: exactly five digits, the
 * seconds, then mask bits 3..0 (bit i holds LAN i down). 0 or -EINVAL.
 */
int swm_cycle(struct swm_state *st, uint64_t now, const char *digits,
	      size_t len);

/*
 * Log lines, without the newline; their length, or -ENOSPC. A request:
 *   ioctl FD 0xCODE block=HEX data=HEX
 * where the block is a struct ifreq whose data pointer (after the 16-byte
 * name) is shown as '*'; data NULL logs "ioctl FD 0xCODE passed-on" alone,
 * for a request that is not the driver's.
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
