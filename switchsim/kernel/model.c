// SPDX-License-Identifier: GPL-2.0-only
#include "../model/swmodel.c"
