#!/usr/bin/env bash
# Soak and load run: starts the service on the demo records (loopback only, a
# free port, a throw-away installation root and log) and lets N keep-alive
# clients fire all four queries at it for a fixed time. Prints the requests
# served, non-200 replies, malformed replies, resets and time-outs (all
# should be 0) and the service's resident memory after the warm-up and at
# the end (should not grow by more than 10%). Exits 0 only when all hold.
#
#   scripts/soak.sh [-c CLIENTS] [-t SECONDS] [-w WARMUP_SECONDS] [-b SERVICE_BINARY]
#
# Defaults: 8 clients, 60 s after a 5 s warm-up, build/src/main/comtrade_service.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
clients=8
seconds=60
warmup=5
binary="${COMTRADE_SERVICE_BIN:-$repo/build/src/main/comtrade_service}"

while getopts "c:t:w:b:h" option; do
  case "$option" in
    c) clients="$OPTARG" ;;
    t) seconds="$OPTARG" ;;
    w) warmup="$OPTARG" ;;
    b) binary="$OPTARG" ;;
    *) sed -n '2,12p' "$0"; exit 2 ;;
  esac
done

if [[ ! -x "$binary" ]]; then
  echo "soak: no service binary at $binary (build it, or pass -b)" >&2
  exit 2
fi
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

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
mkdir -p "$root/cfg"
cat > "$root/cfg/ComTrade.ini" <<EOF
[base]
fileDir = $repo/demo/records
logDir = $root/soak.log
port = 127.0.0.1:$port
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
  --records "$repo/demo/records" --clients "$clients" --seconds "$seconds" \
  --warmup "$warmup" || status=$?

if ! kill -0 "$service_pid" 2>/dev/null; then
  echo "soak: FAIL, the service ended during the run" >&2
  status=1
fi
if [[ -s "$root/stderr" ]]; then
  echo "soak: the service wrote to standard error:" >&2
  head -50 "$root/stderr" >&2
  status=1
fi
exit "$status"
