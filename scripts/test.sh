#!/usr/bin/env bash
# Builds and runs every test: the normal build, the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, and a short fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_TEST_HOOKS=ON -DVARNHOLT_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --timeout 600

echo "== build and test with address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVARNHOLT_SANITIZE=ON -DVARNHOLT_BENCH=OFF -DVARNHOLT_TEST_HOOKS=ON -DVARNHOLT_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" ctest --test-dir build-asan -j"$jobs" --timeout 900

echo "== the tests that run threads against each other, with the race detector"
# Restores while the windows draw, the scheduler while its window edits
# triggers, the extension map, the log, the records and the registries, a
# set restore staging on several threads, a backup stop met by the Copier,
# work that comes as the Copier or the File Watcher pass ends.
threaded='WhileTheWindowDraws|WhileTheWindowsDraw|ChangeTriggersAtOnce|ShareTheMap|TriggersEditedWhileTheBackupRuns'
threaded+='|WhileABackup|AskingAtOnce|Concurrent|SeveralThreads|CacheAnswersPendingWhileComparisonRuns'
threaded+='|EngineThreadsAreCounted|ThreadsEndWhenTheApplicationStops|DeletionWhileAnotherRuns'
threaded+='|StopMetByCopiesUnderWay|EditsSavedDuringARestore|StopAnsweredCancelContinues|AtMostTwoGroups'
threaded+='|AsTheCopierEnds|AsThePassEnds'
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_TSAN=ON -DVARNHOLT_BENCH=OFF -DVARNHOLT_TEST_HOOKS=ON -DVARNHOLT_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target test_foundation test_engine test_windows
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan -j"$jobs" --timeout 900 -R "$threaded" --no-tests=error

echo "== fuzz (a minute or so in all)"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNHOLT_FUZZ=ON -DVARNHOLT_SANITIZE=ON >/dev/null
cmake --build build-fuzz -j"$jobs"
mapfile -t targets < <(find build-fuzz/fuzz -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
if [ ${#targets[@]} -gt 0 ]; then
  per=$(( 72 / ${#targets[@]} )); [ "$per" -ge 5 ] || per=5
  for t in "${targets[@]}"; do
    name=${t##*/fuzz_}
    work=$(mktemp -d)
    # The JSON reader takes replies up to its 1 MiB cap: it is tried on inputs that long.
    extra=(); [ "$name" = json_reader ] && extra=(-max_len=1048576)
    echo "-- fuzz $name for ${per}s"
    "$t" -max_total_time="$per" -timeout=60 -print_final_stats=0 -artifact_prefix="$work/" "${extra[@]}" \
      "$work" "fuzz/corpus/$name" 2>&1 | tail -n 3
    rm -rf "$work"
  done
fi
echo "== all tests passed"
