# SPDX-License-Identifier: GPL-2.0-or-later
# Helpers of the benchmarks, sourced by them: a free loopback port, nginx serving a folder on
# it, one measured fetch and the median of a column of figures.

# A port that nobody listened on a moment ago.
ns_bench_free_port() {
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return 0; fi
  done
  return 1
}

# Waits until something accepts connections on the port (5 s at most).
ns_bench_wait_port() {  # port
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# Starts nginx in the foreground of a background job serving $work/www on 127.0.0.1:port,
# with its configuration, logs and temporary folders in $work. Sets ns_bench_nginx_pid.
ns_bench_start_nginx() {  # work port
  local work=$1 port=$2 user_line=""
  [ "$(id -u)" = 0 ] && user_line="user root;"
  mkdir -p "$work/temp"
  cat > "$work/nginx.conf" <<EOF
daemon off;
master_process on;
worker_processes 1;
$user_line
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 256; }
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
  local nginx
  nginx=$(command -v nginx || echo /usr/sbin/nginx)
  "$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
  ns_bench_nginx_pid=$!
  ns_bench_wait_port "$port" || { cat "$work/error.log" >&2; echo "nginx did not start" >&2; return 1; }
}

# One fetch into a file: prints "wall user sys" in seconds. The wall time is taken around the
# process, user and system time are the process's own (GNU time). A sync first, so that no
# fetch pays for the write-back of the one before; the file must have the expected size and
# is deleted afterwards.
ns_bench_measure() {  # scratch-folder target expected-bytes command...
  local scratch=$1 target=$2 bytes=$3; shift 3
  local t0 t1
  sync
  t0=$(date +%s%N)
  /usr/bin/time -f "%U %S" -o "$scratch/cpu" "$@" >"$scratch/out" 2>"$scratch/err" || {
    echo "failed: $*" >&2; tail -n 20 "$scratch/out" "$scratch/err" >&2; return 1; }
  t1=$(date +%s%N)
  local got
  got=$(stat -c %s "$target" 2>/dev/null || echo 0)
  [ "$got" = "$bytes" ] || { echo "wrong size ($got bytes, not $bytes): $*" >&2; return 1; }
  rm -f "$target"
  local us=$(( (t1 - t0) / 1000 ))
  printf '%d.%06d %s\n' $((us / 1000000)) $((us % 1000000)) "$(tail -n 1 "$scratch/cpu")"
}

# Lines of "wall user sys" -> "MiB/s cpu-s/GiB", the medians over the lines.
ns_bench_median() {  # mib
  awk -v mib="$1" '
    NF == 3 { n++; speed[n] = mib / $1; cpu[n] = ($2 + $3) * 1024 / mib }
    function median(a, n,   i, j, t) {
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    END { if (n) printf "%.1f %.3f\n", median(speed, n), median(cpu, n); else print "- -" }'
}
