// SPDX-License-Identifier: BSD-2-Clause
/*
 * vok_eth: report and control the router's Ethernet switch through the
 * switch driver behind the interface "phy0".
 *
 * C library only: no iostreams, no std::string, no exceptions, no heap.
 * Every buffer lives on the stack of the action that uses it.
 */
#include <errno.h>
#include <getopt.h>
#include <limits.h>
#include <net/if.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

typedef uint32_t u32;

enum { LED_OFF = 0, LED_GREEN = 1, LED_AMBER = 2 };
enum { ATH_HEADER_OFF = 0, ATH_HEADER_ON = 1 };

/*
 * The driver's own status record for request 0x8948, not the Linux MII
 * record of the same name: the program sets the five unit numbers, the
 * driver fills link, speed and duplex, each as one port-indexed run of five.
 */
struct mii_ioctl_data {
	u32 unit0, unit1, unit2, unit3, unit4;
	u32 data0, data1, data2, data3, data4;
	u32 lan0_speed, lan1_speed, lan2_speed, lan3_speed, wan_speed;
	u32 lan0_isFullDuplex, lan1_isFullDuplex, lan2_isFullDuplex,
	    lan3_isFullDuplex, wan_isFullDuplex;
};
/* Checked at compile time in a form that older vendor g++ (C++98) takes:
 * a false condition makes an array of negative size. */
typedef char driver_reads_exactly_80_bytes[sizeof(struct mii_ioctl_data) == 80 ? 1 : -1];
typedef char five_fields_a_view_no_gaps[offsetof(struct mii_ioctl_data, data0) == 20 &&
						offsetof(struct mii_ioctl_data, lan0_speed) == 40 &&
						offsetof(struct mii_ioctl_data, lan0_isFullDuplex) == 60
					? 1 : -1];

static int get_phy_status_f = 0;
static int switch_lan_phy_f = 0;
static int switch_lan_phy_secs = 0;
static int switch_lan_mask = 15;
static int set_wan_led_f = 0;
static int wan_led_color = LED_OFF;
static int atheros_header = 0;
static int en_atheros_header = ATH_HEADER_OFF;

static const struct option long_options[] = {
	{ "get-phy-status", no_argument, NULL, 's' },
	{ "switch-lan-phy", required_argument, NULL, 'w' },
	{ "switch-lan-mask", required_argument, NULL, 'm' },
	{ "set-wan-led", required_argument, NULL, 'l' },
	{ "ctl-atheros-header", required_argument, NULL, 'e' },
	{ NULL, 0, NULL, 0 },
};

/* One write per line, as the manual page lays them out. */
__attribute__((noreturn)) static void usage(void)
{
	static const char text[] =
		"Usage: vok_eth [ -s (--get-phy-status)]\n"
		"\tprint phy status of ethernt ports.\n"
		"Usage: vok_eth [ -w (--switch-lan-phy) SECS \n"
		"                 -m (--switch-lan-mask) MASK]\n"
		"\tlink down lan ports (according to MASK) for SECS, then link up.\n"
		"\tSECS : 0 ~ 9.\n"
		"\tMASK : 0 ~ 15.\n"
		"Usage: vok_eth [ -l (--set-wan-led) COLOR]\n"
		"\tset the led of wan port.\n"
		"\tCOLOR : off / green / amber\n"
		"Usage: vok_eth [ -e (--ctl-atheros-header) STATUS]\n"
		"\tenable/disable Atheros Header.\n"
		"\tSTATUS : on / off\n";
	for (const char *line = text, *nl; (nl = strchr(line, '\n')) != NULL; line = nl + 1)
		fwrite(line, 1, static_cast<size_t>(nl - line + 1), stderr);
	exit(-1);
}

/*
 * The common steps of every driver request: open the control socket, name
 * "phy0" in a zeroed request block pointing at the caller's data, and issue
 * the request. Returns the still-open socket, which the caller closes, or -1
 * after the failure has been reported and the socket closed.
 */
static int phy_request(unsigned long request, void *data)
{
	int sock = socket(AF_INET, SOCK_DGRAM, 0);
	if (sock < 0) {
		fprintf(stderr, "socket failed, %s\n", strerror(errno));
		return -1;
	}
	struct ifreq ifr;
	memset(&ifr, 0, sizeof(ifr));
	strncpy(ifr.ifr_name, "phy0", IFNAMSIZ);
	ifr.ifr_data = static_cast<char *>(data);
	if (ioctl(sock, request, &ifr) < 0) {
		fwrite("ioctl error!\n", 1, 13, stderr);
		close(sock);
		return -1;
	}
	return sock;
}

/*
 * system() hands back a wait status, whose low byte would become our exit
 * status: a shell that failed with code 1 (256) would look like success.
 * Pass on the shell's own exit code instead, or 128+N for a shell killed
 * by signal N.
 */
static int run_shell(const char *cmd)
{
	int status = system(cmd); // NOLINT(cert-env33-c): digits and fixed text only
	if (status == -1) {
		fprintf(stderr, "system failed, %s\n", strerror(errno));
		return -1;
	}
	if (WIFSIGNALED(status))
		return 128 + WTERMSIG(status);
	return WEXITSTATUS(status);
}

