#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz-short.sh [SECONDS]      (default 60 per target)
# FUZZ_BUILD_DIR (default build-fuzz) and FUZZ_OUT_DIR (default fuzz-out) may be set.
# Exits non-zero when a target finds a crash; the input is left in FUZZ_OUT_DIR/<target>/.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
out=${FUZZ_OUT_DIR:-$root/fuzz-out}
targets=(bird_fuzz settings_fuzz)

mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DUPDATER_FUZZ=ON -DUPDATER_TESTS=OFF -DUPDATER_BENCH=OFF >"$build/fuzz-configure.log" 2>&1 ||
    { cat "$build/fuzz-configure.log"; exit 1; }
cmake --build "$build" --target "${targets[@]}" birdtool -j2 >"$build/fuzz-build.log" 2>&1 ||
    { tail -50 "$build/fuzz-build.log"; exit 1; }

# Seeds: a few well-formed files, each as stored (mode byte 0) and as a bare body (mode 1).
birdtool=$build/tools/birdtool/birdtool
seeds=$out/bird/corpus
mkdir -p "$seeds" "$out/settings/corpus"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$birdtool" -o "$tmp/a.bird" --write-body "$tmp/a.body" --build 1234 --version 2.11.3 \
    --serial 1A2B3C4D --model "Meter S" --loader 0x1000,pattern:64 \
    --firmware 0x8000,pattern:200,3 --serial-offsets 0x8010,0x8020 --loader-start 0x20000400
"$birdtool" -o "$tmp/b.bird" --write-body "$tmp/b.body" --no-info \
    --firmware 0,pattern:40 --firmware 0x100,pattern:40 --scramble 1,2,3,4
for seed in a b; do
    { printf '\0'; cat "$tmp/$seed.bird"; } >"$seeds/seed-$seed-file"
    { printf '\1'; cat "$tmp/$seed.body"; } >"$seeds/seed-$seed-body"
done
printf 'CREATED_TIME=Wed Dec  9 16:20:44 2026\nLATEST_DOWNLOAD=1234.bird\n# note\n  A = 1 \nB=\n' \
    >"$out/settings/corpus/seed-settings"

status=0
for target in "${targets[@]}"; do
    name=${target%_fuzz}
    echo "fuzz: $target for ${seconds}s"
    if "$build/store/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$out/$name/" "$out/$name/corpus" \
        >"$out/$name.log" 2>&1; then
        echo "fuzz: $target passed ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$out/$name.log" | grep -o '[0-9]*$') runs)"
    else
        echo "fuzz: $target FAILED; see $out/$name.log"
        tail -40 "$out/$name.log"
        status=1
    fi
done
exit $status
