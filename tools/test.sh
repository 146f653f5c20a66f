#!/usr/bin/env bash
# Quilbo's test command: installs what is missing (Debian), then configures,
# builds and tests every configuration, and builds and checks the packages:
#   linux       native, every test
#   linux-asan  native under AddressSanitizer and UBSan, every test
#   linux-clang native with clang 16, every test
#   linux-tsan  native under ThreadSanitizer: the unit tests and the runs
#               whose deletions go on a thread beside the copy
#   linux32     32-bit (-m32), statically linked, every test under qemu-i386:
#               the shipped program's data model, and sizes past 4 GiB
#   win32       the shipped 32-bit Quilbo.exe, every test under the 32-bit
#               wine (wine32:i386, installed here when it can be: the i386
#               architecture is added to dpkg); without it, built only
#   win64       64-bit Windows build, its unit tests under wine64
#   packages    the .deb (preset linux-release) and the Windows .zip (the
#               win32 build): their file lists, lintian, hardening, the
#               .exe's resources, the .deb unpacked into a scratch root and
#               run, cmake --install into a scratch root, the scheduling
#               examples, the manual page and README and the messages they
#               quote (tools/check_packages.py)
#   builds      the ways users and packagers build, from a scratch copy of
#               the sources: Makefiles, Release, None with dpkg-buildflags,
#               clang, the Windows cross build, no GoogleTest; each warning-
#               free and installed (tools/check_builds.py)
# Prints a summary (tests passed and failed per configuration, wall and
# processor seconds: on a machine shared with other work the processor
# time is what compares) and exits non-zero when anything failed.
#
#   tools/test.sh                 all of them
#   tools/test.sh linux win64     only these
#   QUILBO_NO_INSTALL=1 tools/test.sh   never install packages
set -u
cd "$(dirname "$0")/.."
root=$PWD
started=$(date +%s)

all_presets=(linux linux-asan linux-tsan linux-clang linux32 win32 win64 packages builds)
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=("${all_presets[@]}")

# ---- Packages ---------------------------------------------------------------

# package : a file it installs (to test for it without dpkg; may be a glob)
needed=(
  "cmake:/usr/bin/cmake"
  "ninja-build:/usr/bin/ninja"
  "g++:/usr/bin/g++"
  "clang-16:/usr/bin/clang++-16"
  "g++-multilib:/usr/lib/gcc/x86_64-linux-gnu/*/32/libstdc++.a"
  "qemu-user:/usr/bin/qemu-i386"
  "googletest:/usr/src/googletest/CMakeLists.txt"
  "libbenchmark-dev:/usr/include/benchmark/benchmark.h"
  "python3:/usr/bin/python3"
  "g++-mingw-w64-x86-64:/usr/bin/x86_64-w64-mingw32-g++-posix"
  "g++-mingw-w64-i686:/usr/bin/i686-w64-mingw32-g++-posix"
  "wine64:/usr/lib/wine/wine64"
  "dpkg-dev:/usr/bin/dpkg-shlibdeps"
  "groff-base:/usr/bin/groff"
  "man-db:/usr/bin/man"
  "lintian:/usr/bin/lintian"
  "python3-pefile:/usr/lib/python3/dist-packages/pefile.py"
  "systemd:/usr/bin/systemd-analyze"
  "strace:/usr/bin/strace"
  # File systems the end-to-end cases mount (tests/e2e/filesystems.py).
  "exfatprogs:/usr/sbin/mkfs.exfat"
  "exfat-fuse:/usr/sbin/mount.exfat-fuse"
  "bindfs:/usr/bin/bindfs"
)
missing=()
for entry in "${needed[@]}"; do
  compgen -G "${entry#*:}" >/dev/null || missing+=("${entry%%:*}")
