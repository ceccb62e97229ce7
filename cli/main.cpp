// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"

namespace {

void Usage(std::FILE* out) {
  std::fputs(
      "usage: netskimbler-cli COMMAND [ARGS]\n"
      "  get [OPTIONS] URL [MIRROR ...]  download URL now as a new job of the current list\n"
      "  run [FILE.mjl]             start every job of a job list and run until all ended\n"
      "  list [--json] [FILE.mjl]   show the jobs of a job list (default: the current list)\n"
      "  fetch [OPTIONS] URL FILE   fetch one URL with the protocol client (diagnostics)\n"
      "  help                       this text\n"
      "COMMAND --help tells more about each.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  const std::string command = argv[1];
  const nsk::cli::TArgs args(argv + 2, argv + argc);
  if (command == "get") return nsk::cli::RunGet(args);
  if (command == "run") return nsk::cli::RunRun(args);
  if (command == "list") return nsk::cli::RunList(args);
  if (command == "fetch") return nsk::cli::RunFetch(args);
  if (command == "help" || command == "--help" || command == "-h") {
    Usage(stdout);
    return 0;
  }
  std::fprintf(stderr, "netskimbler-cli: unknown command \"%s\"\n", command.c_str());
  Usage(stderr);
  return 2;
}
