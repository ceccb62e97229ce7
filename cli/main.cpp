// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>

int main() {
  std::fprintf(stderr, "usage: netskimbler-cli list [--json] [FILE.mjl]\n");
  return 2;
}
