#!/usr/bin/env bash
# Benchmarks the service end to end and prints one table: large "/getFileInfo"
# replies against their floors (reading the .dat; receiving a reply of the
# same size from a minimal sender), small queries against nginx serving a
# static file of the same size, the service's peak memory, and the viewer
# opening and zooming a large record in headless Chromium. Missed targets
# are reported in the table; the exit status is non-zero only when the
# benchmark cannot run.
#
# Settings (environment): BENCH_RUNS (requests per figure, default 5),
# BENCH_SECONDS (seconds per load run, default 5), BENCH_BUILD_DIR (default
# build-bench), BENCH_BUILD_TYPE (default Release), BENCH_REFERENCE_BIN (an
# earlier build of the service: its small-query figures, measured in the same
# run, become the targets' reference instead of the fixed figures below).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
runs=${BENCH_RUNS:-5}
seconds=${BENCH_SECONDS:-5}
build=${BENCH_BUILD_DIR:-build-bench}
build_type=${BENCH_BUILD_TYPE:-Release}

# What the build needs, and the load client and the static-file ceiling,
# which nothing else needs.
./scripts/install-deps.sh wrk nginx
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
cmake --build "$build" -j "$(nproc)" --target comtrade_service comtrade_gen_tool service_bench counting_bench >/dev/null
service_bin=$(cd "$build" && pwd)/src/main/comtrade_service
gen=$build/tools/comtrade_gen/comtrade_gen
sb=$build/bench/service_bench

work=$(mktemp -d "${TMPDIR:-/tmp}/comtrade_bench.XXXXXX")
service_pid=""
nginx_pid=""
calls_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; fi
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; fi
  if [ -n "$calls_pid" ]; then kill "$calls_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The large cases leave thread placement to the system. The small queries
# are compared between servers measured one after another, and whether the
# scheduler happens to put the load client on the server's core moves a
# figure by half (a wake-up across cores is dear on this machine kind), so
# there every server runs on the first core and the client on the second.
server_cpu=()
client_cpu=()

# shellcheck source=ports.sh
. "$repo/scripts/ports.sh"

