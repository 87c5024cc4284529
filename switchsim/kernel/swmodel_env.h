/* SPDX-License-Identifier: GPL-2.0-only */
/* What the switch model takes from the kernel, and nothing more. */
#ifndef SWMODEL_ENV_H
#define SWMODEL_ENV_H

#include <linux/errno.h>
#include <linux/kernel.h>	/* vsnprintf */
#include <linux/stdarg.h>
#include <linux/string.h>
#include <linux/types.h>

#endif
