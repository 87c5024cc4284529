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
 *   state            the state text. Opening it with O_TRUNC puts back the
 *                    default state, and every write applies its lines on
 *                    top, so "cat f >state" replaces the state and
 *                    "echo ... >>state" changes one line, as with a file.
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

#define SW_REQ_STATUS	SIOCGMIIREG
#define SW_REQ_HEADER	(SIOCDEVPRIVATE + 14)
#define SW_REQ_LED	(SIOCDEVPRIVATE + 15)
#define SW_STATUS_WORDS	20
#define SW_PORTS	5
#define SW_REGS		16
#define SW_LOG_SIZE	(64 * 1024)
#define SW_LINE_MAX	512
#define SW_WRITE_MAX	(16 * 1024)
#define SW_PROC_SHOWN	64

struct sw_port {
	u32 link;		/* non-zero: up */
	u32 speed;
	u32 duplex;		/* non-zero: full */
	s64 down_until;		/* ms since the epoch; reads down before it */
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
} sw;

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
	return ktime_to_ms(ktime_get_real());
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
	int i;

	mutex_lock(&sw.lock);
	seq_puts(m, "# switchsim state; edit freely, one setting a line.\n"
		    "# port link speed duplex [down-until, ms since the epoch]\n");
	for (i = 0; i < SW_PORTS; i++) {
		const struct sw_port *p = &st->port[i];

		seq_puts(m, sw_port_name[i]);
		sw_show_word(m, p->link, sw_link_words, 2);
		seq_printf(m, " %u", p->speed);
		sw_show_word(m, p->duplex, sw_duplex_words, 2);
		if (p->down_until)
			seq_printf(m, " %lld", p->down_until);
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

static bool sw_parse_port(struct sw_port *p, char **tok, int n)
{
	struct sw_port q = { 0 };

	if (n < 4 || n > 5 ||
	    !sw_parse_word(tok[1], sw_link_words, 2, &q.link) ||
	    !sw_parse_u32(tok[2], &q.speed) ||
	    !sw_parse_word(tok[3], sw_duplex_words, 2, &q.duplex))
		return false;
	if (n == 5 && (tok[4][0] == '+' || kstrtos64(tok[4], 10, &q.down_until) ||
		       q.down_until < 0))
		return false;
	*p = q;
	return true;
}

/* One line of state text applied to st; false if it is not one. */
static bool sw_parse_line(struct sw_state *st, char *line)
{
	char *tok[6], *t;
	u32 addr, value;
	int n = 0, i;

	while ((t = strsep(&line, " \t\r"))) {
		if (!*t)
			continue;
		if (n == 0 && t[0] == '#')
			return true;
		if (n == ARRAY_SIZE(tok))
			return false;
		tok[n++] = t;
	}
	if (n == 0)
		return true;
	for (i = 0; i < SW_PORTS; i++)
		if (!strcmp(tok[0], sw_port_name[i]))
			return sw_parse_port(&st->port[i], tok, n);
	if (!strcmp(tok[0], "led") && n == 2)
		return sw_parse_word(tok[1], sw_led_words, 3, &st->led);
	if (!strcmp(tok[0], "header") && n == 2)
		return sw_parse_word(tok[1], sw_header_words, 2, &st->header);
	if (!strcmp(tok[0], "reg") && n == 3)
		return sw_parse_u32(tok[1], &addr) && sw_parse_u32(tok[2], &value) &&
		       sw_set_reg(st, addr, value);
	return false;
}

static int sw_state_open(struct inode *inode, struct file *file)
{
	if ((file->f_mode & FMODE_WRITE) && (file->f_flags & O_TRUNC)) {
		mutex_lock(&sw.lock);
		sw_default(&sw.st);
		mutex_unlock(&sw.lock);
	}
	return single_open(file, sw_state_show, NULL);
}

/* Every line of one write applies, or none does. */
static ssize_t sw_state_write(struct file *file, const char __user *ubuf,
			      size_t count, loff_t *ppos)
{
	struct sw_state *st;
	char *text, *rest, *line;
	int lineno = 0;
	ssize_t ret = count;

	if (count > SW_WRITE_MAX)
		return -EFBIG;
	text = memdup_user_nul(ubuf, count);
	if (IS_ERR(text))
		return PTR_ERR(text);
	st = kmalloc(sizeof(*st), GFP_KERNEL);
	if (!st) {
		kfree(text);
		return -ENOMEM;
	}
	if (strlen(text) != count)
		ret = -EINVAL;

	mutex_lock(&sw.lock);
	*st = sw.st;
	for (rest = text; ret > 0 && (line = strsep(&rest, "\n"));) {
		lineno++;
		if (!sw_parse_line(st, line)) {
			pr_notice_ratelimited("switchsim: state:%d: not a setting\n",
					      lineno);
			ret = -EINVAL;
		}
	}
	if (ret > 0)
		sw.st = *st;
	mutex_unlock(&sw.lock);

	kfree(st);
	kfree(text);
	return ret;
}

static const struct file_operations sw_state_fops = {
	.owner		= THIS_MODULE,
	.open		= sw_state_open,
	.read		= seq_read,
	.write		= sw_state_write,
	.llseek		= seq_lseek,
	.release	= single_release,
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
	debugfs_create_file("state", 0600, sw.ddir, NULL, &sw_state_fops);
	debugfs_create_file("log", 0600, sw.ddir, NULL, &sw_log_fops);
	debugfs_create_x32("fail_ioctl_code", 0600, sw.ddir, &sw.fail_code);
	debugfs_create_u32("fail_ioctl_errno", 0600, sw.ddir, &sw.fail_errno);
	debugfs_create_bool("fail_proc", 0600, sw.ddir, &sw.fail_proc);
}

static int __init sw_init(void)
{
	int err;

	mutex_init(&sw.lock);
	sw_default(&sw.st);
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
