#!/usr/bin/env bash
# Checks the Debian package the way an operator meets it, without installing
# it (a real dpkg -i would add a user and touch systemd on this machine): the
# control data, the file list, lintian, the unit file, and then the packaged
# binary and settings started from an extracted tree and asked one query of
# each kind.
#
#   tests/package/package_test.sh [DEB]
#
# Without DEB it builds the package with scripts/package.sh first. The record
# generator of the plain build (build/, or COMTRADE_GEN) makes the record.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$repo"
gen="${COMTRADE_GEN:-$repo/build/tools/comtrade_gen/comtrade_gen}"
if [ ! -x "$gen" ]; then
  echo "package_test: no record generator at $gen (build build/ first)" >&2
  exit 2
fi
deb="${1:-}"
if [ -z "$deb" ]; then deb="$(./scripts/package.sh)"; fi

work="$(mktemp -d)"
service_pid=""
cleanup() {
  if [ -n "$service_pid" ] && kill -0 "$service_pid" 2>/dev/null; then
    kill "$service_pid"
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   - $1"; }
fail() { failed=$((failed + 1)); echo "FAIL - $1${2:+: $2}"; }
# check NAME COMMAND...: one result line; a failing command's output follows.
check() {
  local name="$1" out
  shift
  if out="$("$@" 2>&1)"; then pass "$name"; else fail "$name" "$out"; fi
}

# Control data --------------------------------------------------------------
version="$(sed -n 's/^project(comtrade_service VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
arch="$(dpkg --print-architecture)"
field() { dpkg-deb -f "$deb" "$1"; }
check "file name is comtrade-service_${version}_${arch}.deb" \
  test "$(basename "$deb")" = "comtrade-service_${version}_${arch}.deb"
check "control names the package and version" \
  test "$(field Package) $(field Version)" = "comtrade-service $version"

depends="$(field Depends)"
depends_ok() {
  local need
  # The runtime packages of the linked libraries, the user tool of the
  # maintainer scripts and the viewer's chart library; never a -dev package.
  for need in 'libjsoncpp[0-9]' 'libinireader[0-9]' 'libstdc\+\+6' 'libc6' \
    'libjs-dygraphs' 'adduser'; do
    grep -Eq "(^|, )$need" <<<"$depends" || { echo "missing $need in: $depends"; return 1; }
  done
  if grep -Eq -- '-dev( |,|$)' <<<"$depends"; then echo "a -dev package in: $depends"; return 1; fi
}
check "Depends holds the runtime packages" depends_ok

conffiles_ok() {
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles > "$work/conffiles"
  grep -qx /etc/comtrade-service/cfg/ComTrade.ini "$work/conffiles" || { cat "$work/conffiles"; return 1; }
}
check "the settings are a conffile" conffiles_ok

# File list -----------------------------------------------------------------
dpkg-deb -c "$deb" > "$work/contents"
# systemd's unit folder is /lib/systemd/system on older releases and
# /usr/lib/systemd/system on newer ones; the build asks systemd which.
unit_path="$(awk '{ print $6 }' "$work/contents" |
  grep -Ex '\./(usr/)?lib/systemd/system/comtrade-service\.service' || true)"
files_ok() {
  local path
  for path in ./usr/bin/comtrade_service ./etc/comtrade-service/cfg/ComTrade.ini \
    ./usr/share/doc/comtrade-service/copyright ./usr/share/doc/comtrade-service/changelog.gz; do
    awk '{ print $6 }' "$work/contents" | grep -qx -- "$path" || { echo "missing $path"; return 1; }
  done
  [ -n "$unit_path" ] || { echo "no comtrade-service.service in a systemd unit folder"; return 1; }
  # The records and the log are the machine's, made by postinst: nothing
  # under /var, and nothing owned by anyone but root.
  if awk '$6 ~ /^\.\/var\// || $2 != "root/root"' "$work/contents" | grep .; then return 1; fi
}
check "file list: binary, settings, unit, docs; no /var, all root-owned" files_ok

