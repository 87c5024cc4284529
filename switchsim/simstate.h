/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The simulated switch's state, kept as plain text in a directory so that
 * a person can read and edit it:
 *
 *   DIR/state      ports, LED, header, registers
 *   DIR/log        every request received, one line each; at SIM_LOG_MAX
 *                  bytes it becomes DIR/log.old, replacing the one before
 *   DIR/switch_phy what the last link cycle wrote to the driver file
 *   DIR/lock       held by every read-modify-write of the state
 *
 * DIR is $SWITCHSIM_DIR, else $XDG_RUNTIME_DIR/switchsim, else
 * ~/.cache/switchsim. The sim runs as root, so the directory must be the
 * user's own and writable by nobody else, every step above it is checked
 * before anything is created, it holds nothing but the files above, and
 * no file in it is opened through a symbolic link.
 */
#ifndef SWITCHSIM_SIMSTATE_H
#define SWITCHSIM_SIMSTATE_H

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include "model/swmodel.h"

enum { SIM_PATH = 1024, SIM_LOG_MAX = 1 << 20 };

/* "switchsim: WHAT: WHY" on stderr; false. sim_fail names a file in the
 * state directory. */
bool sim_say(const char *what, const char *why);
bool sim_fail(const char *name, const char *why);

/* The state directory as an absolute path without symbolic links, created
 * if missing; NULL after a message if it can't be, or isn't safe to use. */
const char *sim_dir(void);
/* What a name in the state directory is: one of the sim's own files, a
 * run's temporary state or driver file (mkstemp's names), or none of ours. */
enum sim_kind { SIM_FOREIGN, SIM_OWN, SIM_STATE_TEMP, SIM_PHY_TEMP };
sim_kind sim_kind_of(const char *name);
/* Each entry of directory dir (the state directory, or on the way to it)
 * to each(dirfd, name, kind, lstat), until it returns false; an entry gone
 * since is left out. False after a message if dir can't be read, else
 * what each last returned. The one place that decides what is ours. */
template <typename F> bool sim_scan(const char *dir, F each)
{
	DIR *d = opendir(dir);
	if (!d)
		return sim_say(dir, strerror(errno));
	bool ok = true;
	while (const struct dirent *e = ok ? readdir(d) : NULL) {
		struct stat sb;
		if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0 &&
		    fstatat(dirfd(d), e->d_name, &sb, AT_SYMLINK_NOFOLLOW) == 0)
			ok = each(dirfd(d), e->d_name, sim_kind_of(e->d_name), sb);
	}
	closedir(d);
	return ok;
}
/* Whether the check of the state directory found what a run left: the
 * temporary files of one that died, or of one still at work. */
bool sim_leftovers(void);
/* dir/name into buf; false if it does not fit. */
bool sim_path(char *buf, size_t size, const char *name);
/* dir/name opened (with O_CLOEXEC), never through a symbolic link and only
 * if it is a regular file; -1 after a message. A missing file opened
 * without O_CREAT gives -1 with errno ENOENT and no message. */
int sim_open(const char *name, int flags);
/* Closes a descriptor of the sim's own, unseen by the preloaded close(). */
void sim_close(int fd);
/* Appends what fd holds to *buf (malloc'd, *len bytes so far) until its
 * end, or once more than max bytes are there; 0 or an errno. */
int sim_read(int fd, char **buf, size_t *len, size_t max);

/* The state, the default when there is no state file yet; false after a
 * message on a file that can't be read or parsed. */
bool sim_load(struct swm_state *st);
/* Written to a new file and renamed over the old one, never in place. */
bool sim_save(const struct swm_state *st);
/* Takes the lock that every change of the state holds, against other runs
 * and other threads; its descriptor, for sim_unlock(), or -1 after a
 * message. Nothing may fork while holding it. */
int sim_lock(void);
void sim_unlock(int fd);
/* Load, change and save, all under the lock. change(st) may refuse, after
 * its own message, and then nothing is saved. False after a message. */
template <typename F> bool sim_update(F change)
{
	int fd = sim_lock();
	if (fd < 0)
		return false;
	struct swm_state st;
	bool ok = sim_load(&st) && change(&st) && sim_save(&st);
	sim_unlock(fd);
	return ok;
}
/* One line, newline added, appended in a single write. The log is the
 * record the tests read: a line that can't be written ends the process
 * with status 2. */
void sim_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* The log, held still for reading: no line is added and it is not moved
 * aside until sim_log_close(). -1 after a message. */
int sim_log_open(void);
void sim_log_close(int fd);

/* True when the state directory is the switch driver module's, in debugfs:
 * its files are the module's knobs, and a write applies state lines. */
bool sim_in_kernel(void);
/* Applies state lines to the module's state in one write. */
bool sim_kernel_apply(const char *lines);

/* Now on the boot clock, which neither jumps with the wall clock nor
 * outlives a reboot, and the id of the boot it counts from. */
struct swm_clock sim_clock(void);

/* Faults to inject, from the environment; unset or empty means none. */
struct sim_faults {
	const char *socket;     /* SWITCHSIM_FAIL_SOCKET=ERR, as given */
	int socket_errno;
	uint32_t ioctl_code;    /* SWITCHSIM_FAIL_IOCTL=CODE:ERR */
	int ioctl_errno;
	int system_errno;       /* SWITCHSIM_FAIL_SYSTEM=ERR */
	int system_signal;      /* SWITCHSIM_FAIL_SYSTEM=signal:N */
	bool proc;              /* SWITCHSIM_FAIL_PROC=1 (0: none) */
	bool ethreg_missing;    /* SWITCHSIM_FAIL_ETHREG=missing */
	int ethreg_exit;        /* SWITCHSIM_FAIL_ETHREG=N, 1 to 255 */
};
/* False after a one-line message on the first malformed value. */
bool sim_faults(struct sim_faults *f);

#endif
