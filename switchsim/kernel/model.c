// SPDX-License-Identifier: GPL-2.0
#include "../model/swmodel.c"