viewer_ok() {
  local file
  for file in "$repo"/web/viewer/*; do
    grep -q "./usr/share/comtrade-service/viewer/$(basename "$file")\$" "$work/contents" ||
      { echo "missing viewer file $(basename "$file")"; return 1; }
  done
}
if compgen -G "$repo/web/viewer/*" > /dev/null; then
  check "the viewer's files are under /usr/share/comtrade-service/viewer" viewer_ok
else
  echo "skip - viewer files: web/viewer is not in this tree yet"
fi

# lintian -------------------------------------------------------------------
# Root is what CI runs as; lintian only warns about it.
lintian --fail-on error --no-tag-display-limit "$deb" > "$work/lintian" 2> "$work/lintian.err" &&
  lintian_rc=0 || lintian_rc=$?
echo "lintian: $(grep -c '^E:' "$work/lintian" || true) errors," \
  "$(grep -c '^W:' "$work/lintian" || true) warnings"
sed 's/^/  /' "$work/lintian"
check "lintian reports no errors" test "$lintian_rc" -eq 0

# The extracted tree ----------------------------------------------------------
tree="$work/tree"
dpkg-deb -x "$deb" "$tree"
unit="$tree/${unit_path#./}"
unit_value() { sed -n "s/^$1=//p" "$unit"; }

unit_ok() {
  # The unit must name what the package ships and what postinst creates.
  local exec root user
  exec="$(unit_value ExecStart)"
  root="$(unit_value Environment | sed -n 's/^TAVROOT=//p')"
  user="$(unit_value User)"
  [ -x "$tree$exec" ] || { echo "ExecStart $exec is not in the package"; return 1; }
  [ -f "$tree$root/cfg/ComTrade.ini" ] || { echo "TAVROOT $root holds no cfg/ComTrade.ini"; return 1; }
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst | grep -q "^user=$user\$" ||
    { echo "postinst does not create user $user"; return 1; }
  [ "$(unit_value Restart)" = on-failure ] || { echo "Restart is not on-failure"; return 1; }
}
check "unit runs the packaged binary as the packaged user on the packaged root" unit_ok

if command -v systemd-analyze > /dev/null; then
  # Verification wants ExecStart to exist on this machine; the copy points it
  # at the extracted binary. The tool exits 0 on unknown keys, so any output
  # is a failure.
  verify_ok() {
    sed "s|^ExecStart=|ExecStart=$tree|" "$unit" > "$work/comtrade-service.service"
    local out
    out="$(systemd-analyze verify --man=no "$work/comtrade-service.service" 2>&1)" || { echo "$out"; return 1; }
    [ -z "$out" ] || { echo "$out"; return 1; }
  }
  check "systemd-analyze verify accepts the unit" verify_ok
else
  echo "skip - systemd-analyze verify: no systemd-analyze here"
fi

# Replicas and the proxy --------------------------------------------------------
template="$tree/$(dirname "${unit_path#./}")/comtrade-service@.service"
template_ok() {
  [ -f "$template" ] || { echo "no comtrade-service@.service beside the unit"; return 1; }
  local pre script
  pre="$(sed -n 's/^ExecStartPre=//p' "$template")"
  script="${pre%% *}"
  [ -x "$tree$script" ] || { echo "ExecStartPre $script is not in the package"; return 1; }
  # The replica's settings: the shared ones on 127.0.0.1:PORT, a log of its own.
  "$tree$script" "$tree/etc/comtrade-service/cfg/ComTrade.ini" "$work/replica" 8001
  grep -qx 'port=127.0.0.1:8001' "$work/replica/cfg/ComTrade.ini" || { echo "replica port not set"; return 1; }
  grep -q '^logDir=.*-8001\.log$' "$work/replica/cfg/ComTrade.ini" || { echo "replica log not its own"; return 1; }
  grep -q '^Environment=TAVROOT=/run/comtrade-service-%i$' "$template" || { echo "TAVROOT is not per replica"; return 1; }
}
check "the template unit runs one replica a port with settings of its own" template_ok
check "the packaged settings listen on 127.0.0.1 only" \
  grep -qx 'port=127.0.0.1:8000' "$tree/etc/comtrade-service/cfg/ComTrade.ini"
if command -v systemd-analyze > /dev/null; then
  template_verify_ok() {
    sed -e "s|^ExecStart=|ExecStart=$tree|" -e "s|^ExecStartPre=|ExecStartPre=$tree|" "$template" \
      > "$work/comtrade-service@8001.service"
    local out
    out="$(systemd-analyze verify --man=no "$work/comtrade-service@8001.service" 2>&1)" || { echo "$out"; return 1; }
    [ -z "$out" ] || { echo "$out"; return 1; }
  }
  check "systemd-analyze verify accepts a replica of the template" template_verify_ok
fi
site="$tree/usr/share/comtrade-service/nginx/comtrade-service.conf"
if command -v nginx > /dev/null && command -v openssl > /dev/null; then
  # The real nginx reads the shipped site, with a certificate and a password
  # file made here in place of the ones an operator fills in.
  site_ok() {
    [ -f "$site" ] || { echo "no nginx site in the package"; return 1; }
    tests/operations/proxy_front.sh "$site" "$work/nginx" 18443 8001 8002 > /dev/null
    nginx -t -q -p "$work/nginx" -c "$work/nginx/nginx.conf"
  }
  check "nginx accepts the shipped site" site_ok
else
  echo "skip - nginx site: no nginx or openssl here"
fi

# The packaged binary with the packaged settings, pointed at a temporary
# record root, log and port.
settings="$tree/etc/comtrade-service/cfg/ComTrade.ini"
records="$work/records"
mkdir -p "$records/Station" "$work/state" "$work/root/cfg"
"$gen" --out "$records/Station/rec_1" --analog 3 --digital 2 --samples 400 --seed 7 > /dev/null
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
sed -e "s|^fileDir=.*|fileDir=$records|" -e "s|^logDir=.*|logDir=$work/comtrade.log|" \
  -e "s|^port=.*|port=127.0.0.1:$port|" "$settings" > "$work/root/cfg/ComTrade.ini"
check "packaged settings name fileDir, logDir and port" \
  test "$(grep -cE '^(fileDir|logDir|port)=' "$settings")" -eq 3

(cd "$work/state" && TAVROOT="$work/root" exec "$tree/usr/bin/comtrade_service" \
  > "$work/stdout" 2> "$work/stderr") &
service_pid=$!
started=0
for _ in $(seq 100); do
  if (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; then started=1; break; fi
  kill -0 "$service_pid" 2> /dev/null || break
  sleep 0.05
done
if [ "$started" -eq 1 ]; then
  pass "the extracted binary starts on the packaged settings"
  ask() { curl -s --max-time 10 "http://127.0.0.1:$port$1" --data-binary "$2"; }
  answer_has() {  # URI BODY TEXT...
    local reply text
    reply="$(ask "$1" "$2")"
    shift 2
    for text in "$@"; do
      grep -qF -- "$text" <<<"$reply" || { echo "no $text in: ${reply:0:300}"; return 1; }
    done
  }
  check "/getFileName_list lists the record" answer_has /getFileName_list \
    '{"groupName":"Station"}' '"fileName_list":["rec_1"]' '"result":200'
  check "/getChannelInfo reads its header" answer_has /getChannelInfo \
    '{"groupName":"Station","fileName":"rec_1"}' '"samp_count":400' '"result":200'
  check "/getFileInfo sends the samples" answer_has /getFileInfo \
    '{"groupName":"Station","fileName":"rec_1","channelList":["U1","D1"]}' \
    '{"comDataList":[["' '"result" : 200}'
  check "/getGroupFile_list acknowledges" answer_has /getGroupFile_list \
    '{"type":"all"}' '"result":200'
  check "the log is written where the settings say" test -s "$work/comtrade.log"
  viewer_status="$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 "http://127.0.0.1:$port/viewer" || true)"
  if [ "$viewer_status" = 200 ]; then
    pass "/viewer answers 200 from the packaged files"
  else
    echo "skip - /viewer: this build does not serve it yet"
  fi
else
  fail "the extracted binary starts on the packaged settings" "$(cat "$work/stdout" "$work/stderr")"
fi

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
