#!/usr/bin/env bash
# Fills fuzz/corpus-work/<target>/ with starting inputs: the committed seeds,
# records made by the project's generator, and the shared real-world samples
# when they are there (read in place, never copied into the repo itself).
#
#   fuzz/make_corpus.sh [BUILD_DIR]     (default: build-fuzz; it must hold
#                                        the built comtrade_gen tool)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build-fuzz}"
gen="$build/tools/comtrade_gen/comtrade_gen"
out="$repo/fuzz/corpus-work"
samples="$repo/../shared/samples"
separator=$'\n@@@@\n'
# Enough of a data file to reach its lines, small enough to mutate quickly.
ascii_lines=24
binary_records=24

for target in cfg_reader ascii_reader binary_reader request_path analysis_queries; do
  mkdir -p "$out/$target"
  cp "$repo/fuzz/seeds/$target/"* "$out/$target/"
done

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# framed MODE_SEED_ESCAPES CFG DAT_HEAD OUT: the framing of the data reader
# cases: two header bytes, the .cfg, the separator, the head of the .dat.
framed() {
  { printf "$1"; cat "$2"; printf '%s' "$separator"; cat "$3"; } > "$4"
}
# builtin MODE_SEED_ESCAPES DAT_HEAD OUT: a .dat for one of the built-in .cfgs.
builtin() {
  { printf "$1"; cat "$2"; } > "$3"
}
# dat_head FORMAT CFG DAT OUT
dat_head() {
  if [ "$1" = binary ]; then
    # Record size: two 4-byte fields, a word per analog channel, a word per
    # started group of 16 digital channels.
    local counts analog digital
    counts="$(sed -n 2p "$2" | tr -d '\r')"
    analog="$(echo "$counts" | sed -E 's/^[^,]*,\s*([0-9]+)A.*/\1/')"
    digital="$(echo "$counts" | sed -E 's/.*,\s*([0-9]+)D.*/\1/')"
    head -c $(( (8 + 2 * analog + 2 * ((digital + 15) / 16)) * binary_records )) "$3" > "$4"
  else
    head -n "$ascii_lines" "$3" > "$4"
  fi
}

if [ -x "$gen" ]; then
  # analog digital builtin-variant (see record_cases.cpp; - for none)
  while read -r analog digital variant; do
    for format in ascii binary; do
      base="$tmp/gen_${analog}a_${digital}d_$format"
      flag=""
      [ "$format" = binary ] && flag="--binary"
      "$gen" --out "$base" --analog "$analog" --digital "$digital" --samples 40 \
        --seed "$((analog * 100 + digital))" $flag > /dev/null
      name="$(basename "$base")"
      cp "$base.cfg" "$out/cfg_reader/$name.cfg"
      dat_head "$format" "$base.cfg" "$base.dat" "$tmp/head"
      framed '\x01\x00' "$base.cfg" "$tmp/head" "$out/${format}_reader/$name.framed"
      if [ "$variant" != - ]; then
        builtin "\\x$(printf '%02x' $((variant * 2)))\\x00" "$tmp/head" \
          "$out/${format}_reader/$name.builtin"
      fi
    done
  done <<'TABLE'
1 0 0
2 2 1
3 3 2
0 2 3
2 17 4
2 1 5
8 16 -
24 64 -
TABLE
else
  echo "make_corpus: $gen not built; generated records skipped" >&2
fi

if [ -d "$samples" ]; then
  while IFS= read -r -d '' cfg; do
    stem="${cfg%.*}"
    name="sample_$(echo "${stem#"$samples"/}" | tr '/' '_')"
    head -c 65536 "$cfg" > "$out/cfg_reader/$name.cfg"
    dat=""
    for candidate in "$stem.dat" "$stem.DAT"; do
      [ -f "$candidate" ] && dat="$candidate" && break
    done
    [ -n "$dat" ] || continue
    if grep -qi '^ascii' "$cfg"; then
      dat_head ascii "$cfg" "$dat" "$tmp/head"
      framed '\x01\x00' "$cfg" "$tmp/head" "$out/ascii_reader/$name.framed"
    else
      dat_head binary "$cfg" "$dat" "$tmp/head" 2> /dev/null || head -c 4096 "$dat" > "$tmp/head"
      framed '\x01\x00' "$cfg" "$tmp/head" "$out/binary_reader/$name.framed"
    fi
  done < <(find "$samples" -type f \( -name '*.cfg' -o -name '*.CFG' \) -print0 | sort -z)
else
  echo "make_corpus: no shared samples beside the repo; skipped" >&2
fi

for target in cfg_reader ascii_reader binary_reader request_path analysis_queries; do
  echo "corpus $target: $(find "$out/$target" -type f | wc -l) files"
done
