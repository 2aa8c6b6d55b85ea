#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole suite twice: once as
# built for use (warnings as errors), once under AddressSanitizer and
# UndefinedBehaviorSanitizer; then the readers' tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCOMTRADE_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The Debian package: built from scratch in build-package/, checked without
# installing it, its binary run from an extracted tree.
./tests/package/package_test.sh

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCOMTRADE_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  COMTRADE_SANITIZED=1 ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The readers' second threads (read-ahead of blocks, the second lane of a
# large load) under ThreadSanitizer: their tests only, read and mapped, which
# keeps it a minute or two.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCOMTRADE_TSAN=ON
cmake --build build-tsan -j "$jobs" --target comtrade_format_tests comtrade_format_mapped_tests
TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/comtrade_format/comtrade_format_tests
TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/comtrade_format/comtrade_format_mapped_tests

# Fuzz smoke: a few seconds per target (clang, libFuzzer, ASan + UBSan).
./scripts/fuzz.sh 5
