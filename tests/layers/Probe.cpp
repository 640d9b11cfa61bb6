// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for a source of the layer under test: it includes whatever header
// the include-rule check names, with that layer's include flags.
#include VESK_PROBE_HEADER
