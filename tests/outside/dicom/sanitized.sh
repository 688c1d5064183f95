#!/usr/bin/env bash
# Builds the damaged-file test with AddressSanitizer and UndefinedBehaviorSanitizer in a
# separate build folder ($1, default build-asan), builds the libFuzzer target for reading files
# with clang, runs both (the fuzzer for FUZZ_SECONDS, default 45) and fails on any finding.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
build=${1:-build-asan}
[[ $build == /* ]] || build="$root/$build"
fuzz_seconds=${FUZZ_SECONDS:-45}
jobs=${JOBS:-$(nproc)}

echo "== sanitized build of tst_malformed in $build"
cmake -S "$root" -B "$build" -G Ninja -DORV_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j "$jobs" tst_malformed

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/outside/dicom/fuzz/lsan.supp}
echo "== tst_malformed (sanitized)"
QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 TZ=UTC "$build/tests/outside/dicom/tst_malformed"

echo "== libFuzzer target"
cmake -S "$root/tests/outside/dicom/fuzz" -B "$build/fuzz" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build/fuzz" -j "$jobs" fuzz_readfile

corpus="$build/fuzz/corpus"
mkdir -p "$corpus"
samples=/usr/lib/python3/dist-packages/pydicom/data/test_files
for f in CT_small.dcm MR_small.dcm JPGExtended.dcm SC_rgb_rle_2frame.dcm rtplan.dcm nested_priv_SQ.dcm \
         SC_rgb_small_odd_jpeg.dcm MR_small_implicit.dcm; do
  [[ -f $samples/$f ]] && cp -n "$samples/$f" "$corpus/" || true
done
cp -n "$root"/tests/outside/dicom/fuzz/regressions/* "$corpus/" 2>/dev/null || true
cd "$build/fuzz"
"$build/fuzz/fuzz_readfile" -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=3072 \
  -max_len=262144 -print_final_stats=1 -artifact_prefix="$build/fuzz/" "$corpus"
echo "== sanitized checks passed"
