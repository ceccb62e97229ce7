#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Several connections, one big file over loopback: netskimbler-cli get -n N against
# aria2c -x N -s N, axel -n N and curl (one connection), for N = 1, 4, 8 and 16. Then the CPU
# share of a job whose server accepts the connection and never answers.
#
#   bench/multi.sh                          # build/ is built (RelWithDebInfo) when needed
#   NS_BENCH_MIB=256 NS_BENCH_RUNS=3 NS_BENCH_N="4 16" NS_BUILD_DIR=build-x bench/multi.sh
#   NS_BENCH_RETRY_DELAY=0 bench/multi.sh   # NetSkimbler's pause between two actions of a
#                                           # connection (default: the settings' 2 s)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
source bench/lib.sh
ns_install nginx curl aria2 axel time perl cmake ninja-build g++

runs=${NS_BENCH_RUNS:-3}
counts=(${NS_BENCH_N:-1 4 8 16})
build=${NS_BUILD_DIR:-build}
stall_seconds=${NS_BENCH_STALL_SECONDS:-20}

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target netskimbler-cli >/dev/null
cli="$PWD/$build/cli/netskimbler-cli"

work=$(mktemp -d "${TMPDIR:-/tmp}/nsk-multi-XXXXXX")
ns_bench_nginx_pid=
stall_pid=
cleanup() {
  for p in "$ns_bench_nginx_pid" "$stall_pid"; do
    if [ -n "$p" ]; then kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

# 1 GiB, or 256 MiB where the disk holds less than about 4 GiB (source and copy must fit).
if [ -n "${NS_BENCH_MIB:-}" ]; then
  mib=$NS_BENCH_MIB
else
  avail=$(df --output=avail -B1M "$work" | tail -n 1 | tr -d ' ')
  mib=$([ "$avail" -lt 4096 ] && echo 256 || echo 1024)
fi
bytes=$((mib * 1024 * 1024))
mkdir -p "$work/www" "$work/dl" "$work/scratch"
echo "creating a file of $mib MiB" >&2
head -c "$bytes" /dev/urandom > "$work/www/big.bin"

port=$(ns_bench_free_port)
ns_bench_start_nginx "$work" "$port"
url="http://127.0.0.1:$port/big.bin"
dl="$work/dl"
target="$dl/big.bin"

# A home of its own for every NetSkimbler fetch: a job list that has the URL already would
# refuse it as a duplicate.
fresh_home() {
  rm -rf "$work/home"
  mkdir -p "$work/home"
  if [ -n "${NS_BENCH_RETRY_DELAY:-}" ]; then
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\NetSkimbler\\Options]\n"RetryDelay"=dword:%08x\n' \
      "$NS_BENCH_RETRY_DELAY" > "$work/home/registry.reg"
  fi
}

