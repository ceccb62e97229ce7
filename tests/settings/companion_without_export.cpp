// SPDX-License-Identifier: GPL-2.0-or-later
// Test stand-in for a companion library that has no registration export.
extern "C" int SomethingElse() { return 0; }