# Starts a fresh service (so that its peak memory belongs to one case) on the
# record root $1; sets service_pid and service_port.
start_service() {
  service_port=$("$sb" free-port)
  rm -rf "$work/root"
  mkdir -p "$work/root/cfg" "$work/root/log"
  printf '[base]\nlogDir=%s\nport=%s\nfileDir=%s\n' \
    "$work/root/log/service.log" "$service_port" "$1" >"$work/root/cfg/ComTrade.ini"
  (cd "$work/root" && TAVROOT="$work/root" exec "${server_cpu[@]}" "$service_bin" >"$work/root/log/stdout.txt" 2>&1) &
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
for format in ascii binary binary32 float32; do
  "$gen" --out "$records/bench/${format}_1m" --format "$format" --analog 8 --digital 16 --samples 1000000 >/dev/null
  "$gen" --out "$records/bench/${format}_200k" --format "$format" --analog 64 --digital 128 \
    --samples 200000 >/dev/null
done
# 100,000 samples of 1A+1D, each at a rate line of its own.
"$gen" --out "$records/bench/binary_rates" --format binary --analog 1 --digital 1 --samples 100000 >/dev/null
awk 'NR == 6 { print "100000\r"; next }
     NR == 7 { for (i = 1; i <= 100000; i++) printf "%d,%d\r\n", 1000 * (4 + i % 3), i; next }
     { print }' "$records/bench/binary_rates.cfg" >"$records/bench/binary_rates.tmp"
mv "$records/bench/binary_rates.tmp" "$records/bench/binary_rates.cfg"

names() {  # names A D: "U1",...,"UA","D1",...,"DD"
  local list=() i
  for ((i = 1; i <= $1; i++)); do list+=("\"U$i\""); done
  for ((i = 1; i <= $2; i++)); do list+=("\"D$i\""); done
  local IFS=,
  echo "${list[*]}"
}
# The records just written are still being flushed to disk; measured meanwhile,
# the first cases would share the machine with the writeback.
sync

few=$(names 4 2)
all=$(names 64 128)

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
large_rows=()
repeat_rows=()
# Median of the numbers given, by service_bench's rule (the upper middle one).
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int(NR / 2) + 1] }'; }
# This machine kind's speed drifts by tens of percent within minutes, so a
# 32-bit row asks for its record and for the BINARY record of the same shape
# in turn, in the same service, and compares the medians of the two.
large_case() {  # label record channel-list target (a ratio to the floor, or "B<shape>")
  local label=$1 record=$2 list=$3 target=$4
  echo "measuring $label ..." >&2
  local body="{\"groupName\":\"bench\",\"fileName\":\"$record\",\"channelList\":[$list]}"
  local binary_body="" reference=""
  case $target in
    B*) binary_body="{\"groupName\":\"bench\",\"fileName\":\"binary_${target#B}\",\"channelList\":[$list]}" ;;
  esac
  start_service "$records"
  local asked
  asked=$("$sb" ask "$service_port" /getFileInfo "$body" 1)  # the files into the page cache
  [ -z "$binary_body" ] || "$sb" ask "$service_port" /getFileInfo "$binary_body" 1 >/dev/null
  local bytes
  bytes=$(field "$asked" bytes)
  [ "$(field "$asked" ok)" = 1 ] || echo "bench: $label: the reply is not a success answer" >&2
  local ms
  if [ -z "$binary_body" ]; then
    ms=$(field "$("$sb" ask "$service_port" /getFileInfo "$body" "$runs")" ms)
  else
    local service_runs=() binary_runs=() run
    for ((run = 0; run < runs; run++)); do
      service_runs+=("$(field "$("$sb" ask "$service_port" /getFileInfo "$body" 1)" ms)")
      binary_runs+=("$(field "$("$sb" ask "$service_port" /getFileInfo "$binary_body" 1)" ms)")
    done
    ms=$(median "${service_runs[@]}")
    reference=$(median "${binary_runs[@]}")
  fi
  # The same request 15 times in a row: the slowest against the median.
  local repeated
  repeated=$("$sb" ask "$service_port" /getFileInfo "$body" 15)
  repeat_rows+=("$(awk -v l="$label" -v m="$(field "$repeated" ms)" -v x="$(field "$repeated" max_ms)" 'BEGIN {
      printf "%-34s %9.1f %9.1f %6.2fx %-8s %-4s", l, m, x, x / m, "<=1.5x", (x <= 1.5 * m ? "met" : "MISS") }')")
  local hwm_kb
  hwm_kb=$(awk '/^VmHWM/ { print $2 }' "/proc/$service_pid/status")
  stop_service
  local read_ms send_ms binary_read_ms=""
  read_ms=$(field "$("$sb" read "$records/bench/$record.dat" "$runs")" ms)
  send_ms=$(field "$("$sb" floor "$bytes" "$runs")" ms)
  [ -z "$binary_body" ] || binary_read_ms=$(field "$("$sb" read "$records/bench/binary_${target#B}.dat" "$runs")" ms)
  # A 32-bit record's file is larger than the BINARY one of its shape, so
  # the two are compared by their ratios to their own floors.
  large_rows+=("$(awk -v l="$label" -v b="$bytes" -v ms="$ms" -v r="$read_ms" -v s="$send_ms" \
    -v t="$target" -v ref="$reference" -v br="$binary_read_ms" -v h="$hwm_kb" 'BEGIN {
      mb = b / 1e6; floor = r + s; ratio = ms / floor; rss = h / 1024 * 1.048576
      limit = 1.3 * mb + 30
      if (ref != "") { bin = ref / (br + s); goal = sprintf("<=1.05xBIN %.2fx", bin); met = (ratio <= 1.05 * bin) }
      else { goal = "<=" t "x"; met = (ratio <= t) }
      printf "%-34s %7.1f %9.1f %7.1f %7.1f %7.1f %6.2fx %-17s %-4s %8.1f %7.1f %-4s",
        l, mb, ms, r, s, floor, ratio, goal, (met ? "met" : "MISS"),
        rss, limit, (rss <= limit ? "met" : "MISS") }')")
}
large_case "BINARY   1M x 8A+16D, 4A+2D" binary_1m "$few" 1.6
large_case "BINARY32 1M x 8A+16D, 4A+2D" binary32_1m "$few" B1m
large_case "FLOAT32  1M x 8A+16D, 4A+2D" float32_1m "$few" B1m
large_case "ASCII    1M x 8A+16D, 4A+2D" ascii_1m "$few" 2.8
large_case "BINARY   200k x 64A+128D, all" binary_200k "$all" 3
large_case "BINARY32 200k x 64A+128D, all" binary32_200k "$all" B200k
large_case "FLOAT32  200k x 64A+128D, all" float32_200k "$all" B200k
large_case "ASCII    200k x 64A+128D, all" ascii_200k "$all" 4

# Waveforms: 2000 buckets of 4A+2D, the whole record and a 1% window, against
# reading the bytes the reader has to read (the window's records of a binary
# file, an ASCII file up to the window's end).
wave_rows=()
wave_case() {  # label record from to read-offset read-length target
  local label=$1 record=$2 from=$3 to=$4 offset=$5 length=$6 target=$7
  echo "measuring $label ..." >&2
  local body="{\"groupName\":\"bench\",\"fileName\":\"$record\",\"channelList\":[$few],\"from\":$from,\"to\":$to,\"points\":2000}"
  start_service "$records"
  "$sb" ask "$service_port" /getWaveform "$body" 1 >/dev/null
  local asked read_ms
  asked=$("$sb" ask "$service_port" /getWaveform "$body" "$runs")
  stop_service
  read_ms=$(field "$("$sb" read "$records/bench/$record.dat" "$runs" "$offset" "$length")" ms)
  wave_rows+=("$(awk -v l="$label" -v b="$(field "$asked" bytes)" -v ms="$(field "$asked" ms)" \
    -v r="$read_ms" -v t="$target" 'BEGIN {
      ratio = ms / r; kb = b / 1000
      if (t ~ /ms$/) { goal = "<" t; met = (ms < t + 0) } else if (t == "-") { goal = "-"; met = -1 }
      else { goal = "<=" t "x"; met = (ratio <= t) }
      printf "%-34s %8.1f %9.2f %8.2f %7.2fx %-9s %-4s %-4s",
        l, kb, ms, r, ratio, goal, (met < 0 ? "" : met ? "met" : "MISS"), (kb < 200 ? "met" : "MISS") }')")
}
bin_record=$((8 + 2 * 8 + 2))
asc_size=$(stat -c %s "$records/bench/ascii_1m.dat")
wave_case "BINARY 1M x 8A+16D, whole" binary_1m 0 1000000 0 0 3
wave_case "BINARY 1M x 8A+16D, 1% window" binary_1m 500000 510000 $((500000 * bin_record)) \
  $((10000 * bin_record)) 2ms
wave_case "ASCII  1M x 8A+16D, whole" ascii_1m 0 1000000 0 0 -
wave_case "ASCII  1M x 8A+16D, 1% window" ascii_1m 500000 510000 0 $((asc_size * 51 / 100)) -
# A rate line per sample: every bucket time must not walk all the segments.
wave_case "BINARY 100k x 1A+1D, a rate line each" binary_rates 0 100000 0 0 10ms

# Analysis queries over the whole 1M record, against reading the bytes the
# reader has to read (for BINARY phasors, only the cycles at the points).
analysis_rows=()
analysis_case() {  # label uri record members target
  local label=$1 uri=$2 record=$3 members=$4 target=$5
  echo "measuring $label ..." >&2
  local body="{\"groupName\":\"bench\",\"fileName\":\"$record\",$members}"
  start_service "$records"
  "$sb" ask "$service_port" "$uri" "$body" 1 >/dev/null
  local asked read_ms
  asked=$("$sb" ask "$service_port" "$uri" "$body" "$runs")
  stop_service
  read_ms=$(field "$("$sb" read "$records/bench/$record.dat" "$runs")" ms)
  analysis_rows+=("$(awk -v l="$label" -v b="$(field "$asked" bytes)" -v ms="$(field "$asked" ms)" \
    -v r="$read_ms" -v t="$target" 'BEGIN {
      ratio = ms / r; kb = b / 1000
      if (t ~ /ms$/) { goal = "<" t; met = (ms < t + 0) } else { goal = "<=" t "x"; met = (ratio <= t) }
      printf "%-34s %8.1f %9.2f %8.2f %7.2fx %-9s %-4s", l, kb, ms, r, ratio, goal, (met ? "met" : "MISS") }')")
}
phasor_members='"channelList":["U1","U2","U3","U4"],"points":2000'
event_members="\"channelList\":[$(names 0 16)]"
analysis_case "phasors BINARY 1M, 4A in 2000 points" /getPhasors binary_1m "$phasor_members" 10ms
analysis_case "phasors ASCII  1M, 4A in 2000 points" /getPhasors ascii_1m "$phasor_members" 1.5
analysis_case "events  BINARY 1M, 16 status" /getEvents binary_1m "$event_members" 2
analysis_case "events  ASCII  1M, 16 status" /getEvents ascii_1m "$event_members" 2

# Exports of a 10% window of 4A+2D, against receiving as many bytes from a
# minimal sender.
export_case() {  # label record format
  local label=$1 record=$2 format=$3
  echo "measuring $label ..." >&2
  local body="{\"groupName\":\"bench\",\"fileName\":\"$record\",\"channelList\":[$few],\"from\":450000,\"to\":550000,\"format\":\"$format\"}"
  start_service "$records"
  "$sb" ask "$service_port" /exportRecord "$body" 1 >/dev/null
  local asked send_ms
  asked=$("$sb" ask "$service_port" /exportRecord "$body" "$runs")
  stop_service
  send_ms=$(field "$("$sb" floor "$(field "$asked" bytes)" "$runs")" ms)
  analysis_rows+=("$(awk -v l="$label" -v b="$(field "$asked" bytes)" -v ms="$(field "$asked" ms)" \
    -v r="$send_ms" 'BEGIN {
      ratio = ms / r; kb = b / 1000
      printf "%-34s %8.1f %9.2f %8.2f %7.2fx %-9s %-4s", l, kb, ms, r, ratio, "<=2x", (ratio <= 2 ? "met" : "MISS") }')")
}
export_case "export BINARY 10% as .cff" binary_1m cff
export_case "export ASCII  10% as .cff" ascii_1m cff
export_case "export BINARY 10% as CSV" binary_1m csv

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
if [ "$(nproc)" -ge 2 ]; then
  server_cpu=(taskset -c 0)
  client_cpu=(taskset -c 1)
fi
"${server_cpu[@]}" "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>/dev/null &
nginx_pid=$!
wait_port "$nginx_port"

# "requests/s p99-ms" of a wrk run against URL $1 with Lua script $2. The
# log written by the run before (tens of megabytes a second) is flushed
# first, so that its write-back does not fall on this run.
wrk_figures() {
  sync
  "${client_cpu[@]}" wrk -t1 -c32 -d"${seconds}s" --latency -s "$2" "$1" | awk '
    /Requests\/sec:/ { rps = $2 }
    $1 == "99%" { v = $2; u = v; sub(/[0-9.]+/, "", u); sub(/[a-z]+$/, "", v)
                  ms = (u == "us") ? v / 1000 : (u == "s") ? v * 1000 : v }
    END { printf "%s %s\n", rps, ms }'
}

# The small queries' targets: twice the requests per second of the service
# before this round of work (its figures on this machine kind: 11,300 and
# 17,600), or of BENCH_REFERENCE_BIN measured here, with a p99 no worse.
declare -A reference_rps=([/getChannelInfo]=11300 [/getFileName_list]=17600)
declare -A reference_p99=()
declare -A measured_rps=()
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
  measured_rps[$uri]=${ours%% *}
  small_rows+=("$(awk -v l="$uri" -v b="$(stat -c %s "$work/www/$name.json")" \
    -v o="$ours" -v t="$theirs" -v rr="${reference_rps[$uri]}" -v rp="${reference_p99[$uri]:-}" 'BEGIN {
      split(o, a, " "); split(t, n, " "); share = (n[1] > 0) ? 100 * a[1] / n[1] : 0
      met = (a[1] >= 2 * rr) && (rp == "" || a[2] <= rp)
      goal = ">=" int(2 * rr) (rp == "" ? "" : sprintf(", p99<=%.2f", rp))
      printf "%-20s %7d %10.0f %8.2f %10.0f %8.2f %6.0f%% %-24s %-4s",
        l, b, a[1], a[2], n[1], n[2], share, goal, (met ? "met" : "MISS") }')")
}
if [ -n "${BENCH_REFERENCE_BIN:-}" ]; then
  echo "measuring the reference build ..." >&2
  saved_bin=$service_bin
  service_bin=$BENCH_REFERENCE_BIN
  start_service "$repo/demo/records"
  for uri in /getChannelInfo /getFileName_list; do
    case $uri in
      /getChannelInfo) body='{"groupName":"North","fileName":"N_20260112_100000"}' ;;
      *) body='{"groupName":"North"}' ;;
    esac
    printf 'wrk.method = "POST"\nwrk.body = [[%s]]\n' "$body" >"$work/reference.lua"
    read -r rps p99 <<<"$(wrk_figures "http://127.0.0.1:$service_port$uri" "$work/reference.lua")"
    reference_rps[$uri]=$rps
    reference_p99[$uri]=$p99
  done
  stop_service
  service_bin=$saved_bin
