#!/usr/bin/env bash
# Throughput through the shipped nginx site (TLS, basic sign-in, one nginx
# worker) in front of one and of two replicas over one record store, beside
# the service asked directly: small queries (wrk -c32 keep-alive) and
# answers of 43 MB (wrk -c4). Prints the table; checks nothing. Called by
# bench.sh; on its own:
#
#   scripts/bench-proxy.sh SERVICE GENERATOR [SECONDS]
#
# Every process runs where the system puts it: on two cores the replicas,
# nginx and wrk share them, as they would on a small machine.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
service_bin=$(realpath "$1")
gen=$(realpath "$2")
seconds=${3:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/comtrade_proxy_bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=ports.sh
. "$repo/scripts/ports.sh"

cp -r "$repo/demo/records" "$work/store"
"$gen" --out "$work/store/North/big" --binary --analog 4 --digital 4 --samples 1000000 --seed 5 >/dev/null
printf '[base]\nfileDir=%s\nlogDir=%s/comtrade.log\nport=8000\n' "$work/store" "$work" >"$work/ComTrade.ini"
replicas=()
for n in 1 2; do
  port=$(free_port)
  "$repo/packaging/replica-settings" "$work/ComTrade.ini" "$work/replica-$n" "$port"
  (cd "$work/replica-$n" && TAVROOT="$work/replica-$n" exec "$service_bin" >/dev/null 2>&1) &
  pids+=($!)
  replicas+=("$port")
done
fronts=()
for n in 1 2; do
  port=$(free_port)
  "$repo/tests/operations/proxy_front.sh" "$repo/packaging/nginx-site.conf" "$work/nginx-$n" "$port" \
    "${replicas[@]:0:$n}" >/dev/null
  nginx -p "$work/nginx-$n" -c "$work/nginx-$n/nginx.conf" 2>/dev/null &
  pids+=($!)
  fronts+=("$port")
done
for port in "${replicas[@]}" "${fronts[@]}"; do wait_port "$port"; done

small_body='{"groupName":"North"}'
large_body='{"groupName":"North","fileName":"big","channelList":["U1","U2","U3","U4","D1","D2","D3","D4"]}'
sign_in="Basic $(printf 'user:secret' | base64)"
for kind in small large; do
  body=small_body
  [ "$kind" = large ] && body=large_body
  printf 'wrk.method = "POST"\nwrk.body = [[%s]]\nwrk.headers["Authorization"] = "%s"\n' \
    "${!body}" "$sign_in" >"$work/$kind.lua"
done
large_bytes=$(curl -s --data-binary "$large_body" "http://127.0.0.1:${replicas[0]}/getFileInfo" | wc -c)

# "req/s MB/s" of wrk with C connections against URL, script KIND.
figures() {  # url connections kind
  wrk -t2 -c"$2" -d"${seconds}s" --timeout 30s -s "$work/$3.lua" "$1" | awk '
    /Requests\/sec:/ { rps = $2 }
    /Transfer\/sec:/ { v = $2; u = v; sub(/[0-9.]+/, "", u); sub(/[A-Za-z]+$/, "", v)
                       mb = (u == "GB") ? v * 1024 : (u == "KB") ? v / 1024 : (u == "B") ? v / 1048576 : v }
    END { printf "%s %s\n", rps, mb }'
}
row() {  # label uri connections kind
  local direct one two
  direct=$(figures "http://127.0.0.1:${replicas[0]}$2" "$3" "$4")
  one=$(figures "https://127.0.0.1:${fronts[0]}$2" "$3" "$4")
  two=$(figures "https://127.0.0.1:${fronts[1]}$2" "$3" "$4")
  awk -v l="$1" -v d="$direct" -v o="$one" -v t="$two" 'BEGIN {
    split(d, a, " "); split(o, b, " "); split(t, c, " ")
    printf "%-34s %9.0f %8.0f %9.0f %8.0f %9.0f %8.0f\n", l, a[1], a[2], b[1], b[2], c[1], c[2] }'
}
echo "Through nginx (TLS, basic sign-in, 1 worker) in front of 1 and 2 replicas, beside the service asked directly;"
echo "wrk -t2, ${seconds} s a run, all on this machine's $(nproc) cores"
printf '%-34s %9s %8s %9s %8s %9s %8s\n' case "direct/s" "MB/s" "nginx+1/s" "MB/s" "nginx+2/s" "MB/s"
row "/getFileName_list, c32" /getFileName_list 32 small
row "/getFileInfo $((large_bytes / 1000000)) MB, c4" /getFileInfo 4 large
