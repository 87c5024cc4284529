// SPDX-License-Identifier: GPL-2.0-only
/* The router's switch driver behind "phy0", simulated for tests; the README has its files. */
#include <linux/debugfs.h>
#include <linux/etherdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/timekeeping.h>
#include <linux/uaccess.h>
#include <linux/uuid.h>

#include "../model/swmodel.h"

#define SW_LOG_SIZE	(64 * 1024)
#define SW_PROC_SHOWN	64
#define SW_PENDING_MAX	(4 * SWM_STATE_MAX)

static struct switchsim {
	struct mutex lock;	/* all of it, writers too; held over their page faults */
	struct swm_state st;
	size_t pending;		/* what the state's writers have buffered */
	char log[SW_LOG_SIZE];
	size_t log_len;
	u32 fail_code, fail_errno;
	bool fail_proc;
	struct net_device *dev;
	struct dentry *ddir;
	struct proc_dir_entry *proc;
	char boot[SWM_BOOT_LEN + 1];
} sw;

static struct swm_clock sw_clock(void)
{
	/* Not the wall clock: that jumps at the first NTP sync. */
	return (struct swm_clock){ ktime_to_ms(ktime_get_boottime()), sw.boot };
}

/* Appends one line, n > 0 bytes without its newline; the caller holds the lock. */
static void sw_log_locked(const char *line, int n)
{
	if (n <= 0)
		return;
	if (sw.log_len + n + 1 > SW_LOG_SIZE) {
		/* Keep the newer half, from the start of a line. */
		char *keep = memchr(sw.log + sw.log_len / 2, '\n',
				    sw.log_len - sw.log_len / 2);
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
		err = swm_request(&sw.st, cmd, sw_clock().now, buf);
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
	char buf[SW_PROC_SHOWN], line[SWM_LINE_MAX];
	size_t shown = min(count, sizeof(buf));
	int err = -EIO;

	if (copy_from_user(buf, ubuf, shown))
		return -EFAULT;

	mutex_lock(&sw.lock);
	sw_log_locked(line, swm_log_switch_phy(line, sizeof(line), buf, shown));
	if (!READ_ONCE(sw.fail_proc))
		err = swm_cycle(&sw.st, sw_clock().now, buf, shown);
	mutex_unlock(&sw.lock);
	return err ? err : count;
}

static const struct proc_ops sw_proc_ops = {
	.proc_write	= sw_proc_write,
	.proc_lseek	= noop_llseek,
};

static int sw_state_show(struct seq_file *m, void *unused)
{
	struct swm_clock clk = sw_clock();
	char *buf;
	size_t size = seq_get_buf(m, &buf);

	mutex_lock(&sw.lock);
	/* Too small a buffer overflows it, and seq_read tries a bigger one. */
	seq_commit(m, swm_print(&sw.st, &clk, buf, size));
	mutex_unlock(&sw.lock);
	return 0;
}

/* What one open of the state writes: checked as it comes, applied at the last close. */
struct sw_writer {
	char *text;		/* everything written, not NUL-terminated */
	size_t len, cap;	/* cap counts in sw.pending */
	size_t checked;		/* text[0..checked) is whole lines, all good */
	int err;		/* a write failed: the state stays as it was */
	bool replace;		/* opened with O_TRUNC */
	struct swm_state st;	/* the checked lines applied */
};

/* Applies text[checked..end) to st; the lines before only number the rest. */
static int sw_writer_apply(struct sw_writer *w, size_t end)
{
	struct swm_clock clk = sw_clock();
	struct swm_error why;
	char *from = w->text + w->checked, *p;
	int err = swm_apply(&w->st, from, end - w->checked, &clk, &why);

	if (err) {
		for (p = w->text; (p = memchr(p, '\n', from - p)); p++)
			why.line++;
		pr_notice_ratelimited("switchsim: state:%u: %s\n", why.line, why.why);
	}
	w->checked = end;
	return err;
}

static int sw_state_open(struct inode *inode, struct file *file)
{
	struct sw_writer *w = NULL;
	int err;

	if (file->f_mode & FMODE_WRITE) {
		w = kzalloc(sizeof(*w), GFP_KERNEL_ACCOUNT);
		if (!w)
			return -ENOMEM;
		w->replace = file->f_flags & O_TRUNC;
		mutex_lock(&sw.lock);
		w->st = sw.st;
		mutex_unlock(&sw.lock);
		if (w->replace)
			swm_default(&w->st);
	}
	err = single_open(file, sw_state_show, w);
	if (err)
		kfree(w);
	return err;
}

/* Each open may buffer 1 MiB, and any number may be open; the caller holds the lock. */
static int sw_writer_add(struct sw_writer *w, const char __user *ubuf, size_t count)
{
	size_t old = w->len, end;

	if (count > SWM_STATE_MAX - w->len)
		return -EFBIG;
	if (w->len + count > w->cap) {
		size_t cap = min_t(size_t, SWM_STATE_MAX,
				   max3(w->cap * 2, w->len + count, (size_t)PAGE_SIZE));
		char *text;

		if (cap - w->cap > SW_PENDING_MAX - sw.pending)
			return -ENOSPC;
		text = kvrealloc(w->text, w->cap, cap, GFP_KERNEL_ACCOUNT);
		if (!text)
			return -ENOMEM;
		sw.pending += cap - w->cap;
		w->text = text;
		w->cap = cap;
	}
	if (copy_from_user(w->text + old, ubuf, count))
		return -EFAULT;
	if (memchr(w->text + old, '\0', count))
		return -EINVAL;
	w->len += count;
	/* A line split across writes is checked once its end has come. */
	for (end = w->len; end > old && w->text[end - 1] != '\n';)
		end--;
	return end > old ? sw_writer_apply(w, end) : 0;
}

static ssize_t sw_state_write(struct file *file, const char __user *buf, size_t count, loff_t *ppos)
{
	struct sw_writer *w = ((struct seq_file *)file->private_data)->private;
	ssize_t ret;

	mutex_lock(&sw.lock);
	if (!w->err)
		w->err = sw_writer_add(w, buf, count);
	ret = w->err ? w->err : count;
	mutex_unlock(&sw.lock);
	return ret;
}

/*
 * The last close applies all the text again, on the default or, for an
 * append, on the state as it is now, and close() tells if that failed. A
 * dup's close, or an exec closing an inherited fd, leaves it pending.
 */
static int sw_state_flush(struct file *file, fl_owner_t id)
{
	struct seq_file *m = file->private_data;
	struct sw_writer *w = m->private;
	int err;

	if (!w || file_count(file) > 1)
		return 0;
	mutex_lock(&sw.lock);
	if (!w->err) {
		w->st = sw.st;
		if (w->replace)
			swm_default(&w->st);
		w->checked = 0;
		w->err = sw_writer_apply(w, w->len);
		if (!w->err)
			sw.st = w->st;
	}
	sw.pending -= w->cap;
	mutex_unlock(&sw.lock);
	err = w->err;
	m->private = NULL;
	kvfree(w->text);
	kfree(w);
	return err;
}

static int sw_state_release(struct inode *inode, struct file *file)
{
	/* Still pending only if the last close raced another thread. */
	sw_state_flush(file, NULL);
	return single_release(inode, file);
}

static const struct file_operations sw_state_fops = {
	.owner		= THIS_MODULE,
	.open		= sw_state_open,
	.read		= seq_read,
	.write		= sw_state_write,
	.flush		= sw_state_flush,
	.llseek		= seq_lseek,
	.release	= sw_state_release,
};

static int sw_log_show(struct seq_file *m, void *unused)
{
	mutex_lock(&sw.lock);
	seq_write(m, sw.log, sw.log_len);
	mutex_unlock(&sw.lock);
	return 0;
}

static int sw_log_open(struct inode *inode, struct file *file)
{
	if ((file->f_mode & FMODE_WRITE) && (file->f_flags & O_TRUNC)) {
		mutex_lock(&sw.lock);
		sw.log_len = 0;
		mutex_unlock(&sw.lock);
	}
	return single_open(file, sw_log_show, NULL);
}

/* One line from user space: the register tool stand-in logs itself here. */
static ssize_t sw_log_write(struct file *file, const char __user *ubuf, size_t count, loff_t *ppos)
{
	char line[SWM_LINE_MAX];
	size_t n;

	if (!count)
		return 0;
	if (count > sizeof(line) - 1)
		return -EINVAL;
	if (copy_from_user(line, ubuf, count))
		return -EFAULT;
	n = count - (line[count - 1] == '\n');
	if (!n || memchr(line, '\n', n) || memchr(line, '\0', n))
		return -EINVAL;

	mutex_lock(&sw.lock);
	sw_log_locked(line, n);
	mutex_unlock(&sw.lock);
	return count;
}

static const struct file_operations sw_log_fops = {
	.owner		= THIS_MODULE,
	.open		= sw_log_open,
	.read		= seq_read,
	.write		= sw_log_write,
	/* stdio seeks to the end of a file opened to append to it. */
	.llseek		= noop_llseek,
	.release	= single_release,
};

static int __init sw_init(void)
{
	uuid_t boot;
	int err;

	mutex_init(&sw.lock);
	swm_default(&sw.st);
	/* This load's boot: no hold outlives the state that keeps it. */
	uuid_gen(&boot);
	snprintf(sw.boot, sizeof(sw.boot), "%pUb", &boot);

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
	/* The safe proxy drops flush, and close()'s error; each open holds the module. */
	debugfs_create_file_unsafe("state", 0600, sw.ddir, NULL, &sw_state_fops);
	debugfs_create_file("log", 0600, sw.ddir, NULL, &sw_log_fops);
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
