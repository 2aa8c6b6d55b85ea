#!/usr/bin/env bash
# Benchmarks the service end to end and prints one table: large "/getFileInfo"
# replies against their floors (reading the .dat; receiving a reply of the
# same size from a minimal sender), small queries against nginx serving a
# static file of the same size, and the service's peak memory. Missed targets
# are reported in the table; the exit status is non-zero only when the
# benchmark cannot run.
#
# Settings (environment): BENCH_RUNS (requests per figure, default 5),
# BENCH_SECONDS (seconds per load run, default 5), BENCH_BUILD_DIR (default
# build-bench), BENCH_BUILD_TYPE (default Release).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
runs=${BENCH_RUNS:-5}
seconds=${BENCH_SECONDS:-5}
build=${BENCH_BUILD_DIR:-build-bench}
build_type=${BENCH_BUILD_TYPE:-Release}

# What the build needs, then the load client and the static-file ceiling;
# neither of the last two is needed anywhere else.
./scripts/install-deps.sh
missing=()
for p in wrk nginx; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
cmake --build "$build" -j "$(nproc)" --target comtrade_service comtrade_gen_tool service_bench >/dev/null
service_bin=$build/src/main/comtrade_service
gen=$build/tools/comtrade_gen/comtrade_gen
sb=$build/bench/service_bench

work=$(mktemp -d "${TMPDIR:-/tmp}/comtrade_bench.XXXXXX")
service_pid=""
nginx_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; fi
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits until 127.0.0.1:$1 accepts a connection.
wait_port() {
  for _ in $(seq 1 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "bench: nothing listens on port $1" >&2
  return 1
}

# Starts a fresh service (so that its peak memory belongs to one case) on the
# record root $1; sets service_pid and service_port.
start_service() {
  service_port=$("$sb" free-port)
  rm -rf "$work/root"
  mkdir -p "$work/root/cfg" "$work/root/log"
  printf '[base]\nlogDir=%s\nport=%s\nfileDir=%s\n' \
    "$work/root/log/service.log" "$service_port" "$1" >"$work/root/cfg/ComTrade.ini"
  (cd "$work/root" && TAVROOT="$work/root" exec "$repo/$service_bin" >"$work/root/log/stdout.txt" 2>&1) &
  service_pid=$!
  wait_port "$service_port"
}

stop_service() {
  kill "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
  service_pid=""
}

# Value of `name` in service_bench output $1.
field() { awk -v k="$2" '$1 == k { print $2 }' <<<"$1"; }

echo "generating records ..." >&2
records=$work/records
mkdir -p "$records/bench"
"$gen" --out "$records/bench/bin_1m" --binary --analog 8 --digital 16 --samples 1000000 >/dev/null
"$gen" --out "$records/bench/asc_1m" --analog 8 --digital 16 --samples 1000000 >/dev/null
"$gen" --out "$records/bench/bin_200k" --binary --analog 64 --digital 128 --samples 200000 >/dev/null
"$gen" --out "$records/bench/asc_200k" --analog 64 --digital 128 --samples 200000 >/dev/null

names() {  # names A D: "U1",...,"UA","D1",...,"DD"
  local list=() i
  for ((i = 1; i <= $1; i++)); do list+=("\"U$i\""); done
  for ((i = 1; i <= $2; i++)); do list+=("\"D$i\""); done
  local IFS=,
  echo "${list[*]}"
}
few=$(names 4 2)
all=$(names 64 128)

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
large_rows=()
large_case() {  # label record channel-list target-ratio
  local label=$1 record=$2 list=$3 target=$4
  echo "measuring $label ..." >&2
  local body="{\"groupName\":\"bench\",\"fileName\":\"$record\",\"channelList\":[$list]}"
  start_service "$records"
  "$sb" ask "$service_port" /getFileInfo "$body" 1 >/dev/null  # the files into the page cache
  local asked
  asked=$("$sb" ask "$service_port" /getFileInfo "$body" "$runs")
  local hwm_kb
  hwm_kb=$(awk '/^VmHWM/ { print $2 }' "/proc/$service_pid/status")
  stop_service
  local bytes ms read_ms send_ms
  bytes=$(field "$asked" bytes)
  ms=$(field "$asked" ms)
  [ "$(field "$asked" ok)" = 1 ] || echo "bench: $label: the reply is not a success answer" >&2
  read_ms=$(field "$("$sb" read "$records/bench/$record.dat" "$runs")" ms)
  send_ms=$(field "$("$sb" floor "$bytes" "$runs")" ms)
  large_rows+=("$(awk -v l="$label" -v b="$bytes" -v ms="$ms" -v r="$read_ms" -v s="$send_ms" \
    -v t="$target" -v h="$hwm_kb" 'BEGIN {
      mb = b / 1e6; floor = r + s; ratio = ms / floor; rss = h / 1024 * 1.048576
      limit = 1.3 * mb + 30
      printf "%-34s %7.1f %9.1f %7.1f %7.1f %7.1f %6.2fx %4s %-4s %8.1f %7.1f %-4s",
        l, mb, ms, r, s, floor, ratio, "<=" t "x", (t == "-" ? "" : (ratio <= t ? "met" : "MISS")),
        rss, limit, (rss <= limit ? "met" : "MISS") }')")
}
large_case "BINARY 1M x 8A+16D, 4A+2D" bin_1m "$few" 3
large_case "ASCII  1M x 8A+16D, 4A+2D" asc_1m "$few" 7
large_case "BINARY 200k x 64A+128D, all" bin_200k "$all" 3
large_case "ASCII  200k x 64A+128D, all" asc_200k "$all" 7

# Small queries: the service on the demo records against nginx serving each
# reply as a static file, both on one worker, wrk with 32 connections.
mkdir -p "$work/www" "$work/nginx/tmp"
nginx_port=$("$sb" free-port)
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
error_log $work/nginx/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections 1024; }
http {
  access_log off;
  default_type application/json;
  client_body_temp_path $work/nginx/tmp;
  proxy_temp_path $work/nginx/tmp;
  fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp;
  scgi_temp_path $work/nginx/tmp;
  keepalive_requests 100000000;
  server { listen 127.0.0.1:$nginx_port; root $work/www; }
}
EOF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>/dev/null &
nginx_pid=$!
wait_port "$nginx_port"

