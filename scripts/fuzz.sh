#!/usr/bin/env bash
# Builds the fuzz targets of the file readers (clang, libFuzzer, ASan/UBSan;
# build-fuzz/) and runs each for the given number of seconds (default 20),
# one after the other. New inputs go to build-fuzz/corpus/<target>/, findings
# to build-fuzz/findings/. Exits non-zero when any target found something: a
# crash, a sanitizer report, a leak, an input slower than 10 s, or one that
# asks for more than 1 GB at once or makes the process exceed 2 GB.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
bash scripts/install-deps.sh clang libclang-rt-14-dev

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DFMRIGLM_FUZZ=ON -DFMRIGLM_TESTS=OFF -DFMRIGLM_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fmriglm_fuzz

targets=(control events table irf nifti xdisplay freesurfer overlays help)
mkdir -p build-fuzz/findings
failed=()
total=0
for t in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$t"
    log="build-fuzz/findings/$t.log"
    status=0
    "build-fuzz/tests/fuzz/fuzz_$t" "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t" -dict="tests/fuzz/dict/$t.dict" \
        -max_total_time="$seconds" -max_len=4096 -timeout=10 -malloc_limit_mb=1024 -rss_limit_mb=2048 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t-" </dev/null >"$log" 2>&1 ||
        status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    total=$((total + ${runs:-0}))
    if [ "$status" -eq 0 ]; then
        printf '%-10s %10s executions\n' "$t" "$runs"
    else
        printf '%-10s FINDING (exit status %d); log: %s\n' "$t" "$status" "$log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix|Test unit written)' "$log" | head -5 || true
        failed+=("$t")
    fi
done
printf '%-10s %10d executions\n' "total" "$total"
if [ ${#failed[@]} -gt 0 ]; then
    echo "Findings in: ${failed[*]}"
    exit 1
fi
