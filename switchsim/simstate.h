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
/* The state directory, checked, open; -1 after a message if it isn't safe,
 * SIM_STARVED if the program had too few descriptors to spare for it. */
int sim_dir(void);
#define SIM_STARVED (-2)
extern char sim_dir_path[1024];
/* A file in the directory, never opened through a link, in the descriptor
 * held for it: not to be closed, and good until the next; -1 with errno. */
int sim_open(const char *name, int flags);
/* name's whole text in one write; false after a message. */
bool sim_put(const char *name, int flags, const char *text, size_t len);

/* The default state if there is no state file; false after a message. */
bool sim_load(struct swm_state *st);
/* The lock every change of the state holds: a flock of the directory, so
 * that runs wait, and a mutex, so that threads do. */
void sim_lock(void);
void sim_unlock(void);
bool sim_save(struct swm_state *st);	/* stamped with this boot */
/* Load, change and save under the lock; change(st) may refuse after its
 * own message, and nothing is saved. False after a message. */
template <typename F> bool sim_update(F change)
{
	struct swm_state st;
	sim_lock();
	bool ok = sim_load(&st) && change(&st) && sim_save(&st);
	sim_unlock();
	return ok;
}
/* One state line, applied; in the module's directory, written to its state. */
bool sim_apply(const char *line);
/* One log line, newline added, appended in one write; cut at SWM_LINE_MAX.
 * A line that can't be written ends the process with status 2. */
void sim_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* Now on the boot clock, in ms. */
uint64_t sim_now(void);

/* Whether the kernel gives the port report on socket fd: CAP_NET_ADMIN over
 * its network namespace. */
bool sim_net_admin(int fd);

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