fi
start_service "$repo/demo/records"
small_case /getChannelInfo '{"groupName":"North","fileName":"N_20260112_100000"}'
small_case /getFileName_list '{"groupName":"North"}'
stop_service

# The ceiling of any file list that behaves as specified: a server making the
# system calls the query must make for this station (a size query and a write
# per log line: one before the settings are read, one for the count, one per
# record, one for the answer), and nothing else.
echo "measuring the file list's system calls alone ..." >&2
records_listed=$(sed -E 's/.*"fileName_list":\[([^]]*)\].*/\1/' "$work/www/getFileName_list.json" | awk -F, '{ print NF }')
calls_port=$("$sb" free-port)
"${server_cpu[@]}" "$sb" calls "$calls_port" "$work/www/getFileName_list.json" "$work/root/log/calls.log" \
  "$work/root/cfg/ComTrade.ini" "$repo/demo/records/North" $((records_listed + 3)) >"$work/root/log/calls.txt" &
calls_pid=$!
wait_port "$calls_port"
read -r calls_rps calls_p99 <<<"$(wrk_figures "http://127.0.0.1:$calls_port/getFileName_list" "$work/getFileName_list.lua")"
kill "$calls_pid" 2>/dev/null || true
wait "$calls_pid" 2>/dev/null || true
calls_pid=""
calls_row=$(awk -v r="$calls_rps" -v p="$calls_p99" -v ref="${reference_rps[/getFileName_list]}" \
  -v s="${measured_rps[/getFileName_list]}" 'BEGIN {
  share = (r > 0) ? 100 * s / r : 0
  printf "File list, its specified system calls alone (no parsing, no formatting): %.0f req/s, p99 %.2f ms, %.2fx the reference;\n", r, p, r / ref
  printf "the service answers %.0f%% of that rate (target >=80%%: %s)", share, (share >= 80 ? "met" : "MISS") }')

