#!/usr/bin/env bash
# Installs every Debian package the service, its tests and its tools need,
# and the packages named on the command line (the benchmark's own).
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  libjsoncpp-dev libinih-dev libboost-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  curl python3 nodejs
  chromium chromium-driver python3-selenium python3-numpy libjs-dygraphs fonts-wqy-microhei
  prometheus-cpp-dev prometheus
  dpkg-dev file lintian nginx openssl
  "$@"
)
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
