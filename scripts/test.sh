#!/usr/bin/env bash
# Builds and runs every test of Tarvion, installing what a fresh Debian 12
# machine lacks first (as root):
#   1. mingw-w64 cross-build of the Windows programs, the portable core and
#      every Windows test, run under Wine
#   2. Debug + AddressSanitizer/UndefinedBehaviorSanitizer: every test, and the
#      end-to-end tests of the Windows programs of stage 1 under Wine
#   3. ThreadSanitizer: the tests that run threads (ctest label "threads")
#   4. fuzz: every fuzz target built with clang and run a fixed number of
#      times on its committed seed corpus (fuzz/corpus/<target>/)
# Ends with one summary line of passed/failed/skipped counts; exit 0 only if
# all passed and none of the tests that must run here was skipped (the VM
# test, the window tests; TARVION_ALLOW_SKIPS=1 lets a developer machine
# without them pass).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TARVION_BUILD_ROOT:-$root/build/ci}
jobs=${TARVION_JOBS:-2}
# A developer may run fewer stages (TARVION_STAGES="mingw"); CI runs them all.
stages=" ${TARVION_STAGES:-mingw asan tsan fuzz} "

packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev libhidapi-dev
  g++-mingw-w64-x86-64 wine64 wine qt6-base-dev libudev-dev xvfb xauth trayer xdotool
  qemu-system-x86 linux-image-amd64 busybox-static cpio clang libclang-rt-14-dev libasio-dev nsis)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    { echo "package installation failed"; exit 1; }
fi

mkdir -p "$out"
summary=()
failed_stages=0