done
sudo=""
[ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null && sudo="sudo -n"
export DEBIAN_FRONTEND=noninteractive
# Prints why nothing can be installed here, or nothing when it can.
cannot_install() {
  if [ -n "${QUILBO_NO_INSTALL:-}" ]; then echo "QUILBO_NO_INSTALL is set"
  elif ! command -v apt-get >/dev/null; then echo "there is no apt-get here"
  elif [ "$(id -u)" -ne 0 ] && [ -z "$sudo" ]; then echo "this is not root and has no sudo"
  fi
}
if [ ${#missing[@]} -gt 0 ]; then
  echo "== missing packages: ${missing[*]}"
  why=$(cannot_install)
  if [ -n "$why" ]; then
    echo "== $why: install them by hand"
  else
    $sudo apt-get update -qq && $sudo apt-get install -y -qq "${missing[@]}" \
      || echo "== installing failed"
  fi
fi
# The 32-bit wine runs the shipped Quilbo.exe; it is an i386 package. Its
# loader is a 32-bit program: starting it also shows the kernel runs them.
wine32=/usr/lib/wine/wine
wine32_runs() { [ -x $wine32 ] && $wine32 --version >/dev/null 2>&1; }
if [[ " ${presets[*]} " == *" win32 "* ]] && [ ! -x $wine32 ]; then
  why=$(cannot_install)
  if [ -n "$why" ]; then
    echo "== wine32:i386 is missing and $why: the win32 tests will not run"
  else
    echo "== installing wine32:i386 (adding the i386 architecture) for the win32 tests"
    { $sudo dpkg --add-architecture i386 && $sudo apt-get update -qq &&
      $sudo apt-get install -y -qq wine32:i386; } ||
      echo "== installing wine32:i386 failed: the win32 tests will not run"
  fi
fi
command -v cmake >/dev/null || { echo "FATAL: cmake is missing"; exit 1; }
generator=()
command -v ninja >/dev/null || generator=(-G "Unix Makefiles")

# What a configuration needs beyond the native compiler.
can_run() {
  case $1 in
    win32) [ -e /usr/bin/i686-w64-mingw32-g++-posix ] && [ -e /usr/src/googletest ] ;;
    linux-clang) [ -e /usr/bin/clang++-16 ] && [ -e /usr/src/googletest ] ;;
    builds) command -v python3 >/dev/null && command -v g++ >/dev/null ;;
    win64) [ -e /usr/bin/x86_64-w64-mingw32-g++-posix ] && [ -e /usr/lib/wine/wine64 ] ;;
    linux) [ -e /usr/include/benchmark/benchmark.h ] && [ -e /usr/src/googletest ] ;;
    linux32) [ -e /usr/src/googletest ] && [ -e /usr/bin/qemu-i386 ] &&
             compgen -G "/usr/lib/gcc/x86_64-linux-gnu/*/32/libstdc++.a" >/dev/null ;;
    packages) [ -e /usr/bin/i686-w64-mingw32-g++-posix ] && [ -e /usr/src/googletest ] &&
              command -v cpack >/dev/null && command -v dpkg-shlibdeps >/dev/null &&
              command -v groff >/dev/null && command -v man >/dev/null ;;
    *) [ -e /usr/src/googletest ] ;;
  esac
}

# ---- Configure, build, test ---------------------------------------------------

declare -A result passed failed seconds cpu

# Sets cpu_total to the processor seconds (user and system) of every
# finished child so far. Call it directly, never as $(...): times must run in
# this shell, a subshell counts only its own children.
cpu_now() {
  times >"$logdir/.times"
  cpu_total=$(sed -n 2p "$logdir/.times" | awk '{
    total = 0
    for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); total += t[1] * 60 + t[2] }
    printf "%d\n", total }')
}
overall=0
logdir=$root/build/logs
mkdir -p "$logdir"

# Sums the GoogleTest counts and the end-to-end counts from a ctest log.
count_tests() {
  python3 - "$1" <<'EOF'
import re, sys
text = open(sys.argv[1], "rb").read().decode("latin-1")
passed = failed = 0
for m in re.finditer(r"\[  PASSED  \] (\d+) tests?", text):
    passed += int(m.group(1))
for m in re.finditer(r"\[  FAILED  \] (\d+) tests?, listed below", text):
    failed += int(m.group(1))
for m in re.finditer(r"^(?:\d+: )?e2e: (\d+) passed, (\d+) failed", text, re.M):
    passed += int(m.group(1))
    failed += int(m.group(2))
# A test program that died before its summary still counts as failed.
listed = text.split("The following tests FAILED:")[-1] if "The following tests FAILED:" in text else ""
failed = max(failed, len(re.findall(r"^\s*\d+ - ", listed, re.M)))
print(passed, failed)
EOF
}

