// SPDX-License-Identifier: GPL-2.0
/*
 * switchsim: the router's switch driver, simulated in the kernel for tests.
 *
 * It registers the net_device "phy0" and answers the three requests the
 * router's tools send it, keeping the same state and request log, in the
 * same text, as the preloaded simulated switch does in user space:
 *
 *   0x8948 (SIOCGMIIREG)         port status: the 80-byte record at ifr_data
 *   0x89ff (SIOCDEVPRIVATE + 15) WAN LED: two bytes at ifr_data, 0..2
 *   0x89fe (SIOCDEVPRIVATE + 14) Atheros header: two bytes at ifr_data, 0..1
 *   /proc/switch_phy             a link cycle: exactly five digits
 *
 * The knobs live in debugfs, in switchsim/:
 *
 *   state            the state text. What one open writes takes effect
 *                    whole when the file is closed, or not at all if any
 *                    line of it is not a setting: opened with O_TRUNC it
 *                    replaces the state (nothing written: the default),
 *                    otherwise its lines apply on top. So "cat f >state"
 *                    and "echo ... >>state" work as with a file, however
 *                    the writer splits its writes. A port held down by a
 *                    link cycle shows when the hold ends, in ms on the boot
 *                    clock, and the id this load of the module gives its
 *                    boot: a hold of another load is dropped when read.
 *                    The register tool stand-in appends "reg ADDR VALUE".
 *   log              every request received, one line each. Each write
 *                    appends one line (the register tool logs itself so);
 *                    opening it with O_TRUNC empties it. When full, the
 *                    older half is dropped.
 *   fail_ioctl_code  a request code that is to fail ...
 *   fail_ioctl_errno ... with this errno (0: none)
 *   fail_proc        Y: writes to /proc/switch_phy fail with EIO
 */
#include <linux/debugfs.h>
#include <linux/etherdevice.h>
#include <linux/kernel.h>
#include <linux/ktime.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/netdevice.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/sockios.h>
#include <linux/string.h>
#include <linux/timekeeping.h>
#include <linux/uaccess.h>
#include <linux/uuid.h>

#define SW_REQ_STATUS	SIOCGMIIREG
#define SW_REQ_HEADER	(SIOCDEVPRIVATE + 14)
#define SW_REQ_LED	(SIOCDEVPRIVATE + 15)
#define SW_STATUS_WORDS	20
#define SW_PORTS	5
#define SW_REGS		16
#define SW_LOG_SIZE	(64 * 1024)
#define SW_LINE_MAX	512
#define SW_STATE_MAX	(1024 * 1024)	/* bytes one open may write */
#define SW_PROC_SHOWN	64

struct sw_port {
	u32 link;		/* non-zero: up */
	u32 speed;
	u32 duplex;		/* non-zero: full */
	s64 down_until;		/* ms on the boot clock; reads down before it */
};

struct sw_state {
	struct sw_port port[SW_PORTS];	/* lan0..lan3, wan */
	u32 led;			/* 0 off, 1 green, 2 amber */
	u32 header;			/* 0 off, 1 on */
	int nregs;
	struct { u32 addr, value; } reg[SW_REGS];
};

static const char *const sw_port_name[SW_PORTS] = {
	"lan0", "lan1", "lan2", "lan3", "wan"
};
static const char *const sw_link_words[] = { "down", "up" };
static const char *const sw_duplex_words[] = { "half", "full" };
static const char *const sw_led_words[] = { "off", "green", "amber" };
static const char *const sw_header_words[] = { "off", "on" };

static struct switchsim {
	struct mutex lock;	/* state and log */
	struct sw_state st;
	char *log;
	size_t log_len;
	u32 fail_code;
	u32 fail_errno;
	bool fail_proc;
	struct net_device *dev;
	struct dentry *ddir;
	struct proc_dir_entry *proc;
	char boot[UUID_STRING_LEN + 1];
} sw;

static const char sw_hold_reason[] =
	"a hold is its end in ms on the boot clock and its boot id";

