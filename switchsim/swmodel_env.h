/* SPDX-License-Identifier: BSD-2-Clause */
/* What the switch model takes from the C library, and nothing more. */
#ifndef SWMODEL_ENV_H
#define SWMODEL_ENV_H

#include <errno.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>		/* vsnprintf */
#include <string.h>

/* The kernel's spelling, so the model reads the same in both. */
#define __printf(a, b) __attribute__((format(printf, a, b))) // NOLINT(bugprone-reserved-identifier)

#endif
