/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The user-space switch's state directory, shared by the preload and the
 * switchsim program: its check, its files (state, state.new, log), its lock
 * and the faults to inject. switchsim(1) says what each guarantees.
 */
#ifndef SWITCHSIM_SIMSTATE_H
#define SWITCHSIM_SIMSTATE_H

#include "model/swmodel.h"

#include <unistd.h>

/* "switchsim: WHAT: WHY" on stderr; false. */
bool sim_say(const char *what, const char *why);
/* The state directory, checked, open; -1 after a message if it isn't safe. */
int sim_dir(void);
const char *sim_dir_path(void);
/* Whether it is the driver module's, in debugfs. */
bool sim_in_kernel(void);
/* A file in the directory, never opened through a link; -1 with errno. */
int sim_open(const char *name, int flags);

/* The default state if there is no state file; false after a message. */
bool sim_load(struct swm_state *st);
/* The lock every change of the state holds (a flock of the directory, so
 * threads and runs alike wait): its descriptor, or -1 after a message. */
int sim_lock(void);
bool sim_save(struct swm_state *st);	/* stamped with this boot */
/* Load, change and save under the lock; change(st) may refuse after its
 * own message, and nothing is saved. False after a message. */
template <typename F> bool sim_update(F change)
{
	int lock = sim_lock();
	struct swm_state st;
	bool ok = lock >= 0 && sim_load(&st) && change(&st) && sim_save(&st);
	if (lock >= 0)
		close(lock);
	return ok;
}
/* One state line, applied; in the module's directory, written to its state. */
bool sim_apply(const char *line);
/* One log line, newline added, appended in one write; cut at SWM_LINE_MAX.
 * A line that can't be written ends the process with status 2. */
void sim_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* Now on the boot clock, in ms. */
uint64_t sim_now(void);

/* Faults to inject, from SWITCHSIM_FAIL_*; 0 for none. */
struct sim_faults {
	const char *socket;	/* SOCKET=ERR, as given */
	int socket_errno;
	uint32_t ioctl_code;	/* IOCTL=CODE:ERR */
	int ioctl_errno;
	int system_errno;	/* SYSTEM=ERR */
	int system_signal;	/* SYSTEM=signal:N */
	bool proc;		/* PROC=1 */
	bool ethreg_missing;	/* ETHREG=missing */
	int ethreg_exit;	/* ETHREG=N */
};
/* False after a one-line message on the first malformed value. */
bool sim_faults(struct sim_faults *f);

#endif