static void sw_default(struct sw_state *st)
{
	static const struct sw_port ports[SW_PORTS] = {
		{ 1, 1000, 1, 0 }, { 1, 100, 1, 0 }, { 0, 0, 0, 0 },
		{ 0, 0, 0, 0 }, { 1, 1000, 1, 0 },
	};

	memset(st, 0, sizeof(*st));
	memcpy(st->port, ports, sizeof(ports));
	st->led = 1;
}

static s64 sw_now_ms(void)
{
	/* Not the wall clock: that jumps at the first NTP sync. */
	return ktime_to_ms(ktime_get_boottime());
}

/* Appends one line to the log; the caller holds the lock. */
static __printf(1, 2) void sw_log_locked(const char *fmt, ...)
{
	char line[SW_LINE_MAX];
	va_list ap;
	size_t n;

	va_start(ap, fmt);
	n = vscnprintf(line, sizeof(line) - 1, fmt, ap);
	va_end(ap);
	line[n++] = '\n';

	if (sw.log_len + n > SW_LOG_SIZE) {
		/* Keep the newer half, from the start of a line. */
		char *keep = memchr(sw.log + sw.log_len / 2, '\n',
				    sw.log_len - sw.log_len / 2);
		size_t drop = keep ? keep + 1 - sw.log : sw.log_len;

		memmove(sw.log, sw.log + drop, sw.log_len - drop);
		sw.log_len -= drop;
	}
	memcpy(sw.log + sw.log_len, line, n);
	sw.log_len += n;
}

/* The request block and the caller's data, as the preloaded switch logs them. */
static void sw_log_request(unsigned int cmd, const struct ifreq *ifr,
			   const void *data, size_t size)
{
	char block[2 * sizeof(*ifr) + 1];
	char hex[2 * SW_STATUS_WORDS * 4 + 1];

	*bin2hex(block, ifr, sizeof(*ifr)) = '\0';
	/* The pointer's bytes are the only ones that differ from run to run. */
	memset(block + 2 * offsetof(struct ifreq, ifr_data), '*',
	       2 * sizeof(void *));
	*bin2hex(hex, data, size) = '\0';
	sw_log_locked("ioctl S 0x%04x block=%s data=%s", cmd, block, hex);
}

static int sw_injected_error(unsigned int cmd)
{
	u32 err = READ_ONCE(sw.fail_errno);

	if (err && err < MAX_ERRNO && READ_ONCE(sw.fail_code) == cmd)
		return -(int)err;
	return 0;
}

static struct sw_port sw_port_now(const struct sw_state *st, int i)
{
	struct sw_port p = st->port[i];

	if (p.down_until > sw_now_ms()) {
		p.link = 0;
		p.speed = 0;
		p.duplex = 0;
	}
	return p;
}

static int sw_eth_ioctl(struct net_device *dev, struct ifreq *ifr, int cmd)
{
	u32 rec[SW_STATUS_WORDS];
	int err, i;

	if (cmd != SW_REQ_STATUS)
		return -EOPNOTSUPP;
	if (copy_from_user(rec, ifr->ifr_data, sizeof(rec)))
		return -EFAULT;

	mutex_lock(&sw.lock);
	sw_log_request(cmd, ifr, rec, sizeof(rec));
	err = sw_injected_error(cmd);
	if (!err) {
		for (i = 0; i < SW_PORTS; i++) {
			struct sw_port p = sw_port_now(&sw.st, i);

			rec[5 + i] = p.link;
			rec[10 + i] = p.speed;
			rec[15 + i] = p.duplex;
		}
	}
	mutex_unlock(&sw.lock);

	if (!err && copy_to_user(ifr->ifr_data, rec, sizeof(rec)))
		err = -EFAULT;
	return err;
}

