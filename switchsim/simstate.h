/*
 * The simulated switch's state, kept as plain text in a directory so that
 * a person can read and edit it:
 *
 *   $SWITCHSIM_DIR/state      ports, LED, header, registers
 *   $SWITCHSIM_DIR/log        every request received, one line each
 *   $SWITCHSIM_DIR/switch_phy what the last link cycle wrote to the driver file
 *
 * SWITCHSIM_DIR defaults to /tmp/switchsim-UID.
 */
#ifndef SWITCHSIM_SIMSTATE_H
#define SWITCHSIM_SIMSTATE_H

#include <stddef.h>
#include <stdint.h>

enum { SIM_PORTS = 5, SIM_REGS = 16 };

struct sim_port {
	uint32_t link;       /* non-zero: up */
	uint32_t speed;
	uint32_t duplex;     /* non-zero: full */
	int64_t down_until;  /* ms since the epoch; the link reads down before it */
};

struct sim_reg {
	uint32_t addr, value;
};

struct sim_state {
	struct sim_port port[SIM_PORTS]; /* lan0..lan3, wan */
	uint32_t led;                    /* 0 off, 1 green, 2 amber */
	uint32_t header;                 /* 0 off, 1 on */
	int nregs;
	struct sim_reg reg[SIM_REGS];
};

extern const char *const sim_port_name[SIM_PORTS];

/* The state directory, created if missing; NULL (after a message) if it can't be. */
const char *sim_dir(void);
/* dir/name into buf; false if it does not fit. */
bool sim_path(char *buf, size_t size, const char *name);

void sim_default(struct sim_state *st);
/* The default state when there is no state file yet; false after a
 * message on a file that can't be read or parsed. */
bool sim_load(struct sim_state *st);
/* Written to a new file and renamed over the old one, never in place. */
bool sim_save(const struct sim_state *st);
/* One line, newline added, appended in a single write. */
void sim_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* True when the state directory is the switch driver module's, in debugfs:
 * its files are the module's knobs, and a write applies state lines. */
bool sim_in_kernel(void);
/* Applies state lines to the module's state in one write. */
bool sim_kernel_apply(const char *lines);

/* Render the state file text into buf; returns its length. */
size_t sim_format(const struct sim_state *st, char *buf, size_t size);
/* Parse state file text; on error, the line number and a reason. */
bool sim_parse(struct sim_state *st, char *text, int *bad_line, const char **why);

bool sim_set_reg(struct sim_state *st, uint32_t addr, uint32_t value);
int64_t sim_now_ms(void);
/* What the driver reports for port i now: down while a link cycle holds it. */
struct sim_port sim_port_now(const struct sim_state *st, int i);

/* Word or number: "up"/"down", "full"/"half", "off"/"green"/"amber", "on"/"off". */
const char *sim_word(uint32_t v, const char *const *words, uint32_t nwords, char num[12]);
bool sim_parse_u32(const char *s, uint32_t *out);
bool sim_parse_word(const char *s, const char *const *words, int nwords, uint32_t *out);

extern const char *const sim_link_words[2];
extern const char *const sim_duplex_words[2];
extern const char *const sim_led_words[3];
extern const char *const sim_header_words[2];

/* errno by name ("EIO") or number; -1 if neither. */
int sim_errno(const char *s);

#endif
