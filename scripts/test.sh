#!/bin/sh
# Builds everything twice (Release, and ASan+UBSan) and runs every test on both,
# plus the threaded link code under ThreadSanitizer and a short fuzz run.
# The last line printed is CTest's summary over all runs.
set -e
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

# Benchmarks measure nothing useful under the sanitizers, so that build skips them.
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_SANITIZE=ON -DUPDATER_BENCH=OFF
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release
cmake --build build-sanitize -j2
cmake --build build-release -j2
# The threaded link code (FIFOs, link engine, streams) once more under ThreadSanitizer.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_TSAN=ON -DUPDATER_BENCH=OFF
cmake --build build-tsan -j2 --target link_codec_tests link_engine_tests link_sim_tests streams_tests

LOGS=$(mktemp -d)
trap 'rm -rf "$LOGS"' EXIT

status=0

# A short fuzz run of the BIRD and settings readers (longer runs: scripts/fuzz-short.sh N).
if ! ./scripts/fuzz-short.sh "${UPDATER_FUZZ_SECONDS:-60}"; then
    status=1
fi
for build in build-tsan build-sanitize build-release; do
    echo
    echo "== ctest in $build"
    # The ThreadSanitizer build runs only the tests labelled "threads".
    select=""
    [ "$build" = build-tsan ] && select="-L threads"
    if ! (cd "$build" && ctest --output-on-failure -j2 $select) >"$LOGS/$build.log" 2>&1; then
        status=1
    fi
    cat "$LOGS/$build.log"
done

# One summary in CTest's own form, counting both runs.
cat "$LOGS"/*.log | awk -v status="$status" '
    /^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+/ {
        failed += $4; total += $9; seen = 1
    }
    END {
        if (!seen || total == 0) { print "No tests were found!!!"; exit 1 }
        percent = (total - failed) * 100 / total
        if (failed > 0 && percent > 99) percent = 99
        printf "%d%% tests passed, %d tests failed out of %d\n", int(percent + 0.5), failed, total
        if (failed > 0 || status != 0) exit 1
    }'
