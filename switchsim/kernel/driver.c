// SPDX-License-Identifier: GPL-2.0-only
/* The router's switch driver behind "phy0", simulated for tests: see switchsim(1). */
#include <linux/debugfs.h>
#include <linux/etherdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/timekeeping.h>
#include <linux/uaccess.h>

#include "../model/swmodel.h"

#define SW_LOG_SIZE	(64 * 1024)

static struct switchsim {
	struct mutex lock;	/* all of it */
	struct swm_state st;
	char log[SW_LOG_SIZE];
	size_t log_len;
	u32 fail_code, fail_errno;
	bool fail_proc;
	struct net_device *dev;
	struct dentry *ddir;
	struct proc_dir_entry *proc;
} sw;

/* Not the wall clock: that jumps at the first NTP sync. */
static u64 sw_now(void)
{
	return ktime_to_ms(ktime_get_boottime());
}

/* Appends one line, n > 0 bytes without its newline; the caller holds the lock. */
static void sw_log_locked(const char *line, int n)
{
	if (n <= 0)
		return;
	if (sw.log_len + n + 1 > SW_LOG_SIZE) {
		/* Keep the newer half, from the start of a line. */
		char *keep = memchr(sw.log + sw.log_len / 2, '\n', sw.log_len - sw.log_len / 2);
		size_t drop = keep ? keep + 1 - sw.log : sw.log_len;

		memmove(sw.log, sw.log + drop, sw.log_len - drop);
		sw.log_len -= drop;
	}
	memcpy(sw.log + sw.log_len, line, n);
	sw.log[sw.log_len + n] = '\n';
	sw.log_len += n + 1;
}

static int sw_siocdevprivate(struct net_device *dev, struct ifreq *ifr, void __user *data, int cmd)
{
	u32 buf[SWM_STATUS_WORDS];
	size_t size = swm_request_size(cmd);
	char line[SWM_LINE_MAX];
	u32 fail;
	int err;

	if (!size)
		return -EOPNOTSUPP;
	if (copy_from_user(buf, data, size))
		return -EFAULT;

	mutex_lock(&sw.lock);
	sw_log_locked(line, swm_log_ioctl(line, sizeof(line), SWM_NO_FD, cmd,
					  ifr, sizeof(*ifr), buf, size));
	fail = READ_ONCE(sw.fail_errno);
	if (fail && fail < MAX_ERRNO && READ_ONCE(sw.fail_code) == cmd)
		err = -(int)fail;
	else
		err = swm_request(&sw.st, cmd, sw_now(), buf);
	mutex_unlock(&sw.lock);

	if (!err && cmd == SWM_REQ_STATUS && copy_to_user(data, buf, size))
		err = -EFAULT;
	return err;
}

/* The status record is behind ifr_data, as the private requests' data. */
static int sw_eth_ioctl(struct net_device *dev, struct ifreq *ifr, int cmd)
{
	return sw_siocdevprivate(dev, ifr, ifr->ifr_data, cmd);
}

static netdev_tx_t sw_start_xmit(struct sk_buff *skb, struct net_device *dev)
{
	dev_kfree_skb(skb);
	return NETDEV_TX_OK;
}

static const struct net_device_ops sw_netdev_ops = {
	.ndo_start_xmit		= sw_start_xmit,
	.ndo_eth_ioctl		= sw_eth_ioctl,
	.ndo_siocdevprivate	= sw_siocdevprivate,
};

static ssize_t sw_proc_write(struct file *file, const char __user *ubuf, size_t count, loff_t *ppos)
{
	char buf[64], line[SWM_LINE_MAX];
	size_t shown = min(count, sizeof(buf));
	int err = -EIO;

	if (copy_from_user(buf, ubuf, shown))
		return -EFAULT;

	mutex_lock(&sw.lock);
	sw_log_locked(line, swm_log_switch_phy(line, sizeof(line), buf, shown));
	if (!READ_ONCE(sw.fail_proc))
		err = swm_cycle(&sw.st, sw_now(), buf, count);
	mutex_unlock(&sw.lock);
	return err ? err : count;
}

static const struct proc_ops sw_proc_ops = {
	.proc_write	= sw_proc_write,
	.proc_lseek	= noop_llseek,
};

