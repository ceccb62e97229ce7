#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages a command needs, and only those that are missing.
# Sourced by ./run and ./test; also runnable as `scripts/deps.sh build test`.
set -euo pipefail

ns_pkgs_build=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev)
ns_pkgs_test=(nginx vsftpd tinyproxy squid procps)
ns_pkgs_gui=()

ns_missing_packages() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$p"
    fi
  done
}

ns_as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"
  elif command -v sudo >/dev/null 2>&1; then sudo "$@"
  else echo "netskimbler: need root (or sudo) to install: $*" >&2; return 1
  fi
}

# Installs what is missing; `apt-get update` runs once, only when something must be installed.
# Services are kept from starting during the install: the tests start their own servers on
# loopback ports and a distribution-started nginx or squid would only take port 80 and 3128.
ns_install() {
  local missing
  mapfile -t missing < <(ns_missing_packages "$@")
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "netskimbler: installing ${missing[*]}" >&2
  local policy=/usr/sbin/policy-rc.d placed=0
  if [ ! -e "$policy" ]; then
    ns_as_root sh -c "printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy" && placed=1
  fi
  local rc=0
  ns_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q || rc=$?
  if [ "$rc" = 0 ]; then
    ns_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      "${missing[@]}" || rc=$?
  fi
  [ "$placed" = 1 ] && ns_as_root rm -f "$policy"
  return "$rc"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  all=()
  for group in "$@"; do
    case "$group" in
      build) all+=("${ns_pkgs_build[@]}") ;;
      test) all+=("${ns_pkgs_test[@]}") ;;
      gui) all+=("${ns_pkgs_gui[@]}") ;;
      *) echo "usage: $0 build|test|gui ..." >&2; exit 2 ;;
    esac
  done
  ns_install "${all[@]}"
fi
