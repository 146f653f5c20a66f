#!/usr/bin/env bash
# Builds the native program and archives a copy of the bundled sample logs
# (samples/) with it; the samples themselves stay untouched. The copies go
# to build/sample-run/logs, their archives to build/sample-run/logs/backup,
# cut to their last kilobyte. Without samples/ the program runs without
# arguments, which shows its usage screen.
set -eu
cd "$(dirname "$0")/.."
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || ! command -v ninja >/dev/null; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake g++ ninja-build
  else
    echo "run.sh: needs cmake, g++ and ninja-build (apt-get install cmake g++ ninja-build)" >&2
  fi
fi
generator=(-G Ninja)
command -v ninja >/dev/null || generator=()
cmake -S . -B build/run "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DQUILBO_TESTS=OFF >/dev/null
cmake --build build/run --target quilbo -j2 >/dev/null
quilbo=$PWD/build/run/quilbo

set +e
if ! ls samples/*.log >/dev/null 2>&1; then
  echo "\$ quilbo"
  "$quilbo"
  code=$?
  echo "(exit code $code)"
  exit $code
fi
rm -rf build/sample-run
mkdir -p build/sample-run/logs
cp samples/*.log build/sample-run/logs/
cd build/sample-run
echo "\$ quilbo 'logs/*.log' backup /T1"
"$quilbo" 'logs/*.log' backup /T1
code=$?
echo "(exit code $code)"
echo
echo "Archives in build/sample-run/logs/backup:"
ls -l logs/backup
exit $code
