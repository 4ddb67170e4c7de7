#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz (clang-14, AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for its share of SECONDS (default 60), from the seed corpus in fuzz/corpus. Prints the executions; exits
# non-zero on any finding (crash, sanitizer report, leak, timeout, out-of-memory).
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
total=${1:-60}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
      -DORDANA_BUILD_FUZZERS=ON -DBUILD_TESTING=OFF -DORDANA_BUILD_GUI=OFF -DORDANA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j2

mapfile -t fuzzers < <(find build-fuzz/fuzz -maxdepth 1 -type f -name '*_fuzzer' -perm -u+x | sort)
[ ${#fuzzers[@]} -gt 0 ] || { echo "fuzz: no fuzz targets built" >&2; exit 1; }
share=$(( total / ${#fuzzers[@]} ))
[ "$share" -ge 1 ] || share=1

mkdir -p build-fuzz/artifacts
executions=0
status=0
for f in "${fuzzers[@]}"; do
    name=$(basename "$f")
    corpus=build-fuzz/corpus-$name # what the run learns; the committed seeds stay as they are
    mkdir -p "$corpus"
    log=build-fuzz/$name.log
    seeds=fuzz/corpus
    [ -d "fuzz/corpus-${name%_fuzzer}" ] && seeds=fuzz/corpus-${name%_fuzzer}
    if "$f" -max_total_time="$share" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix=build-fuzz/artifacts/"$name"- "$corpus" "$seeds" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        echo "fuzz: $name ran ${runs:-?} executions in ${share} s without a finding"
        executions=$(( executions + ${runs:-0} ))
    else
        echo "fuzz: $name FOUND A FAULT; input saved under build-fuzz/artifacts/; end of its log:" >&2
        tail -40 "$log" >&2
        status=1
    fi
done
echo "fuzz: $executions executions in total"
exit $status