# What counting for the metrics adds to each request, beside the time a
# small query takes at the rate measured above.
counting_ns=$("$build/bench/counting_bench" | awk '{ print $2 }')
list_rps=$(awk '$1 == "/getFileName_list" { print $3 }' <<<"${small_rows[1]}")
counting_row=$(awk -v ns="$counting_ns" -v r="$list_rps" 'BEGIN {
  printf "Counting for the metrics: %d ns a request, %.2f%% of a /getFileName_list answer at %.0f req/s", ns, ns * r / 1e7, r }')

echo "measuring through nginx ..." >&2
proxy_rows=$(timeout 600 "$repo/scripts/bench-proxy.sh" "$service_bin" "$gen" "$seconds") ||
  proxy_rows="nginx in front: the benchmark failed"

# The viewer in headless Chromium: opening a 1,000,000-sample record and one
# zoom, measured in the page. Bounded, and left out where the browser test's
# packages are missing.
viewer_rows="viewer: not measured (needs chromium, chromium-driver and python3-selenium)"
if [ -x /usr/bin/chromium ] && [ -x /usr/bin/chromedriver ] && /usr/bin/python3 -c 'import selenium' 2>/dev/null; then
  echo "measuring the viewer in the browser ..." >&2
  viewer_rows=$(timeout 600 /usr/bin/python3 "$repo/tests/browser/viewer_bench.py" --service "$service_bin" \
    --gen "$gen" --runs "$((runs < 5 ? 5 : runs))") || viewer_rows="viewer: the browser benchmark failed"