static int sw_siocdevprivate(struct net_device *dev, struct ifreq *ifr,
			     void __user *data, int cmd)
{
	/* Exactly two bytes: the router's tools send a u16, never an int. */
	u16 v;
	int err;

	if (cmd != SW_REQ_LED && cmd != SW_REQ_HEADER)
		return -EOPNOTSUPP;
	if (copy_from_user(&v, data, sizeof(v)))
		return -EFAULT;

	mutex_lock(&sw.lock);
	sw_log_request(cmd, ifr, &v, sizeof(v));
	err = sw_injected_error(cmd);
	if (!err && cmd == SW_REQ_LED && v <= 2)
		sw.st.led = v;
	else if (!err && cmd == SW_REQ_HEADER && v <= 1)
		sw.st.header = v;
	else if (!err)
		err = -EINVAL;
	mutex_unlock(&sw.lock);
	return err;
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

/*
 * /proc/switch_phy: seconds, then the mask's bits 3..0. Mask bit i holds
 * LAN i down until the seconds have passed.
 */
static ssize_t sw_proc_write(struct file *file, const char __user *ubuf,
			     size_t count, loff_t *ppos)
{
	char buf[SW_PROC_SHOWN];
	char hex[2 * SW_PROC_SHOWN + 1];
	size_t shown = min(count, sizeof(buf));
	bool fail = READ_ONCE(sw.fail_proc);
	bool ok = count == 5;
	s64 until;
	int i;

	if (copy_from_user(buf, ubuf, shown))
		return -EFAULT;
	for (i = 0; ok && i < 5; i++)
		ok = buf[i] >= '0' && buf[i] <= (i ? '1' : '9');

	mutex_lock(&sw.lock);
	*bin2hex(hex, buf, shown) = '\0';
	sw_log_locked("switch_phy %s", hex);
	if (ok && !fail) {
		until = sw_now_ms() + (s64)(buf[0] - '0') * 1000;
		/* A shorter cycle does not end a longer one still running. */
		for (i = 0; i < 4; i++)
			if (buf[4 - i] == '1' && sw.st.port[i].down_until < until)
				sw.st.port[i].down_until = until;
	}
	mutex_unlock(&sw.lock);

	if (fail)
		return -EIO;
	return ok ? count : -EINVAL;
}

static const struct proc_ops sw_proc_ops = {
	.proc_write	= sw_proc_write,
	.proc_lseek	= noop_llseek,
};

/* A state word, or the number where there is no word for it. */
static void sw_show_word(struct seq_file *m, u32 v, const char *const *words,
			 u32 nwords)
{
	if (v < nwords)
		seq_printf(m, " %s", words[v]);
	else
		seq_printf(m, " %u", v);
}

static int sw_state_show(struct seq_file *m, void *unused)
{
	const struct sw_state *st = &sw.st;
	s64 now = sw_now_ms();
	int i;

	mutex_lock(&sw.lock);
	seq_puts(m, "# switchsim state; edit freely, one setting a line.\n"
		    "# port link speed duplex [held down until: ms on the boot clock, boot id]\n");
	for (i = 0; i < SW_PORTS; i++) {
		const struct sw_port *p = &st->port[i];

		seq_puts(m, sw_port_name[i]);
		sw_show_word(m, p->link, sw_link_words, 2);
		seq_printf(m, " %u", p->speed);
		sw_show_word(m, p->duplex, sw_duplex_words, 2);
		if (p->down_until > now)
			seq_printf(m, " %lld %s", p->down_until, sw.boot);
		seq_putc(m, '\n');
	}
	seq_puts(m, "led");
	sw_show_word(m, st->led, sw_led_words, 3);
	seq_puts(m, "\nheader");
	sw_show_word(m, st->header, sw_header_words, 2);
	seq_putc(m, '\n');
	for (i = 0; i < st->nregs; i++)
		seq_printf(m, "reg 0x%08x 0x%08x\n", st->reg[i].addr,
			   st->reg[i].value);
	mutex_unlock(&sw.lock);
	return 0;
}

/* Decimal or 0x hex; no sign, no octal. */
static bool sw_parse_u32(const char *s, u32 *out)
{
	if (!*s || *s == '+' || *s == '-')
		return false;
	if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
		return s[2] && s[2] != '+' && !kstrtou32(s + 2, 16, out);
	return !kstrtou32(s, 10, out);
}

static bool sw_parse_word(const char *s, const char *const *words, int nwords,
			  u32 *out)
{
	int i;

	for (i = 0; i < nwords; i++) {
		if (!strcmp(s, words[i])) {
			*out = i;
			return true;
		}
	}
	return sw_parse_u32(s, out);
}

static bool sw_set_reg(struct sw_state *st, u32 addr, u32 value)
{
	int i;

	for (i = 0; i < st->nregs; i++) {
		if (st->reg[i].addr == addr) {
			st->reg[i].value = value;
			return true;
		}
	}
	if (st->nregs == SW_REGS)
		return false;
	st->reg[st->nregs].addr = addr;
	st->reg[st->nregs].value = value;
	st->nregs++;
	return true;
}

/* 36 characters of a lower-case uuid, as the boot ids are written. */
static bool sw_is_boot_id(const char *s)
{
	int i;

	if (strlen(s) != UUID_STRING_LEN)
		return false;
	for (i = 0; i < UUID_STRING_LEN; i++) {
		if (i == 8 || i == 13 || i == 18 || i == 23) {
			if (s[i] != '-')
				return false;
		} else if (!isdigit(s[i]) && (s[i] < 'a' || s[i] > 'f')) {
			return false;
		}
	}
	return true;
}

static const char *sw_parse_port(struct sw_port *p, char **tok, int n)
{
	struct sw_port q = { 0 };

	if ((n != 4 && n != 6) ||
	    !sw_parse_word(tok[1], sw_link_words, 2, &q.link) ||
	    !sw_parse_u32(tok[2], &q.speed) ||
	    !sw_parse_word(tok[3], sw_duplex_words, 2, &q.duplex))
		return n == 5 ? sw_hold_reason : "not a setting";
	if (n == 6) {
		if (!isdigit(tok[4][0]) || kstrtos64(tok[4], 10, &q.down_until) ||
		    !sw_is_boot_id(tok[5]))
			return sw_hold_reason;
		/* A hold from before this load of the driver holds nothing. */
		if (strcmp(tok[5], sw.boot))
			q.down_until = 0;
	}
	*p = q;
	return NULL;
}

/* One line of state text applied to st: NULL, or why it is not one. */
static const char *sw_parse_line(struct sw_state *st, char *line)
{
	static const char bad[] = "not a setting";
	char *tok[6], *t;
	u32 addr, value;
	int n = 0, i;

	while ((t = strsep(&line, " \t\r"))) {
		if (!*t)
			continue;
		if (n == 0 && t[0] == '#')
			return NULL;
		if (n == ARRAY_SIZE(tok))
			return bad;
		tok[n++] = t;
	}
	if (n == 0)
		return NULL;
	for (i = 0; i < SW_PORTS; i++)
		if (!strcmp(tok[0], sw_port_name[i]))
			return sw_parse_port(&st->port[i], tok, n);
	if (!strcmp(tok[0], "led") && n == 2)
		return sw_parse_word(tok[1], sw_led_words, 3, &st->led) ? NULL : bad;
	if (!strcmp(tok[0], "header") && n == 2)
		return sw_parse_word(tok[1], sw_header_words, 2, &st->header) ?
		       NULL : bad;
	if (!strcmp(tok[0], "reg") && n == 3)
		return sw_parse_u32(tok[1], &addr) && sw_parse_u32(tok[2], &value) &&
		       sw_set_reg(st, addr, value) ? NULL : "not a register, or no room";
	return bad;
}

/*
 * What one open of the state writes. Lines are checked as they arrive, so
 * that the write holding a bad one fails, and take effect at the last close.
 */
struct sw_writer {
	struct mutex lock;	/* writes and flushes through shared fds */
	char *text;		/* everything written, not NUL-terminated */
	size_t len, cap;
	size_t checked;		/* text[0..checked) is whole lines, all good */
	int lineno;
	int err;		/* a write failed: the state stays as it was */
	bool replace;		/* opened with O_TRUNC */
	struct sw_state st;	/* the checked lines applied */
};

/* Applies len bytes of lines to st; lineno counts them. */
static int sw_apply_text(struct sw_state *st, const char *text, size_t len,
			 int *lineno)
{
	char *copy, *rest, *line;
	const char *why = NULL;

	copy = kvmalloc(len + 1, GFP_KERNEL);
	if (!copy)
		return -ENOMEM;
	memcpy(copy, text, len);
	copy[len] = '\0';
	for (rest = copy; !why && (line = strsep(&rest, "\n"));) {
		++*lineno;
		why = sw_parse_line(st, line);
	}
	kvfree(copy);
	if (why) {
		pr_notice_ratelimited("switchsim: state:%d: %s\n", *lineno, why);
		return -EINVAL;
	}
	return 0;
}

static int sw_state_open(struct inode *inode, struct file *file)
{
	struct sw_writer *w = NULL;
	int err;

	if (file->f_mode & FMODE_WRITE) {
		w = kzalloc(sizeof(*w), GFP_KERNEL);
		if (!w)
			return -ENOMEM;
		mutex_init(&w->lock);
		w->replace = file->f_flags & O_TRUNC;
		if (w->replace) {
			sw_default(&w->st);
		} else {
			mutex_lock(&sw.lock);
			w->st = sw.st;
			mutex_unlock(&sw.lock);
		}
	}
	err = single_open(file, sw_state_show, w);
	if (err)
		kfree(w);
	return err;
}

static ssize_t sw_state_write(struct file *file, const char __user *ubuf,
			      size_t count, loff_t *ppos)
{
	struct sw_writer *w = ((struct seq_file *)file->private_data)->private;
	ssize_t ret = count;
	size_t done, old;

	mutex_lock(&w->lock);
	if (w->err) {
		ret = w->err;
		goto out;
	}
	if (count > SW_STATE_MAX - w->len) {
		ret = -EFBIG;
		goto fail;
	}
	if (w->len + count > w->cap) {
		size_t cap = max3(w->cap * 2, w->len + count, (size_t)PAGE_SIZE);
		char *text;

		cap = min_t(size_t, cap, SW_STATE_MAX);
		text = kvrealloc(w->text, w->cap, cap, GFP_KERNEL);
		if (!text) {
			ret = -ENOMEM;
			goto fail;
		}
		w->text = text;
		w->cap = cap;
	}
	if (copy_from_user(w->text + w->len, ubuf, count)) {
		ret = -EFAULT;
		goto fail;
	}
	if (memchr(w->text + w->len, '\0', count)) {
		ret = -EINVAL;
		goto fail;
	}
	old = w->len;
	w->len += count;
	/* A line split across writes is checked once its end has come. */
	for (done = w->len; done > old && w->text[done - 1] != '\n';)
		done--;
	if (done > old) {
		ret = sw_apply_text(&w->st, w->text + w->checked,
				    done - 1 - w->checked, &w->lineno);
		if (ret)
			goto fail;
		w->checked = done;
		ret = count;
	}
	goto out;
fail:
	w->err = ret;
out:
	mutex_unlock(&w->lock);
	return ret;
}

/* The last line may lack its newline: check it here, where close() tells. */
static int sw_state_flush(struct file *file, fl_owner_t id)
{
	struct sw_writer *w = ((struct seq_file *)file->private_data)->private;
	struct sw_state *st;
	int lineno, err;

	if (!w)
		return 0;
	mutex_lock(&w->lock);
	err = w->err;
	if (!err && w->len > w->checked) {
		st = kmemdup(&w->st, sizeof(*st), GFP_KERNEL);
		lineno = w->lineno;
		err = st ? sw_apply_text(st, w->text + w->checked,
					 w->len - w->checked, &lineno) : -ENOMEM;
		kfree(st);
	}
	mutex_unlock(&w->lock);
	return err;
}

static int sw_state_release(struct inode *inode, struct file *file)
{
	struct sw_writer *w = ((struct seq_file *)file->private_data)->private;
	struct sw_state *st;
	int lineno = 0;

	if (!w)
		return single_release(inode, file);
	if (!w->err && w->len > w->checked)
		w->err = sw_apply_text(&w->st, w->text + w->checked,
				       w->len - w->checked, &w->lineno);
	if (!w->err && w->replace) {
		mutex_lock(&sw.lock);
		sw.st = w->st;
		mutex_unlock(&sw.lock);
	} else if (!w->err && w->len) {
		/* On top of the state as it is now: concurrent changes all count. */
		st = kmalloc(sizeof(*st), GFP_KERNEL);
		if (st) {
			mutex_lock(&sw.lock);
			*st = sw.st;
			if (!sw_apply_text(st, w->text, w->len, &lineno))
				sw.st = *st;
			mutex_unlock(&sw.lock);
			kfree(st);
		}
	}
	kvfree(w->text);
	mutex_destroy(&w->lock);
	kfree(w);
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
	return single_open_size(file, sw_log_show, NULL, SW_LOG_SIZE + PAGE_SIZE);
}

/* One line from user space: the register tool stand-in logs itself here. */
static ssize_t sw_log_write(struct file *file, const char __user *ubuf,
			    size_t count, loff_t *ppos)
{
	char line[SW_LINE_MAX];
	size_t n = count;

	if (!count)
		return 0;
	if (count > sizeof(line) - 1)
		return -EINVAL;
	if (copy_from_user(line, ubuf, count))
		return -EFAULT;
	if (line[n - 1] == '\n')
		n--;
	if (!n || memchr(line, '\n', n) || memchr(line, '\0', n))
		return -EINVAL;
	line[n] = '\0';

	mutex_lock(&sw.lock);
	sw_log_locked("%s", line);
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

static void sw_debugfs_init(void)
{
	sw.ddir = debugfs_create_dir("switchsim", NULL);
	/*
	 * The safe proxy drops flush, and with it the error of a bad last
	 * line. Each open holds the module, so the file outlives no fops.
	 */
	debugfs_create_file_unsafe("state", 0600, sw.ddir, NULL, &sw_state_fops);
	debugfs_create_file("log", 0600, sw.ddir, NULL, &sw_log_fops);
	debugfs_create_x32("fail_ioctl_code", 0600, sw.ddir, &sw.fail_code);
	debugfs_create_u32("fail_ioctl_errno", 0600, sw.ddir, &sw.fail_errno);
	debugfs_create_bool("fail_proc", 0600, sw.ddir, &sw.fail_proc);
}

static int __init sw_init(void)
{
	uuid_t boot;
	int err;

	mutex_init(&sw.lock);
	sw_default(&sw.st);
	/* This load's boot: no hold outlives the state that keeps it. */
	uuid_gen(&boot);
	snprintf(sw.boot, sizeof(sw.boot), "%pUb", &boot);
	sw.log = kvmalloc(SW_LOG_SIZE, GFP_KERNEL);
	if (!sw.log)
		return -ENOMEM;

	sw.dev = alloc_netdev(0, "phy0", NET_NAME_USER, ether_setup);
	if (!sw.dev) {
		err = -ENOMEM;
		goto err_log;
	}
	sw.dev->netdev_ops = &sw_netdev_ops;
	eth_hw_addr_random(sw.dev);
	err = register_netdev(sw.dev);
	if (err)
		goto err_dev;

	sw.proc = proc_create("switch_phy", 0200, NULL, &sw_proc_ops);
	if (!sw.proc) {
		err = -ENOMEM;
		goto err_register;
	}
	sw_debugfs_init();
	return 0;

err_register:
	unregister_netdev(sw.dev);
err_dev:
	free_netdev(sw.dev);
err_log:
	kvfree(sw.log);
	return err;
}

static void __exit sw_exit(void)
{
	proc_remove(sw.proc);
	unregister_netdev(sw.dev);
	free_netdev(sw.dev);
	debugfs_remove_recursive(sw.ddir);
	kvfree(sw.log);
}

module_init(sw_init);
module_exit(sw_exit);

MODULE_DESCRIPTION("Simulated router switch driver behind phy0, for tests");
MODULE_LICENSE("GPL");
