#!/usr/bin/env bash
# Builds the native program and archives a copy of the bundled sample logs
# with it (the samples themselves stay untouched): the logs go to
# build/sample-run/logs, their archives to build/sample-run/logs/backup,
# cut to their last kilobyte.
set -eu
cd "$(dirname "$0")/.."
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || ! command -v ninja >/dev/null; then
  if [ "$(id -u)" = 0 ]; then apt-get update -qq && apt-get install -y -qq cmake g++ ninja-build; fi
fi
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILBO_TESTS=OFF >/dev/null
cmake --build build/run --target quilbo >/dev/null
rm -rf build/sample-run
mkdir -p build/sample-run/logs
cp samples/*.log build/sample-run/logs/
cd build/sample-run
echo "\$ quilbo 'logs/*.log' backup /T1"
set +e
../run/quilbo 'logs/*.log' backup /T1
code=$?
set -e
echo "(exit code $code)"
echo
echo "Archives in build/sample-run/logs/backup:"
ls -l logs/backup
exit $code
