#!/usr/bin/env bash
# Installs what is missing, builds keldro with Qt 5 and with Qt 6, runs a bounded fuzz
# run, every test of both builds, every test again under AddressSanitizer and
# UndefinedBehaviorSanitizer and the suites that run threads under ThreadSanitizer, and
# builds and checks the Debian package (Qt 5). Prints what each part took.
#   FUZZ_SECONDS=60 by default, shared by the two fuzz targets; BUILD_DIR=build and
#   BUILD_DIR_QT6=build-qt6 by default; SANITIZERS=0 leaves out the two sanitizer builds
#   (build-asan and build-tsan) for a quicker run.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
bash tools/packages.sh test
build=${BUILD_DIR:-build}
build6=${BUILD_DIR_QT6:-build-qt6}
# Objects compiled before with the same flags come from the compiler cache, also in
# another clone of the repository.
common=()
ninja=()
command -v ccache >/dev/null && common+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Ninja compiles a library's users while the library links and runs moc beside the
# compiler, where Make waits for each library to be whole; it keeps two cores busy.
command -v ninja >/dev/null && ninja=(-G Ninja)
export CCACHE_BASEDIR=$source_dir
jobs=$(nproc)

took=()
trap 'echo "== time taken"; printf "%s\n" "${took[@]}"' EXIT
timed() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    took+=("$(printf '%-22s %4d s' "$name" $((SECONDS - start)))")
}

# Most suites spend their time waiting for a board, a server or a timer, not on the
# processor: twice as many at once as there are cores, as long as the longest suite
# (tst_cli's checks that run for seconds) takes. Under a sanitizer they are busy, so as
# many as there are cores.
ctest_in() {
    local dir=$1 parallel=$2
    shift 2
    echo "== tests of $dir"
    (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 \
        -j"$parallel" "$@")
}

# The suites that run threads of their own: the recording loader (trends, and the
# windows that open recordings), the serial writer threads, the ahead enumeration, the
# MQTT publisher (in keldro-cli too) and libmosquitto's network thread, the report's
# worker (Export report…).
threaded_tests=(tst_trends tst_alarms tst_settings tst_windowmenu tst_healthwindow
                tst_serialport tst_serialenumerator tst_mqtt tst_report)
threaded_targets=("${threaded_tests[@]}" keldro-cli keldro-report keldro-sim)

# A sanitizer's report, from a test or from a program it starts, lands in the build's
# sanitizer-logs folder: a test that hides its child's standard error still cannot
# hide a report, and any report fails the run.
sanitized_tests() {
    local dir=$1 logs=$1/sanitizer-logs status=0
    shift
    rm -rf "$logs"
    mkdir -p "$logs"
    # QtTest stops a test function after 5 minutes; sanitized code is slower.
    QTEST_FUNCTION_TIMEOUT=900000 ctest_in "$dir" "$jobs" "$@" || status=$?
    if compgen -G "$logs/*" >/dev/null; then
        echo "== sanitizer reports in $dir"
        cat "$logs"/*
        status=1
    fi
    return "$status"
}

asan_tests() {
    local logs=$source_dir/build-asan/sanitizer-logs supp=$source_dir/tools/sanitizers
    # Leaks are checked at every exit. Allocations keep the fast unwinder: a stack that
    # is unwound fully (fast_unwind_on_malloc=0) costs four times the CPU in the GUI
    # suites and makes keldro-cli miss its tests' time limits.
    ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:log_path=$logs/asan \
        LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan \
        sanitized_tests build-asan
}

tsan_tests() {
    local logs=$source_dir/build-tsan/sanitizer-logs supp=$source_dir/tools/sanitizers
    local pattern
    pattern="^($(IFS='|'; echo "${threaded_tests[*]}"))\$"
    # The libraries that are not built with ThreadSanitizer (Qt, glib, libmosquitto) are
    # not judged by what the C library does for them; keldro's own code is.
    TSAN_OPTIONS=suppressions=$supp/tsan.supp:ignore_noninstrumented_modules=1:second_deadlock_stack=1:print_suppressions=0:log_path=$logs/tsan \
        sanitized_tests build-tsan -R "$pattern"
}

# A build folder keeps the generator it was made with.
configure() {
    local dir=$1
    shift
    if [ -f "$dir/CMakeCache.txt" ]; then
        cmake -S . -B "$dir" "$@" "${common[@]}"
    else
        cmake -S . -B "$dir" "${ninja[@]}" "$@" "${common[@]}"
    fi
}

# Debug builds: the sanitizers' reports name every line. The line tables and function
# names (-g1) are all a report needs; the full debug information of every Qt template
# would cost a fifth more time to compile and link.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DKELDRO_BENCH=OFF)
asan_build() {
    configure build-asan "${sanitizer_flags[@]}" -DKELDRO_SANITIZE=address,undefined
    cmake --build build-asan -j"$jobs"
}

tsan_build() {
    configure build-tsan "${sanitizer_flags[@]}" -DKELDRO_SANITIZE=thread
    cmake --build build-tsan -j"$jobs" --target "${threaded_targets[@]}"
}

build_qt() {
    configure "$@"
    cmake --build "$1" -j"$jobs"
}

# Qt 5 builds what the package holds, optimised, and the benchmarks. The Qt 6 build is
# for the tests: Debug, so that Qt's and keldro's assertions hold in every test, with
# some optimisation and line tables only, which compiles in two thirds of the time.
timed "Qt 5 build" build_qt "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
timed "Qt 6 build" build_qt "$build6" -DKELDRO_QT=6 -DCMAKE_BUILD_TYPE=Debug \
    "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" -DKELDRO_BENCH=OFF
# The decoder and the record reader are the same code on both: one fuzz run covers
# them, the time shared between the two targets.
timed "fuzz" bash fuzz/run.sh "${FUZZ_SECONDS:-60}"
timed "Qt 5 tests" ctest_in "$build" $((jobs * 2))
timed "Qt 6 tests" ctest_in "$build6" $((jobs * 2))

if [ "${SANITIZERS:-1}" != 0 ]; then
    # Qt 5, the whole suite, Debug: every read past a buffer, use after free, leak and
    # undefined behaviour stops the program that does it.
    timed "ASan+UBSan build" asan_build
    timed "ASan+UBSan tests" asan_tests
    # Only the suites with threads, and the programs they start.
    timed "TSan build" tsan_build
    timed "TSan tests" tsan_tests
fi

timed "package" bash tools/package.sh "$build"
