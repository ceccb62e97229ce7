#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# One connection, one big file over loopback: netskimbler-cli fetch against curl and wget.
# Serves a file of NS_BENCH_MIB MiB (default 1024) with nginx on a free 127.0.0.1 port and
# fetches it NS_BENCH_RUNS times (default 5) with each tool, to /dev/null and to a file.
# Prints the median throughput (MiB/s) and the CPU time (user + system of the fetching
# process) per GiB of each, and NetSkimbler's ratios to curl.
#
#   bench/fetch-one.sh                 # build/ is built (RelWithDebInfo) when needed
#   NS_BENCH_MIB=256 NS_BENCH_RUNS=3 NS_BUILD_DIR=build-x bench/fetch-one.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ns_install nginx curl wget time cmake ninja-build g++

mib=${NS_BENCH_MIB:-1024}
runs=${NS_BENCH_RUNS:-5}
build=${NS_BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target netskimbler-cli >/dev/null
cli="$PWD/$build/cli/netskimbler-cli"

work=$(mktemp -d "${TMPDIR:-/tmp}/nsk-bench-XXXXXX")
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/temp"
echo "creating a file of $mib MiB" >&2
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$work/www/big.bin"

# A port that nobody listens on a moment ago.
free_port() {
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return 0; fi
  done
  return 1
}
port=$(free_port)
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root;"
cat > "$work/nginx.conf" <<EOF
daemon off;
master_process on;
worker_processes 1;
$user_line
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/temp/client_body;
  proxy_temp_path $work/temp/proxy;
  fastcgi_temp_path $work/temp/fastcgi;
  uwsgi_temp_path $work/temp/uwsgi;
  scgi_temp_path $work/temp/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
EOF
nginx=$(command -v nginx || echo /usr/sbin/nginx)
"$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { cat "$work/error.log" >&2; echo "nginx did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/big.bin"

# One fetch: prints "wall user sys" in seconds. The wall time is taken around the process,
# user and system time are the process's own (GNU time).
measure() {  # target, command...
  local target=$1; shift
  local t0 t1
  # Dirty pages of the previous file would be written back during this fetch: start clean.
  [ "$target" != /dev/null ] && sync
  t0=$(date +%s%N)
  /usr/bin/time -f "%U %S" -o "$work/cpu" "$@" >/dev/null 2>"$work/err" || {
    echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
  t1=$(date +%s%N)
  if [ "$target" != /dev/null ]; then
    local got; got=$(stat -c %s "$target")
    [ "$got" = "$((mib * 1024 * 1024))" ] || { echo "short file ($got bytes): $*" >&2; exit 1; }
    rm -f "$target"
  fi
  local us=$(( (t1 - t0) / 1000 ))
  printf '%d.%06d %s\n' $((us / 1000000)) $((us % 1000000)) "$(tail -n 1 "$work/cpu")"
}

fetch() {  # tool, target
  case $1 in
    netskimbler) measure "$2" "$cli" fetch "$url" "$2" ;;
    curl) measure "$2" curl -s -o "$2" "$url" ;;
    wget) measure "$2" wget -q -O "$2" "$url" ;;
  esac
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)   cores: $(nproc)" >&2
tools=(netskimbler curl wget)
targets=(/dev/null "$work/out.bin")
declare -A results
# One round fetches with every tool in turn, so that a change of the machine's load falls on
# all of them alike; the tool that goes first changes from round to round.
for ((r = 1; r <= runs; r++)); do
  for target in "${targets[@]}"; do
    for ((k = 0; k < ${#tools[@]}; k++)); do
      tool=${tools[$(( (r + k) % ${#tools[@]} ))]}
      results["$tool|$target"]+="$(fetch "$tool" "$target")"$'\n'
    done
  done
  echo "round $r of $runs done" >&2
done
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# Median of the throughput and of the CPU seconds per GiB over the runs.
summary() {  # tool target -> "MiB/s cpu-s/GiB"
  printf '%s' "${results["$1|$2"]}" | awk -v mib="$mib" '
    NF == 3 { n++; speed[n] = mib / $1; cpu[n] = ($2 + $3) * 1024 / mib }
    function median(a, n,   i, j, t) {
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    END { printf "%.1f %.3f\n", median(speed, n), median(cpu, n) }'
}

echo
echo "one connection, $mib MiB over loopback, median of $runs runs"
for target in "${targets[@]}"; do
  name=$([ "$target" = /dev/null ] && echo "/dev/null" || echo "a file")
  echo
  printf '%-12s %12s %14s   (to %s)\n' tool "MiB/s" "CPU s/GiB" "$name"
  for tool in "${tools[@]}"; do
    read -r speed cpu < <(summary "$tool" "$target")
    printf '%-12s %12s %14s\n' "$tool" "$speed" "$cpu"
  done
  read -r ns_speed ns_cpu < <(summary netskimbler "$target")
  read -r c_speed c_cpu < <(summary curl "$target")
  awk -v a="$ns_speed" -v b="$c_speed" -v c="$ns_cpu" -v d="$c_cpu" 'BEGIN {
    printf "NetSkimbler / curl: throughput %.2f (goal >= 0.90), CPU per GiB %.2f (goal <= 1.50)\n",
      a / b, (d > 0 ? c / d : 0) }'
done
