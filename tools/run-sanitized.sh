#!/usr/bin/env bash
# Builds the XML engine's own C++ unit tests with ASan+UBSan and runs them, then runs the whole test
# suite and a short fuzz run with the sanitized build (`make sanitize`), less
# tests/typing (the type checkers over source text) and tests/cluster (a broker, a result store and
# worker daemons, whose jobs reach the same native paths as the rest of the suite).
#   tools/run-sanitized.sh <python of the sanitizer venv>
# The interpreter is not instrumented, so the ASan runtime is preloaded; Python's own allocator is
# switched to malloc so that ASan sees every object's memory. Reports go to files under
# build/sanitize/reports (one per process, subprocesses included). Prints one summary line and
# exits non-zero on any failure or report.
set -u
py=$1
root=$(cd "$(dirname "$0")/.." && pwd)
reports=$root/build/sanitize/reports
rm -rf "$reports" && mkdir -p "$reports"
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$root/build/sanitize/CMakeCache.txt")
asan=$("${cxx:-c++}" -print-file-name=libasan.so)
stdcxx=$("${cxx:-c++}" -print-file-name=libstdc++.so.6)
[ -f "$asan" ] || { echo "sanitize: no ASan runtime found for ${cxx:-c++}" >&2; exit 2; }

# libstdc++ beside the runtime: ASan's __cxa_throw interceptor needs the real one at start-up
# (the interpreter itself does not link it).
export LD_PRELOAD="$asan $stdcxx"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:log_path=$reports/asan
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan
export PYTHONMALLOC=malloc
ulimit -s 65536 2>/dev/null || ulimit -s unlimited 2>/dev/null || true  # instrumented frames are larger

start=$(date +%s)
cd "$root"
engine_exe=$reports/../xml_engine_test
"${cxx:-c++}" -std=c++20 -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined -I"$root/native" \
    "$root/native/engine/xml/tests/xml_engine_test.cpp" "$root"/native/engine/xml/*.cpp -o "$engine_exe" \
    >"$reports/../engine.log" 2>&1 && (unset LD_PRELOAD; "$engine_exe") >>"$reports/../engine.log" 2>&1 \
    && grep -q "all checks passed" "$reports/../engine.log"
engine_rc=$?
"$py" -m pytest -q -p no:cacheprovider --ignore=tests/typing --ignore=tests/cluster >"$reports/../pytest.log" 2>&1
tests_rc=$?
tests=$(grep -E '^[0-9]+ (passed|failed)|^=+ .*(passed|failed)' "$reports/../pytest.log" | tail -1 | tr -d '=' | xargs)
"$py" tests/fuzz/run.py --short >"$reports/../fuzz.log" 2>&1
fuzz_rc=$?
found=$(find "$reports" -type f | wc -l)
elapsed=$(( $(date +%s) - start ))

status=green
[ $engine_rc -eq 0 ] && [ $tests_rc -eq 0 ] && [ $fuzz_rc -eq 0 ] && [ "$found" -eq 0 ] || status=RED
echo "sanitize (ASan+UBSan): $status — engine unit tests: $([ $engine_rc -eq 0 ] && echo ok || echo "failed, rc $engine_rc"); tests: ${tests:-no summary} (rc $tests_rc); fuzz: $([ $fuzz_rc -eq 0 ] && echo ok || echo "failed, rc $fuzz_rc"); sanitizer reports: $found; ${elapsed} s (logs in build/sanitize)"
[ "$status" = green ]
