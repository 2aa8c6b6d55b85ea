#!/usr/bin/env bash
# Regenerates demo/records: two stations of small generated records, one
# station and several channel names in GBK bytes, one record with upper-case
# .CFG/.DAT names. The records are deterministic (fixed seeds).
# Usage: scripts/make-demo.sh [path-to-comtrade_gen]
set -euo pipefail
cd "$(dirname "$0")/.."

gen="${1:-${COMTRADE_GEN:-build/tools/comtrade_gen/comtrade_gen}}"
if [ ! -x "$gen" ]; then
  cmake -S . -B build >/dev/null
  cmake --build build --target comtrade_gen_tool -j 2 >/dev/null
  gen=build/tools/comtrade_gen/comtrade_gen
fi

records=demo/records
rm -rf "$records"

# GBK bytes: station name and channel-name words.
beijing=$'\xB1\xB1\xBE\xA9'      # the capital's name
voltage=$'\xB5\xE7\xD1\xB9'      # "voltage"
current=$'\xB5\xE7\xC1\xF7'      # "current"
trip=$'\xCC\xF8\xD5\xA2'         # "trip"
close=$'\xBA\xCF\xD5\xA2'        # "close"

gbk_station="$records/$beijing"
north="$records/North"
mkdir -p "$gbk_station" "$north"

"$gen" --out "$gbk_station/${beijing}_001" --station "$beijing" --seed 101 \
  --analog 6 --digital 8 --samples 3000 --rate 5000 \
  --analog-names "Ua$voltage,Ub$voltage,Uc$voltage,Ia$current,Ib$current,Ic$current" \
  --digital-names "$trip,$close,Breaker A,Breaker B"

"$gen" --out "$gbk_station/B_02" --station "$beijing" --seed 102 --binary \
  --analog 8 --digital 16 --samples 4000 \
  --analog-names "Ua,Ub,Uc,U0,Ia,Ib,Ic,I0" --digital-names "${trip}1,${trip}2,${close}1,${close}2"
# Recorders on Windows often write upper-case extensions.
mv "$gbk_station/B_02.cfg" "$gbk_station/B_02.CFG"
mv "$gbk_station/B_02.dat" "$gbk_station/B_02.DAT"

"$gen" --out "$gbk_station/fault_0103" --station "$beijing" --seed 103 \
  --analog 4 --digital 4 --samples 2000 --rate 4000 \
  --analog-names "I$current,U$voltage"

"$gen" --out "$north/N_20260112_100000" --station North --seed 201 --binary \
  --analog 8 --digital 12 --samples 5000

"$gen" --out "$north/N_20260112_103000" --station North --seed 202 \
  --analog 4 --digital 6 --samples 2500 --rate 2000 \
  --analog-names "Ia,Ib,Ic,In" --digital-names "Trip,Close,$trip"

"$gen" --out "$north/line_test" --station North --seed 203 --binary \
  --analog 4 --digital 4 --samples 2000

du -sh "$records"