# "requests/s p99-ms" of a wrk run against URL $1 with Lua script $2.
wrk_figures() {
  wrk -t1 -c32 -d"${seconds}s" --latency -s "$2" "$1" | awk '
    /Requests\/sec:/ { rps = $2 }
    $1 == "99%" { v = $2; u = v; sub(/[0-9.]+/, "", u); sub(/[a-z]+$/, "", v)
                  ms = (u == "us") ? v / 1000 : (u == "s") ? v * 1000 : v }
    END { printf "%s %s\n", rps, ms }'
}

small_rows=()
small_case() {  # uri body
  local uri=$1 body=$2 name=${1#/}
  echo "measuring $uri ..." >&2
  curl -s --data-binary "$body" "http://127.0.0.1:$service_port$uri" >"$work/www/$name.json"
  printf 'wrk.method = "POST"\nwrk.body = [[%s]]\nwrk.headers["Content-Type"] = "application/json"\n' \
    "$body" >"$work/$name.lua"
  printf 'wrk.method = "GET"\n' >"$work/static.lua"
  local ours theirs
  ours=$(wrk_figures "http://127.0.0.1:$service_port$uri" "$work/$name.lua")
  theirs=$(wrk_figures "http://127.0.0.1:$nginx_port/$name.json" "$work/static.lua")
  small_rows+=("$(awk -v l="$uri" -v b="$(stat -c %s "$work/www/$name.json")" \
    -v o="$ours" -v t="$theirs" 'BEGIN {
      split(o, a, " "); split(t, n, " "); share = (n[1] > 0) ? 100 * a[1] / n[1] : 0
      printf "%-20s %7d %10.0f %8.2f %10.0f %8.2f %6.0f%% %5s %-4s",
        l, b, a[1], a[2], n[1], n[2], share, ">=40%", (share >= 40 ? "met" : "MISS") }')")
}
start_service "$repo/demo/records"
small_case /getChannelInfo '{"groupName":"North","fileName":"N_20260112_100000"}'
small_case /getFileName_list '{"groupName":"North"}'
stop_service

echo
echo "record service benchmark: $(nproc) cores, $runs runs per figure (median), ${seconds} s per load run"
echo "load average at start: $load_start; at end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "Large replies, request sent -> last reply byte (ms); floor = read .dat + minimal sender"
printf '%-34s %7s %9s %7s %7s %7s %7s %9s %8s %7s\n' case "reply MB" service "read" send floor ratio \
  target "peak MB" "limit"
for row in "${large_rows[@]}"; do echo "$row"; done
echo
echo "Small queries, wrk -c32 keep-alive; ceiling = nginx (1 worker) serving the same bytes statically"
printf '%-20s %7s %10s %8s %10s %8s %7s %10s\n' query "bytes" "req/s" "p99 ms" "nginx r/s" "p99 ms" \
  share target
for row in "${small_rows[@]}"; do echo "$row"; done
