#!/usr/bin/env bash
# Soak and load run: starts the service on a copy of the demo records (loopback
# only, a free port, a throw-away installation root and log) and lets N
# keep-alive clients fire all four queries at it for a fixed time, beside a
# hostile mix: clients that ask for a large answer and never read it, clients
# that send a 16 MiB body one byte short and stall, and a client that asks for
# a record whose ASCII data file is 1 GiB without a line end. Prints the
# requests served, non-200 replies, malformed replies, resets and time-outs of
# the normal clients (all should be 0), what the hostile ones saw, and the
# service's resident memory: with a hostile mix its highest VmRSS should stay
# under the reply budget plus 100 MB, without one it should not grow by more
# than 10% after the warm-up. Exits 0 only when all hold.
#
#   scripts/soak.sh [-c CLIENTS] [-t SECONDS] [-w WARMUP_SECONDS] [-b SERVICE_BINARY]
#                   [-g GENERATOR] [-m BUDGET_MB] [-n NON_READERS] [-s SLOW_SENDERS]
#                   [-l LINELESS_CLIENTS]
#
# Defaults: 8 clients, 60 s after a 5 s warm-up, build/src/main/comtrade_service,
# build/tools/comtrade_gen/comtrade_gen, a reply budget of 64 MB, 8 non-readers
# (more than the budget, so large answers wait), 2 slow senders, 1 line-less
# client (-n 0 -s 0 -l 0: normal clients only).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
clients=8
seconds=60
warmup=5
binary="${COMTRADE_SERVICE_BIN:-$repo/build/src/main/comtrade_service}"
generator="$repo/build/tools/comtrade_gen/comtrade_gen"
budget_mb=64
non_readers=8
slow_senders=2
lineless=1

while getopts "c:t:w:b:g:m:n:s:l:h" option; do
  case "$option" in
    c) clients="$OPTARG" ;;
    t) seconds="$OPTARG" ;;
    w) warmup="$OPTARG" ;;
    b) binary="$OPTARG" ;;
    g) generator="$OPTARG" ;;
    m) budget_mb="$OPTARG" ;;
    n) non_readers="$OPTARG" ;;
    s) slow_senders="$OPTARG" ;;
    l) lineless="$OPTARG" ;;
    *) sed -n '2,22p' "$0"; exit 2 ;;
  esac
done

for tool in "$binary" "$generator"; do
  if [[ ! -x "$tool" ]]; then
    echo "soak: no executable at $tool (build it, or pass -b / -g)" >&2
    exit 2
  fi
done
binary="$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")"

# The demo's own settings fix port 8000 and a log inside the repository; the
# soak uses a root of its own that points at the same records.
root="$(mktemp -d)"
service_pid=""
cleanup() {
  if [[ -n "$service_pid" ]] && kill -0 "$service_pid" 2>/dev/null; then
    kill "$service_pid"
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$root"
}
trap cleanup EXIT

# The demo's stations, and one of the hostile clients' own: a record whose
# answer is about 10 MB, and an ASCII record whose data file is 1 GiB of NUL
# bytes (sparse, so it costs no disk) with no line end anywhere.
records="$root/records"
mkdir -p "$records"
cp -R "$repo/demo/records/." "$records/"
hostile_group="SoakHostile"
mkdir -p "$records/$hostile_group"
"$generator" --out "$records/$hostile_group/large" --analog 16 --digital 16 --samples 60000 \
  > /dev/null
"$generator" --out "$records/$hostile_group/lineless" --analog 1 --digital 1 --samples 10 \
  > /dev/null
rm "$records/$hostile_group/lineless.dat"
truncate -s 1G "$records/$hostile_group/lineless.dat"

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
mkdir -p "$root/cfg"
cat > "$root/cfg/ComTrade.ini" <<EOF
[base]
fileDir = $records
logDir = $root/soak.log
port = 127.0.0.1:$port
replyBudgetMB = $budget_mb
EOF

(cd "$repo/demo" && TAVROOT="$root" exec "$binary" > "$root/stdout" 2> "$root/stderr") &
service_pid=$!

for _ in $(seq 100); do
  if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null; then
    break
  fi
  if ! kill -0 "$service_pid" 2>/dev/null; then
    echo "soak: the service did not start:" >&2
    cat "$root/stderr" >&2
    exit 1
  fi
  sleep 0.1
done

echo "soak: service pid $service_pid on 127.0.0.1:$port, binary $binary"
status=0
python3 "$repo/scripts/soak_client.py" --port "$port" --pid "$service_pid" \
  --records "$records" --clients "$clients" --seconds "$seconds" \
  --warmup "$warmup" --hostile-group "$hostile_group" --budget-mb "$budget_mb" \
  --non-readers "$non_readers" --slow-senders "$slow_senders" --lineless "$lineless" \
  || status=$?

if ! kill -0 "$service_pid" 2>/dev/null; then
  ended=0
  wait "$service_pid" || ended=$?
  service_pid=""
  echo "soak: FAIL, the service ended during the run (exit status $ended; above 128 is a signal)" >&2
  status=1
fi
if [[ -s "$root/stderr" ]]; then
  echo "soak: the service wrote to standard error:" >&2
  head -50 "$root/stderr" >&2
  status=1
fi
exit "$status"