/* The debugfs state and log files share their file operations; each file's
 * private data is the part of sw it shows. */
static int sw_show(struct seq_file *m, void *unused)
{
	char *buf;
	size_t size;

	mutex_lock(&sw.lock);
	if (m->private == sw.log) {
		seq_write(m, sw.log, sw.log_len);
	} else {
		size = seq_get_buf(m, &buf);
		/* Too small a buffer overflows it, and seq_read tries a bigger one. */
		seq_commit(m, swm_print(&sw.st, sw_now(), buf, size));
	}
	mutex_unlock(&sw.lock);
	return 0;
}

/* As truncating a file empties it, `>state` puts back the default state. */
static int sw_open(struct inode *inode, struct file *file)
{
	if ((file->f_mode & FMODE_WRITE) && (file->f_flags & O_TRUNC)) {
		mutex_lock(&sw.lock);
		if (inode->i_private == sw.log)
			sw.log_len = 0;
		else
			swm_default(&sw.st);
		mutex_unlock(&sw.lock);
	}
	return single_open(file, sw_show, inode->i_private);
}

/*
 * Each write is whole: to the state, lines applied together or refused; to
 * the log, one line, which the register tool stand-in logs itself with.
 */
static ssize_t sw_write(struct file *file, const char __user *ubuf, size_t count, loff_t *ppos)
{
	/* One byte more than the model takes, so that it can refuse a longer text. */
	size_t len = min_t(size_t, count, SWM_TEXT_MAX + 1);
	bool log = file_inode(file)->i_private == sw.log;
	struct swm_state st;
	unsigned int line;
	char *text;
	int err = 0;

	if (!count)
		return 0;
	text = memdup_user(ubuf, len);
	if (IS_ERR(text))
		return PTR_ERR(text);
	mutex_lock(&sw.lock);
	if (log) {
		len -= text[len - 1] == '\n';
		if (!len || len >= SWM_LINE_MAX || memchr(text, '\n', len) || memchr(text, '\0', len))
			err = -EINVAL;
		else
			sw_log_locked(text, len);
	} else {
		st = sw.st;
		err = swm_apply(&st, text, len, &line);
		if (!err)
			sw.st = st;
	}
	mutex_unlock(&sw.lock);
	kfree(text);
	return err ? err : count;
}

static const struct file_operations sw_fops = {
	.owner		= THIS_MODULE,
	.open		= sw_open,
	.read		= seq_read,
	.write		= sw_write,
	/* stdio seeks to the end of a file opened to append to it. */
	.llseek		= noop_llseek,
	.release	= single_release,
};

static int __init sw_init(void)
{
	int err;

	mutex_init(&sw.lock);
	swm_default(&sw.st);
	sw.dev = alloc_netdev(0, "phy0", NET_NAME_USER, ether_setup);
	if (!sw.dev)
		return -ENOMEM;
	sw.dev->netdev_ops = &sw_netdev_ops;
	eth_hw_addr_random(sw.dev);
	sw.proc = proc_create("switch_phy", 0200, NULL, &sw_proc_ops);
	err = sw.proc ? register_netdev(sw.dev) : -ENOMEM;
	if (err) {
		proc_remove(sw.proc);
		free_netdev(sw.dev);
		return err;
	}
	sw.ddir = debugfs_create_dir("switchsim", NULL);
	debugfs_create_file("state", 0600, sw.ddir, &sw.st, &sw_fops);
	debugfs_create_file("log", 0600, sw.ddir, sw.log, &sw_fops);
	debugfs_create_x32("fail_ioctl_code", 0600, sw.ddir, &sw.fail_code);
	debugfs_create_u32("fail_ioctl_errno", 0600, sw.ddir, &sw.fail_errno);
	debugfs_create_bool("fail_proc", 0600, sw.ddir, &sw.fail_proc);
	return 0;
}

static void __exit sw_exit(void)
{
	proc_remove(sw.proc);
	unregister_netdev(sw.dev);
	free_netdev(sw.dev);
	debugfs_remove_recursive(sw.ddir);
}

module_init(sw_init);
module_exit(sw_exit);

MODULE_DESCRIPTION("Simulated router switch driver behind phy0, for tests");
MODULE_LICENSE("GPL");
