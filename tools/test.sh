#!/usr/bin/env bash
# Builds and runs every test on every configuration:
#   linux       native
#   linux-asan  native with AddressSanitizer and UBSan
#   win32       the shipped 32-bit Quilbo.exe: built and linked, not run
#   win64       the same sources for 64-bit Windows, every test under wine
# Installs what a fresh Debian machine lacks when it can, says what it had
# to skip, prints the test counts per configuration and the wall time, and
# exits non-zero when anything failed.
set -u
cd "$(dirname "$0")/.." || exit 2
started=$(date +%s)
logs=build/test-logs
mkdir -p "$logs"

missing=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || missing+=(cmake)
have ninja || missing+=(ninja-build)
have g++ || missing+=(g++)
have python3 || missing+=(python3)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
have x86_64-w64-mingw32-g++ || missing+=(g++-mingw-w64-x86-64)
have i686-w64-mingw32-g++ || missing+=(g++-mingw-w64-i686)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  if [ "$(id -u)" = 0 ]; then sudo=""; elif have sudo; then sudo="sudo"; else sudo="none"; fi
  if [ "$sudo" = none ]; then
    echo "!! cannot install (not root, no sudo): ${missing[*]}"
  else
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >"$logs/apt.log" 2>&1 ||
      echo "!! apt-get failed; see $logs/apt.log"
  fi
fi

status=0
summary=()
count_tests() {  # the GoogleTest and end-to-end counts in a ctest log
  local gtest e2e
  gtest=$(grep -aoE '\[==========\] [0-9]+ tests? from' "$1" | awk '{s += $2} END {print s + 0}')
  e2e=$(grep -aoE 'e2e: [0-9]+ passed' "$1" | awk '{s += $2} END {print s + 0}')
  echo "$gtest unit tests, $e2e end-to-end tests"
}

for preset in linux linux-asan win32 win64; do
  case $preset in
    win32) have i686-w64-mingw32-g++ || { summary+=("$preset: SKIPPED (no i686-w64-mingw32-g++)"); continue; } ;;
    win64) have x86_64-w64-mingw32-g++ || { summary+=("$preset: SKIPPED (no x86_64-w64-mingw32-g++)"); continue; } ;;
  esac
  echo "== $preset: configure and build"
  t0=$(date +%s)
  if ! cmake --preset "$preset" >"$logs/$preset-configure.log" 2>&1 ||
     ! cmake --build --preset "$preset" >"$logs/$preset-build.log" 2>&1; then
    tail -n 40 "$logs/$preset-configure.log" "$logs/$preset-build.log" 2>/dev/null
    summary+=("$preset: BUILD FAILED (see $logs)")
    status=1
    continue
  fi
  if [ "$preset" = win32 ]; then
    summary+=("$preset: built and linked ($(ls build/win32/*.exe | wc -l) programs; 32-bit programs cannot run here) in $(( $(date +%s) - t0 )) s")
    continue
  fi
  if [ "$preset" = win64 ] && [ ! -x /usr/lib/wine/wine64 ]; then
    summary+=("$preset: built; tests SKIPPED (no wine64)")
    continue
  fi
  echo "== $preset: test"
  if ctest --preset "$preset" >"$logs/$preset-test.log" 2>&1; then
    summary+=("$preset: passed, $(count_tests "$logs/$preset-test.log") in $(( $(date +%s) - t0 )) s")
  else
    grep -aE 'FAILED|Failed|FAIL:|ERROR:|Error' "$logs/$preset-test.log" | head -n 40
    summary+=("$preset: TESTS FAILED, $(count_tests "$logs/$preset-test.log") (see $logs/$preset-test.log)")
    status=1
  fi
done

echo
echo "== summary"
for line in "${summary[@]}"; do echo "   $line"; done
echo "   wall time: $(( $(date +%s) - started )) s"
exit $status
