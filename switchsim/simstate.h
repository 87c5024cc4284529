/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The simulated switch's state directory (see README.md): state, log and
 * log.old, switch_phy, lock. It runs as root, so the directory must be the
 * user's own, writable by nobody else, every step above it checked before
 * anything is created, and nothing in it opened through a symbolic link.
 */
#ifndef SWITCHSIM_SIMSTATE_H
#define SWITCHSIM_SIMSTATE_H

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "model/swmodel.h"

enum { SIM_PATH = 1024, SIM_LOG_MAX = 1 << 20 };

/* "switchsim: WHAT: WHY" on stderr; false. sim_fail's WHAT is a file in
 * the state directory. */
bool sim_say(const char *what, const char *why);
bool sim_fail(const char *name, const char *why);

/* Absolute, without links, created if missing; NULL after a message if it
 * can't be, or isn't safe to use. */
const char *sim_dir(void);
/* A name in the state directory: the sim's own file, a run's temporary
 * state or driver file (mkstemp's names), or none of ours. */
enum sim_kind { SIM_FOREIGN, SIM_OWN, SIM_STATE_TEMP, SIM_PHY_TEMP };
sim_kind sim_kind_of(const char *name);
/* each(dirfd, name, kind, lstat) for every entry of dir, until it returns
 * false; an entry gone since is left out. False after a message if dir
 * can't be read, else what each last returned. */
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
/* Whether the directory's check found the temporary files of a run. */
bool sim_leftovers(void);
/* dir/name into buf; false if it does not fit. */
bool sim_path(char *buf, size_t size, const char *name);
/* dir/name opened, O_CLOEXEC, only as a regular file and not through a
 * link; -1 after a message, or with errno ENOENT and none if it is missing
 * and flags have no O_CREAT. */
int sim_open(const char *name, int flags);
/* Closes our own descriptor unseen by the preloaded close(), which logs the
 * tool's sockets: a file of ours may reuse a number one had. */
void sim_close(int fd);
/* Appends fd's content to *buf (malloc'd, *len bytes so far) until its
 * end, or once more than max bytes are there; 0 or an errno. */
int sim_read(int fd, char **buf, size_t *len, size_t max);

/* The default when there is no state file; false after a message. */
bool sim_load(struct swm_state *st);
/* To a new file renamed over the old one, never in place. */
bool sim_save(const struct swm_state *st);
/* The lock every change of the state holds, against other runs and other
 * threads: its descriptor, or -1 after a message. Nothing may fork while
 * holding it. */
int sim_lock(void);
void sim_unlock(int fd);
/* Load, change and save under the lock; change(st) may refuse after its
 * own message, and nothing is saved. False after a message. */
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
/* One line, newline added, appended whole. The log is the record tests
 * read: a line that can't be written ends the process with status 2. */
void sim_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* The log held still (no line added, not moved aside) until
 * sim_log_close(); -1 after a message. */
int sim_log_open(void);
void sim_log_close(int fd);

/* One state line, without its newline, applied under the lock; in the
 * driver module's directory in debugfs, appended to its state file, which
 * applies it at the close. False after a message. */
bool sim_apply(const char *line);

/* Now on the boot clock, and the id of that boot. */
struct swm_clock sim_clock(void);

/* Faults to inject, from SWITCHSIM_FAIL_*; unset or empty means none. */
struct sim_faults {
	const char *socket;     /* SOCKET=ERR, as given */
	int socket_errno;
	uint32_t ioctl_code;    /* IOCTL=CODE:ERR */
	int ioctl_errno;
	int system_errno;       /* SYSTEM=ERR */
	int system_signal;      /* SYSTEM=signal:N */
	bool proc;              /* PROC=1 (0: none) */
	bool ethreg_missing;    /* ETHREG=missing */
	int ethreg_exit;        /* ETHREG=N, 1 to 255 */
};
/* False after a one-line message on the first malformed value. */
bool sim_faults(struct sim_faults *f);

#endif