fi

echo
echo "record service benchmark: $(nproc) cores, $runs runs per figure (median), ${seconds} s per load run"
echo "load average at start: $load_start; at end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "Large replies, request sent -> last reply byte (ms); floor = read .dat + minimal sender;"
echo "BIN = the BINARY record of the same shape, asked in turn with the row's record: its ratio to its own floor"
printf '%-34s %7s %9s %7s %7s %7s %7s %-22s %8s %7s\n' case "reply MB" service "read" send floor ratio \
  target "peak MB" "limit"
for row in "${large_rows[@]}"; do echo "$row"; done
echo
echo "The same large replies, 15 requests in a row: median and slowest (ms)"
printf '%-34s %9s %9s %7s %s\n' case median slowest ratio target
for row in "${repeat_rows[@]}"; do echo "$row"; done
echo
echo "Waveforms of 4A+2D in 2000 buckets, request sent -> last reply byte (ms); floor = reading the bytes read"
printf '%-34s %8s %9s %8s %8s %-14s %s\n' case "reply KB" service "read" ratio target "<200 KB"
for row in "${wave_rows[@]}"; do echo "$row"; done
echo
echo "Analysis queries over the whole record and exports of a 10% window, request sent -> last reply byte (ms);"
echo "floor = reading the .dat (exports: receiving as many bytes from a minimal sender)"
printf '%-34s %8s %9s %8s %8s %s\n' case "reply KB" service "read" ratio target
for row in "${analysis_rows[@]}"; do echo "$row"; done
echo
echo "Small queries, wrk -c32 keep-alive; ceiling = nginx (1 worker) serving the same bytes statically"
printf '%-20s %7s %10s %8s %10s %8s %7s %s\n' query "bytes" "req/s" "p99 ms" "nginx r/s" "p99 ms" \
  share target
for row in "${small_rows[@]}"; do echo "$row"; done
echo
echo "$calls_row"
echo "$counting_row"
echo
echo "$proxy_rows"
echo
echo "$viewer_rows"
