/* SPDX-License-Identifier: GPL-2.0-only OR BSD-2-Clause */
/*
 * The simulated switch, compiled into the kernel module and user space alike
 * so that the two agree byte for byte. It works on the caller's memory only:
 * the caller locks and passes the boot clock's time in. Errors are -errno.
 */
#ifndef SWMODEL_H
#define SWMODEL_H

#include "swmodel_env.h"	/* each side's own, found on its include path */

#ifdef __cplusplus
extern "C" {
#endif

#define SWM_PORTS	5		/* lan0..lan3, wan */
#define SWM_LANS	4
#define SWM_REGS	16
#define SWM_STATUS_WORDS 20		/* the port status record, in u32 */
#define SWM_CYCLE_LEN	5		/* secs, then mask bits 3..0 */
#define SWM_TEXT_MAX	4096		/* state text, read or written at once */
#define SWM_LINE_MAX	512		/* a log line and its NUL */
#define SWM_NO_FD	(-1)		/* logged as "S": the kernel sees no fd */
#define SWM_REQ_STATUS	0x8948		/* SIOCGMIIREG: the port status record */
#define SWM_REQ_HEADER	0x89fe		/* SIOCDEVPRIVATE + 14 */
#define SWM_REQ_LED	0x89ff		/* SIOCDEVPRIVATE + 15 */

struct swm_port {
	uint32_t link;		/* non-zero: up */
	uint32_t speed;
	uint32_t duplex;	/* non-zero: full */
	uint64_t until;		/* held down before this, in ms on the boot clock */
};

struct swm_state {
	struct swm_port port[SWM_PORTS];
	uint32_t led;		/* 0 off, 1 green, 2 amber */
	uint32_t header;	/* 0 off, 1 on */
	uint32_t nregs;
	uint32_t reg[SWM_REGS][2];	/* address, value */
	uint64_t boot;		/* which boot wrote it, as user space tells; 0 none */
};

extern const char *const swm_port_name[SWM_PORTS];

void swm_default(struct swm_state *st);
/*
 * The text's settings on top of st: 0, -EINVAL for a line that is no
 * setting, -ENOSPC past SWM_REGS registers, -EFBIG past SWM_TEXT_MAX bytes,
 * with *line the line at fault, from 1; st then holds some (apply to a copy).
 */
int swm_apply(struct swm_state *st, const char *text, size_t len, unsigned int *line);
/* The state text, NUL-terminated, or -ENOSPC; holds that ended left out. */
int swm_print(const struct swm_state *st, uint64_t now, char *buf, size_t size);

/* Decimal, or hex after 0x; no sign, no space. 0 or -EINVAL. */
int swm_u32(const char *s, size_t len, uint32_t *out);
enum swm_field { SWM_LINK, SWM_DUPLEX, SWM_LED, SWM_HEADER };
/* A setting's word ("up", "amber"), or a number. */
int swm_word_parse(enum swm_field f, const char *s, size_t len, uint32_t *out);

/* The bytes a request's data points at; 0 for a request not the driver's. */
size_t swm_request_size(unsigned long code);
/*
 * A request answered: the status fills the record's words 5..19 and leaves
 * the rest; the LED and the header take a u16 that has a word, else -EINVAL.
 */
int swm_request(struct swm_state *st, unsigned long code, uint64_t now, void *data);
/* Exactly five digits: the seconds, then mask bits 3..0 (bit i is LAN i). */
int swm_cycle(struct swm_state *st, uint64_t now, const char *digits, size_t len);

/*
 * Log lines, without the newline; their length, or -ENOSPC. A request is
 * "ioctl FD 0xCODE block=HEX data=HEX", the block a struct ifreq whose data
 * pointer (after the 16-byte name) shows as '*'; with data NULL, a request
 * the kernel answers, "ioctl FD 0xCODE passed-on".
 */
int swm_log_ioctl(char *buf, size_t size, int fd, unsigned long code,
		  const void *block, size_t block_len, const void *data, size_t data_len);
int swm_log_switch_phy(char *buf, size_t size, const void *bytes, size_t len);

#ifdef __cplusplus
}
#endif

#endif