for preset in "${presets[@]}"; do
  t0=$(date +%s)
  cpu_now; c0=$cpu_total
  log=$logdir/$preset.log
  case $preset in
    win32) doing="configure, build, test"
           wine32_runs || doing="configure, build (no wine32 here: not run)" ;;
    packages) doing="build and check the .deb and the .zip" ;;
    builds) doing="build from a scratch copy the ways users and packagers do" ;;
    *) doing="configure, build, test" ;;
  esac
  echo "== $preset: $doing  (log: $log)"
  if ! can_run "$preset"; then
    result[$preset]="SKIPPED (tools missing)"
    passed[$preset]=0; failed[$preset]=0; seconds[$preset]=0; cpu[$preset]=0
    echo "   SKIPPED: its tools are missing (see the packages above)"
    continue
  fi
  if [ "$preset" = packages ]; then
    # The .deb from an optimized build without tests; the .zip from the
    # win32 build (built here unless it is already). The README's commands
    # where the presets' generator is here.
    rm -rf build/packages
    if [ ${#generator[@]} -eq 0 ]; then
      { cmake --workflow --preset deb && cmake --workflow --preset zip; } >"$log" 2>&1
    else
      {
        cmake --preset linux-release "${generator[@]}" &&
        cmake --build --preset linux-release &&
        cmake --preset win32 "${generator[@]}" &&
        cmake --build --preset win32 &&
        cpack --preset deb &&
        cpack --preset zip
      } >"$log" 2>&1
    fi
  elif [ "$preset" = builds ]; then
    # Its failures are counted below, as the package checks are.
    python3 tools/check_builds.py --jobs 2 >"$log" 2>&1 || true
  else
    {
      cmake --preset "$preset" "${generator[@]}" &&
      cmake --build --preset "$preset"
    } >"$log" 2>&1
  fi
  if [ $? -ne 0 ]; then
    result[$preset]="BUILD FAILED"
    grep -E "error|FAILED" "$log" | head -20
    passed[$preset]=0; failed[$preset]=0
    overall=1
  elif [ "$preset" = builds ]; then
    passed[$preset]=$(grep -c '^   ok ' "$log"); failed[$preset]=$(grep -c '^   FAIL ' "$log")
    grep -E '^   (FAIL|note|time) ' "$log" | head -20
    if ! tail -1 "$log" | grep -q '^build ways: 0 checks failed$'; then
      result[$preset]="CHECKS FAILED"
      overall=1
    else
      result[$preset]="ok"
    fi
  elif [ "$preset" = packages ]; then
    # Debian's own python3, which python3-pefile extends.
    checker=python3
    [ -x /usr/bin/python3 ] && checker=/usr/bin/python3
    "$checker" tools/check_packages.py --deb build/packages/quilbo_*.deb \
      --zip build/packages/quilbo-*-win32.zip --build build/linux-release >>"$log" 2>&1
    rc=$?
    passed[$preset]=$(grep -c '^   ok ' "$log"); failed[$preset]=$(grep -c '^   FAIL ' "$log")
    if [ $rc -ne 0 ]; then
      result[$preset]="CHECKS FAILED"
      overall=1
      grep -E '^   FAIL ' "$log" | head -20
    else
      result[$preset]="ok (.deb and .zip)"
    fi
    sed -n '/^== quilbo.*bytes)$/,$p' "$log" | grep -v '^package checks'
  elif [ "$preset" = win32 ] && ! wine32_runs; then
    result[$preset]="built, not run: no wine32"
    passed[$preset]=0; failed[$preset]=0
  else
    # wine now and then fails to start a program at all (no output, a few
    # milliseconds); a second try tells that from a failing test, which
    # fails again.
    retry=()
    [[ $preset == win* ]] && retry=(--repeat until-pass:2)
    ctest --preset "$preset" "${retry[@]}" >>"$log" 2>&1
    rc=$?
    read -r p f < <(count_tests "$log")
    passed[$preset]=$p; failed[$preset]=$f
    if [ $rc -ne 0 ]; then
      result[$preset]="TESTS FAILED"
      overall=1
      grep -aE '^\s*[0-9]+ - |FAIL:|ERROR:|\[  FAILED  \]' "$log" | head -40
    else
      result[$preset]="ok"
    fi
    if [[ $preset == win* ]]; then
      QUILBO_WINEARCH=$preset QUILBO_WINEPREFIX=$root/build/$preset/wineprefix \
        cmake/wine-run.sh --stop
    fi
  fi
  seconds[$preset]=$(( $(date +%s) - t0 ))
  cpu_now; cpu[$preset]=$(( cpu_total - c0 ))
  echo "   ${result[$preset]}: ${passed[$preset]} passed, ${failed[$preset]} failed" \
       "(${seconds[$preset]} s, processor ${cpu[$preset]} s)"
done

# ---- Summary ----------------------------------------------------------------

total=$(( $(date +%s) - started ))
all_passed=0; all_failed=0
echo
echo "== summary"
printf '%-12s %-24s %8s %8s %8s %10s\n' configuration result passed failed seconds \
  "cpu s"
for preset in "${presets[@]}"; do
  printf '%-12s %-24s %8s %8s %8s %10s\n' "$preset" "${result[$preset]}" \
    "${passed[$preset]}" "${failed[$preset]}" "${seconds[$preset]}" "${cpu[$preset]}"
  all_passed=$(( all_passed + passed[$preset] ))
  all_failed=$(( all_failed + failed[$preset] ))
done
printf 'wall time: %d min %02d s\n' $(( total / 60 )) $(( total % 60 ))
echo "all: $all_passed passed, $all_failed failed"
exit $overall