static void print_phy_status(const struct mii_ioctl_data *p_miioctl)
{
	/* Each run of five fields is one view indexed by port; copy the
	 * record out to index it, as stepping from one member into the
	 * next is undefined. */
	u32 rec[20];
	memcpy(rec, p_miioctl, sizeof(rec));
	const u32 *link = &rec[5];
	const u32 *speed = &rec[10];
	const u32 *duplex = &rec[15];

	for (int i = 0; i < 4; i++)
		printf("LAN%d:%s:%d:%s\n", i, link[i] ? "up" : "down",
		       static_cast<int>(speed[i]), duplex[i] ? "full" : "half");
	printf("WAN:%s:%d:%s\n", link[4] ? "up" : "down",
	       static_cast<int>(speed[4]), duplex[4] ? "full" : "half");
}

static int get_phy_status(void)
{
	struct mii_ioctl_data mii;
	memset(&mii, 0, sizeof(mii));
	mii.unit0 = 0;
	mii.unit1 = 1;
	mii.unit2 = 2;
	mii.unit3 = 3;
	mii.unit4 = 4;

	int sock = phy_request(0x8948, &mii);
	if (sock < 0)
		return -1;
	print_phy_status(&mii);
	/* A report that never reached its reader must not exit 0. */
	int failed = fflush(stdout) != 0 || ferror(stdout);
	if (failed)
		fprintf(stderr, "write failed, %s\n", strerror(errno));
	close(sock);
	return failed ? -1 : 0;
}

static int switch_lan_phy(int secs, int lan_port_mask)
{
	int bit[4];
	for (int i = 0; i < 4; i++)
		bit[i] = (lan_port_mask >> i) & 1;
	if (secs < 0)
		secs = 0;
	if (secs > 9)
		secs = 9;

	char cmd[64];
	snprintf(cmd, 63, "echo -n %d%d%d%d%d >/proc/switch_phy", secs,
		 bit[3], bit[2], bit[1], bit[0]);
	return run_shell(cmd);
}

static int set_wan_led(int color)
{
	/* The driver reads exactly two bytes: an int would hand it the
	 * high half on a big-endian router. */
	uint16_t flags = color == LED_OFF ? 0 : color == LED_GREEN ? 1 : 2;

	int sock = phy_request(0x89FF, &flags);
	if (sock < 0)
		return -1;
	close(sock);
	return 0;
}

static int set_atheros_header(int enable)
{
	/* Two bytes, as for the LED. */
	uint16_t flags = enable == ATH_HEADER_ON ? 1 : 0;
	char value[16];
	snprintf(value, sizeof(value), "0x%08x", enable == ATH_HEADER_ON ? 2 : 0);

	int sock = phy_request(0x89FE, &flags);
	if (sock < 0)
		return -1;
	close(sock);

	char cmd[128];
	snprintf(cmd, 127, "/sbin/ethreg -i phy0 0x0000009c=%s", value);
	return run_shell(cmd);
}

int main(int argc, char *argv[])
{
	int option_index;
	int c;

	for (;;) {
		option_index = 0;
		c = getopt_long(argc, argv, "sw:m:l:e:", long_options, &option_index);
		if (c == -1)
			break;
		switch (c) {
		case 's':
			get_phy_status_f = 1;
			break;
		case 'w':
			switch_lan_phy_f = 1;
			switch_lan_phy_secs = static_cast<signed char>(optarg[0]) - '0';
			break;
		case 'm': {
			/* strtol saturates at the bounds of long; where long is
			 * wider than int, saturate at int's as the router does. */
			long mask = strtol(optarg, NULL, 10);
			switch_lan_mask = mask > INT_MAX ? INT_MAX
					: mask < INT_MIN ? INT_MIN : static_cast<int>(mask);
			break;
		}
		case 'l':
			set_wan_led_f = 1;
			if (strcmp(optarg, "off") == 0)
				wan_led_color = LED_OFF;
			else if (strcmp(optarg, "green") == 0)
				wan_led_color = LED_GREEN;
			else if (strcmp(optarg, "amber") == 0)
				wan_led_color = LED_AMBER;
			else
				usage();
			break;
		case 'e':
			atheros_header = 1;
			if (strcmp(optarg, "off") == 0)
				en_atheros_header = ATH_HEADER_OFF;
			else if (strcmp(optarg, "on") == 0)
				en_atheros_header = ATH_HEADER_ON;
			else
				usage();
			break;
		default:
			usage();
		}
	}
	if (optind < argc)
		usage();

	if (!get_phy_status_f && !switch_lan_phy_f && !set_wan_led_f && !atheros_header)
		get_phy_status_f = 1;

	if (get_phy_status_f)
		return get_phy_status();
	if (switch_lan_phy_f)
		return switch_lan_phy(switch_lan_phy_secs, switch_lan_mask);
	if (set_wan_led_f)
		return set_wan_led(wan_led_color);
	return set_atheros_header(en_atheros_header);
}