fetch() {  # tool connections
  local n=$2
  # The machine may page out cold files (the kernel's DAMON page-out runs here): read the
  # source into the page cache first, so that no tool waits for nginx's disk reads.
  cat "$work/www/big.bin" > /dev/null
  case $1 in
    netskimbler)
      fresh_home
      ns_bench_measure "$work/scratch" "$target" "$bytes" \
        env NETSKIMBLER_HOME="$work/home" "$cli" get -n "$n" -d "$dl" "$url" ;;
    aria2c)
      ns_bench_measure "$work/scratch" "$target" "$bytes" \
        aria2c -q -x "$n" -s "$n" -k 1M --summary-interval=0 --allow-overwrite=true \
        --auto-file-renaming=false -d "$dl" -o big.bin "$url" ;;
    axel)
      # Its quiet mode (-q) crashes now and then with 16 connections; its progress goes to
      # the scratch file instead.
      ns_bench_measure "$work/scratch" "$target" "$bytes" axel -n "$n" -o "$target" "$url" ;;
    curl)
      ns_bench_measure "$work/scratch" "$target" "$bytes" curl -s -o "$target" "$url" ;;
  esac
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)   cores: $(nproc)" >&2
multi=(netskimbler aria2c axel)
declare -A results failed
# One round fetches with every tool for every N in turn, so that a change of the machine's
# load falls on all of them alike; the tool that goes first changes from round to round.
for ((r = 1; r <= runs; r++)); do
  for n in "${counts[@]}"; do
    tools=("${multi[@]}")
    [ "$n" = 1 ] && tools+=(curl)
    for ((k = 0; k < ${#tools[@]}; k++)); do
      tool=${tools[$(( (r + k) % ${#tools[@]} ))]}
      # A failed fetch is tried once more; one that fails again is left out (and counted).
      if line=$(fetch "$tool" "$n") || { rm -f "$target"*; line=$(fetch "$tool" "$n"); }; then
        results["$tool|$n"]+="$line"$'\n'
        # Every fetch's own figures, to see the spread behind the medians.
        echo "  $tool N=$n: wall user sys = $line" >&2
      else
        rm -f "$target"*
        failed["$tool|$n"]=$(( ${failed["$tool|$n"]:-0} + 1 ))
      fi
    done
  done
  echo "round $r of $runs done" >&2
done
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)" >&2

echo
pause=${NS_BENCH_RETRY_DELAY:-2 (the default)}
echo "$mib MiB over loopback into a file, median of $runs runs (NetSkimbler's pause between" \
  "two actions of a connection: $pause s)"
for n in "${counts[@]}"; do
  echo
  printf '%-12s %12s %14s   (N = %s)\n' tool "MiB/s" "CPU s/GiB" "$n"
  tools=("${multi[@]}")
  [ "$n" = 1 ] && tools+=(curl)
  for tool in "${tools[@]}"; do
    read -r speed cpu < <(printf '%s' "${results["$tool|$n"]}" | ns_bench_median "$mib")
    note=""
    [ -n "${failed["$tool|$n"]:-}" ] && note="   ${failed["$tool|$n"]} runs failed"
    printf '%-12s %12s %14s%s\n' "$tool" "$speed" "$cpu" "$note"
  done
  read -r ns_speed ns_cpu < <(printf '%s' "${results["netskimbler|$n"]}" | ns_bench_median "$mib")
  read -r a_speed a_cpu < <(printf '%s' "${results["aria2c|$n"]}" | ns_bench_median "$mib")
  awk -v a="$ns_speed" -v b="$a_speed" -v c="$ns_cpu" -v d="$a_cpu" 'BEGIN {
    printf "NetSkimbler / aria2c: throughput %.2f (goal >= 1.00), CPU per GiB %.2f (goal <= 1.00)\n",
      a / b, (d > 0 ? c / d : 0) }'
done

# A server that accepts and never answers: the job waits for the data time-out. Its CPU time
# over the window is read from /proc (user + system ticks of the whole process).
stall_port=$(ns_bench_free_port)
perl -MIO::Socket::INET -e '
  my $s = IO::Socket::INET->new(Listen => 16, LocalAddr => "127.0.0.1", LocalPort => $ARGV[0],
                                ReuseAddr => 1) or die "listen: $!";
  my @held; while (my $c = $s->accept) { push @held, $c }' "$stall_port" &
stall_pid=$!
ns_bench_wait_port "$stall_port"
fresh_home
NETSKIMBLER_HOME="$work/home" "$cli" get -n 4 -d "$dl" "http://127.0.0.1:$stall_port/stall.bin" \
  >"$work/scratch/stall.out" 2>&1 &
job_pid=$!
sleep 2
ticks() { awk '{ print $14 + $15 }' "/proc/$job_pid/stat"; }
t0=$(ticks)
sleep "$stall_seconds"
t1=$(ticks)
kill -TERM "$job_pid"
wait "$job_pid" || true
hz=$(getconf CLK_TCK)
echo
echo "the stalled job's last progress line: $(grep 'connections active' "$work/scratch/stall.out" | tail -n 1)"
awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$stall_seconds" 'BEGIN {
  printf "stalled server: %.3f %% of a core over %d s while the job waits (goal < 1 %%)\n",
    100 * d / hz / s, s }'