# Runs ctest in a build folder; every gtest program leaves an XML report so the
# summary can count test cases, not only programs.
run_stage() {
  local name=$1 dir=$2; shift 2
  local xml="$out/$name-xml"
  rm -rf "$xml" && mkdir -p "$xml"
  echo "== $name: running tests"
  # Windows programs under Wine need the folder as a Windows path.
  local xml_arg="$xml/"
  if [ "$name" = mingw ]; then xml_arg="$(winepath -w "$xml")\\"; fi
  GTEST_OUTPUT="xml:$xml_arg" ctest --test-dir "$dir" --output-on-failure --timeout 900 "$@" \
    2>&1 | tee "$out/$name-ctest.log" | grep -E '^(\s*[0-9]+/[0-9]+ Test|.*tests passed|.*FAILED|.*Failed)'
  local rc=${PIPESTATUS[0]}
  local cases_pass=0 cases_fail=0 cases_skip=0
  for f in "$xml"/*.xml; do
    [ -e "$f" ] || continue
    local t fl er sk
    t=$(grep -m1 -o '<testsuites tests="[0-9]*"' "$f" | grep -o '[0-9]*')
    fl=$(grep -m1 -o '<testsuites tests="[0-9]*" failures="[0-9]*"' "$f" | grep -o '[0-9]*"$' | tr -d '"')
    er=$(grep -m1 -o 'errors="[0-9]*"' "$f" | grep -o '[0-9]*')
    # A skipped case ran nothing: it is not a pass.
    sk=$(grep -c '<testcase .*result="skipped"' "$f")
    cases_pass=$((cases_pass + ${t:-0} - ${fl:-0} - ${er:-0} - ${sk:-0}))
    cases_fail=$((cases_fail + ${fl:-0} + ${er:-0}))
    cases_skip=$((cases_skip + ${sk:-0}))
  done
  local progs
  progs=$(grep -E 'tests passed' "$out/$name-ctest.log" | tail -1)
  summary+=("$name: ${cases_pass} cases passed, ${cases_fail} failed, ${cases_skip} skipped (${progs:-no ctest result})")
  if [ "$rc" -ne 0 ]; then failed_stages=$((failed_stages + 1)); fi
  total_pass=$((total_pass + cases_pass)); total_fail=$((total_fail + cases_fail))
  total_skip=$((total_skip + cases_skip))
}
total_pass=0; total_fail=0; total_skip=0

# Tests that must run on the CI machine: one skipped (a tool missing) or not
# run at all fails the stage, instead of hiding in the pass count.
#   must_run <stage> ctest:<ctest test name> | gtest:<test suite name> ...
must_run() {
  local name=$1; shift
  [ "${TARVION_ALLOW_SKIPS:-0}" = 1 ] && return 0
  local xml="$out/$name-xml" missing=()
  for want in "$@"; do
    case $want in
      ctest:*)
        grep -qE "Test +#[0-9]+: ${want#ctest:} \.+ +Passed" "$out/$name-ctest.log" || missing+=("$want") ;;
      gtest:*)
        local suite=${want#gtest:} cases
        # No grep -q inside a pipe: under pipefail the writer's SIGPIPE fails it.
        cases=$(grep -h '<testcase ' "$xml"/*.xml 2>/dev/null | grep "classname=\"$suite\"" || true)
        if [ -z "$cases" ] || grep -q 'result="skipped"' <<<"$cases"; then
          missing+=("$want")
        fi ;;
    esac
  done
  if ((${#missing[@]})); then
    summary+=("$name: MUST-RUN TESTS SKIPPED OR NOT RUN: ${missing[*]}")
    failed_stages=$((failed_stages + 1))
  fi
}

# build <stage> <dir> [cmake options...]; BUILD_LABEL=L builds only the test
# programs labelled L (the stage runs no others).
build() {
  local name=$1 dir=$2; shift 2
  echo "== $name: configure and build"
  if ! cmake -S "$root" -B "$dir" -G Ninja "$@" >"$out/$name-configure.log" 2>&1; then
    tail -30 "$out/$name-configure.log"; return 1
  fi
  local targets=()
  if [ -n "${BUILD_LABEL:-}" ]; then
    mapfile -t targets < <(ctest --test-dir "$dir" -L "$BUILD_LABEL" -N | sed -n 's/^ *Test *#[0-9]*: //p')
    targets=(--target "${targets[@]}")
  fi
  if ! cmake --build "$dir" -j "$jobs" "${targets[@]}" >"$out/$name-build.log" 2>&1; then
    grep -E 'error|FAILED' -A5 "$out/$name-build.log" | head -60; return 1
  fi
}

# 1. Windows build under Wine: one prefix per run, on Wine's null graphics
#    driver (windows and messages without an X display), and a persistent
#    wineserver so each test program does not pay Wine's start-up again. The
#    server is started detached: Wine's helpers inherit standard output.
export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all
wine_up() {
  if [ ! -d "$WINEPREFIX" ]; then wineboot --init >/dev/null 2>&1; fi
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  wineserver -p >/dev/null 2>&1 </dev/null
}
win32_dir=""
if [[ $stages == *" mingw "* ]]; then
if build mingw "$out/mingw" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake"; then
  wine_up
  run_stage mingw "$out/mingw"
  must_run mingw ctest:tarvion_bridge_tests ctest:tarvion_setup_check gtest:Winsock/ClientSocketContract
  win32_dir="$out/mingw"
else
  summary+=("mingw: BUILD FAILED"); failed_stages=$((failed_stages + 1))
fi
elif [ -x "$out/mingw/src/main/tarvion-console.exe" ]; then
  win32_dir="$out/mingw"  # a partial run reuses an earlier Windows build
  wine_up
fi

# 2. ASan + UBSan, everything including the Linux program and the benchmarks (built, not run),
#    and the Windows programs of stage 1 end to end under Wine.
if [[ $stages == *" asan "* ]]; then
if build asan "$out/asan" -DCMAKE_BUILD_TYPE=Debug -DTARVION_SANITIZE=address \
  -DTARVION_BUILD_LINUX_APP=ON -DTARVION_BUILD_BENCH=ON -DTARVION_WIN32_BUILD_DIR="$win32_dir"; then
  ASAN_OPTIONS=detect_leaks=1 run_stage asan "$out/asan"
  wine_window=(); [ -n "$win32_dir" ] && wine_window=(gtest:TarvionWineWindow gtest:TarvionWineSessionEnd ctest:tarvion_wine_hid_vm)
  # The bridge's tests are built only where Asio is: here they must run.
  must_run asan ctest:tarvion_hidraw_vm gtest:TarvionWindow "${wine_window[@]}" \
    ctest:tarvion_bridge_tests gtest:BridgeFaults ctest:bridge_bench_quick \
    gtest:Epoll/ClientSocketContract gtest:Qt/ClientSocketContract
else
  summary+=("asan: BUILD FAILED"); failed_stages=$((failed_stages + 1))
fi
fi

# 3. TSan over the threaded tests.
if [[ $stages == *" tsan "* ]]; then
if BUILD_LABEL=threads build tsan "$out/tsan" -DCMAKE_BUILD_TYPE=Debug -DTARVION_SANITIZE=thread; then
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_stage tsan "$out/tsan" -L threads
else
  summary+=("tsan: BUILD FAILED"); failed_stages=$((failed_stages + 1))
fi
fi

# 4. Fuzz targets (clang, libFuzzer + ASan/UBSan): each replays its seed corpus
#    and runs a fixed number of mutations, writing new inputs only to the build
#    folder. Long campaigns: scripts/fuzz-long.sh.
if [[ $stages == *" fuzz "* ]]; then
  echo "== fuzz: configure and build"
  fuzz_dir="$out/fuzz"
  if ! CXX=clang++ cmake -S "$root" -B "$fuzz_dir" -G Ninja -DTARVION_BUILD_FUZZ=ON \
    -DTARVION_BUILD_TESTS=OFF >"$out/fuzz-configure.log" 2>&1 ||
    ! cmake --build "$fuzz_dir" -j "$jobs" --target fuzz_targets >"$out/fuzz-build.log" 2>&1; then
    tail -n 30 "$out/fuzz-configure.log" "$out/fuzz-build.log"
    summary+=("fuzz: BUILD FAILED"); failed_stages=$((failed_stages + 1))
  else
    echo "== fuzz: running targets"
    fuzz_pass=0 fuzz_fail=0
    for src in "$root"/fuzz/*_fuzz.cpp; do
      t=$(basename "$src" .cpp)
      work="$fuzz_dir/corpus-run/$t"
      rm -rf "$work" && mkdir -p "$work" "$fuzz_dir/artifacts"
      # -seed fixed: the same mutations every run, so a failure repeats.
      if "$fuzz_dir/fuzz/$t" -runs=${TARVION_FUZZ_RUNS:-100000} -seed=1 \
        -artifact_prefix="$fuzz_dir/artifacts/$t-" "$work" "$root/fuzz/corpus/$t" \
        >"$out/fuzz-$t.log" 2>&1; then
        fuzz_pass=$((fuzz_pass + 1))
        echo "   $t: passed"
      else
        fuzz_fail=$((fuzz_fail + 1))
        echo "   $t: FAILED"; tail -30 "$out/fuzz-$t.log"
      fi
    done
    summary+=("fuzz: ${fuzz_pass} targets passed, ${fuzz_fail} failed")
    if [ "$fuzz_fail" -ne 0 ]; then failed_stages=$((failed_stages + 1)); fi
    total_pass=$((total_pass + fuzz_pass)); total_fail=$((total_fail + fuzz_fail))
  fi
fi

if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi

echo
echo "== Summary"
printf '%s\n' "${summary[@]}"
echo "SUMMARY: ${total_pass} passed, ${total_fail} failed, ${total_skip} skipped, ${failed_stages} stage(s) failed"
[ "$failed_stages" -eq 0 ] && [ "$total_fail" -eq 0 ]
