#!/usr/bin/env bash
# A real Prometheus promtool accepts what /metrics exposes, before and after
# requests, and the counters move as requests are made.
# Usage: metrics_promtool.sh SERVICE_BINARY DEMO_DIR
set -euo pipefail
service_bin=$1
demo=$2
work=$(mktemp -d)
service_pid=""
cleanup() {
  [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -r "$demo/cfg" "$demo/records" "$work/"
mkdir -p "$work/log"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -i "s/^port *=.*/port = $port/" "$work/cfg/ComTrade.ini"
(cd "$work" && TAVROOT="$work" exec timeout 60 "$service_bin" >/dev/null 2>&1) &
service_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$port/healthz" && break
  sleep 0.1
done
url="http://127.0.0.1:$port"
curl -s --max-time 5 "$url/metrics" >"$work/before.txt"
promtool check metrics <"$work/before.txt"
for _ in 1 2 3; do
  curl -s --max-time 5 -o /dev/null "$url/getFileName_list" -d '{"groupName":"North"}'
done
curl -s --max-time 5 -o /dev/null "$url/getFileInfo" -d '{"groupName":"North","fileName":"line_test","channelList":["U1"]}'
curl -s --max-time 5 -o /dev/null "$url/viewer"
curl -s --max-time 5 "$url/metrics" >"$work/after.txt"
promtool check metrics <"$work/after.txt"
value() { awk -v name="$1" '$1 == name { print $2 }' "$2"; }
sent_before=$(value comtrade_sent_bytes_total "$work/before.txt")
sent_after=$(value comtrade_sent_bytes_total "$work/after.txt")
listed=$(value 'comtrade_requests_total{result="200",uri="/getFileName_list"}' "$work/after.txt")
viewer=$(value 'comtrade_requests_total{result="http_200",uri="/viewer"}' "$work/after.txt")
echo "sent bytes $sent_before -> $sent_after; file lists $listed; viewer pages $viewer"
awk -v b="$sent_before" -v a="$sent_after" 'BEGIN { exit !(a > b + 10000) }'
[ "$listed" = 3 ] && [ "$viewer" = 1 ]
echo "ok - promtool accepts the metrics and the counters follow the requests"
