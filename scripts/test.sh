#!/usr/bin/env bash
# Builds and runs every test tier; ends non-zero on any failure.
#   1. the portable core natively, under AddressSanitizer and UBSan, and a
#      short run of each fuzzer;
#   2. the Windows tests under Wine on Xvfb displays, for the 64-bit and the
#      32-bit build, and the release's imports and zipped size;
#   3. the two-PC system tests (64-bit build, beside the previous release's
#      program for a pair across releases, and the Linux program as a Slave
#      of it), and the 32-bit pair linked on the rig once;
#   and, once the Linux program is there, its Debian package.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build}
FUZZ_SECONDS=${FUZZ_SECONDS:-15}

bash scripts/setup.sh || exit 1

passed=0
failed=0
failures=()

# record NAME STATUS LOG: counts a gtest executable's results.
record() {
    local name=$1 status=$2 log=$3 ok bad
    ok=$(grep -cE '^\[       OK \]' "$log" || true)
    bad=$(grep -cE '^\[  FAILED  \] .*\([0-9]+ ms\)' "$log" || true)
    if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then bad=1; fi
    passed=$((passed + ok))
    failed=$((failed + bad))
    [ "$bad" -gt 0 ] && failures+=("$name")
    echo "== $name: $ok passed, $bad failed"
}

echo "== native build (clang, sanitizers)"
cmake -S . -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DSKIPRAIL_TESTS=ON -DGTEST_SOURCE_DIR=/usr/src/googletest >/dev/null || exit 1
ninja -C "$BUILD/native" core_tests x_side_test packet_fuzz queue_fuzz clipboard_fuzz record_fuzz xwatch wlwatch xfloor || exit 1
# The Linux program, once its front end is there: the system tests run it on
# a Linux PC of the rig.
if [ -f unix/main.cpp ]; then
    ninja -C "$BUILD/native" skiprail || exit 1
    export SKIPRAIL_LINUX_BUILD="$BUILD/native"
fi
"$BUILD/native/tests/native/core_tests" 2>&1 | tee "$BUILD/core_tests.log"
record core_tests "${PIPESTATUS[0]}" "$BUILD/core_tests.log"
# The Linux program's X side against an Xvfb of its own: the Slave's replay and
# clipboard, and what a Master takes of X (the edges, the capture, the notice).
timeout 300 "$BUILD/native/tests/unix/x_side_test" 2>&1 | tee "$BUILD/x_side_test.log"
record x_side_test "${PIPESTATUS[0]}" "$BUILD/x_side_test.log"

for fuzzer in packet_fuzz queue_fuzz clipboard_fuzz record_fuzz; do
    mkdir -p "$BUILD/corpus/$fuzzer"
    if "$BUILD/native/tests/native/$fuzzer" -max_total_time="$FUZZ_SECONDS" -max_len=4096 \
        "$BUILD/corpus/$fuzzer" >"$BUILD/$fuzzer.log" 2>&1; then
        passed=$((passed + 1)); echo "== $fuzzer: $(tail -1 "$BUILD/$fuzzer.log")"
    else
        failed=$((failed + 1)); failures+=("$fuzzer"); tail -30 "$BUILD/$fuzzer.log"
    fi
done

# check_deb: the Debian package builds from a Release build of a plain native
# configure and holds the program, the libraries it needs, and the
# capability to listen below port 1024 granted on installation; its manual
# page renders without a warning, its menu entry is valid with its icon
# beside it, and lintian finds no error and no warning in it.
check_deb() {
    local dir="$BUILD/linux-release" out="$BUILD/deb-check" package info problems=""
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKIPRAIL_TESTS=OFF >/dev/null &&
        ninja -C "$dir" skiprail >/dev/null &&
        package=$(bash scripts/pack_deb.sh "$dir" "$out") || package=""
    info=$([ -n "$package" ] && dpkg-deb -I "$package" control postinst; [ -n "$package" ] && dpkg-deb -c "$package")
    grep -qE ' \./usr/bin/skiprail$' <<<"$info" && grep -q 'setcap cap_net_bind_service=+ep /usr/bin/skiprail' <<<"$info" &&
        grep -qE '^Depends:.*libx11-6.*' <<<"$info" && grep -qE '^Depends:.*libssl3' <<<"$info" &&
        grep -qE '^Depends:.*libwayland-client0' <<<"$info" && grep -qE '^Depends:.*libsystemd0' <<<"$info" ||
        problems+="the program, its Depends or its postinst missing"$'\n'
    rm -rf "$out/root"
    [ -n "$package" ] && dpkg-deb -x "$package" "$out/root"
    local page=$out/root/usr/share/man/man1/skiprail.1.gz entry=$out/root/usr/share/applications/skiprail.desktop
    for file in "$page" "$entry" "$out"/root/usr/share/icons/hicolor/{48x48,128x128}/apps/skiprail.png; do
        [ -s "$file" ] || problems+="no ${file#"$out/root"}"$'\n'
    done
    local said
    if [ -s "$page" ]; then
        said=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
        [ -n "$said" ] && problems+="$said"$'\n'
    fi
    if [ -s "$entry" ]; then
        said=$(desktop-file-validate "$entry" 2>&1)
        [ -n "$said" ] && problems+="$said"$'\n'
    fi
    if [ -n "$package" ] && ! said=$(lintian --fail-on error,warning "$package" 2>&1); then
        problems+="lintian:"$'\n'"$said"$'\n'
    fi
    if [ -n "$package" ] && [ -z "$problems" ]; then
        passed=$((passed + 1)); echo "== Debian package: $(basename "$package"), $(stat -c %s "$package") bytes"
    else
        failed=$((failed + 1)); failures+=("Debian package"); echo "== Debian package: not as it should be"; echo "$problems"; echo "$info"
    fi
}
[ -f unix/main.cpp ] && check_deb

source scripts/wine_env.sh
trap cleanup_wine EXIT
PREFIX=$(new_prefix tests)

# run_wine_test DIR EXE WxH: one test executable on a display of that size.
run_wine_test() {
    local dir=$1 exe=$2 size=$3 display log="$BUILD/$(basename "$1")-$2.log"
    display=$(start_display "$size")
    (cd "$dir/wine-tests" && WINEPREFIX="$PREFIX" DISPLAY="$display" \
        timeout 300 wine "$exe.exe" --gtest_color=no) >"$log" 2>&1
    local status=$?
    WINEPREFIX="$PREFIX" wineserver -k 2>/dev/null || true
    cat "$log"
    record "$exe ($(basename "$dir"))" "$status" "$log"
}

# check_imports DIR ARCH: the shipped pair is self-contained, and imports
# nothing that Windows 2000 lacks among what toolchains and habits pull in
# unnoticed (the full lists are in DIR/imports-*.txt).
NOT_ON_WINDOWS_2000='GetTickCount64|AddVectoredExceptionHandler|RemoveVectoredExceptionHandler|___lc_codepage_func|___mb_cur_max_func|GetLayeredWindowAttributes|RtlCaptureContext|InitializeCriticalSectionEx|InitOnceExecuteOnce|GetModuleHandleEx[AW]|SetProcessDPIAware|SetProcessDpiAwareness|GetDpiForWindow|AttachConsole|AddClipboardFormatListener|RemoveClipboardFormatListener|GetNativeSystemInfo|IsWow64Process|inet_pton|inet_ntop|getaddrinfo|freeaddrinfo|getnameinfo|WSAPoll|RegisterRawInputDevices|GetRawInputData|ChangeWindowMessageFilter|ChangeWindowMessageFilterEx|PrintWindow|SetDllDirectory[AW]|AcquireSRWLock.*|ReleaseSRWLock.*|InitializeSRWLock|InitializeConditionVariable|SleepConditionVariable.*|WakeConditionVariable|WakeAllConditionVariable|CreateEventEx[AW]|Fls(Alloc|Free|GetValue|SetValue)|GetThreadId|GetProcessId|QueryFullProcessImageName[AW]|GetFinalPathNameByHandle[AW]|CreateSymbolicLink[AW]|WTSRegisterSessionNotification'
check_imports() {
    local dir=$1 arch=$2 bad
    bad=$(cat "$dir/imports-skiprail.exe.txt" "$dir/imports-srhook.dll.txt" | grep -vE '^#' |
        grep -vE '^(KERNEL32|USER32|GDI32|SHELL32|ADVAPI32|WS2_32|WSOCK32|MSVCRT|SRHOOK)\.DLL ' || true)
    bad+=$(cat "$dir/imports-skiprail.exe.txt" "$dir/imports-srhook.dll.txt" | grep -E " ($NOT_ON_WINDOWS_2000)\$" || true)
    echo "== release pair ($arch): skiprail.exe $(stat -c %s "$dir/skiprail.exe") + srhook.dll $(stat -c %s "$dir/hook/srhook.dll") bytes"
    if [ -z "$bad" ]; then
        passed=$((passed + 1))
    else
        echo "imports beyond Windows 2000's system DLLs:"; echo "$bad"
        failed=$((failed + 1)); failures+=("release pair imports ($arch)")
    fi
}

# check_zip: both pairs and the guide, zipped as the release zips them, are
# at most 1 MB.
check_zip() {
    local size
    size=$(python3 scripts/pack_release.py "$BUILD/release-check.zip" skiprail docs/user-guide.txt \
        "32-bit=$BUILD/windows32" "64-bit=$BUILD/windows")
    echo "== release zip: $size bytes"
    if [ -n "$size" ] && [ "$size" -le $((1024 * 1024)) ]; then
        passed=$((passed + 1))
    else
        echo "the release zip is over 1 MB"; failed=$((failed + 1)); failures+=("release zip size")
    fi
}

# The same sources as a 64-bit and as a 32-bit program, each tested under Wine
# (the 32-bit one in the same prefix, through Wine's 32-bit loader).
for arch in x86_64 i686; do
    dir="$BUILD/windows"
    [ "$arch" = i686 ] && dir="$BUILD/windows32"
    echo "== Windows build, $arch (MinGW-w64)"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-$arch.cmake" \
        -DSKIPRAIL_TESTS=ON -DGTEST_SOURCE_DIR=/usr/src/googletest >/dev/null || exit 1
    ninja -C "$dir" || exit 1
    check_imports "$dir" "$arch"

    echo "== Windows tests under Wine, $arch"
    run_wine_test "$dir" hook_test 1280x1024
    run_wine_test "$dir" spine_test 1366x768
    run_wine_test "$dir" master_test 1280x1024
    run_wine_test "$dir" lifecycle_test 1280x1024
    run_wine_test "$dir" settings_test 1280x1024
    run_wine_test "$dir" shell_test 1280x1024
    run_wine_test "$dir" link_key_test 1024x768
done

check_zip

# The previous release's program and hook library (64-bit), for the system
# test of a pair across releases: built once from its commit, in a folder of
# its own.
PREVIOUS_RELEASE=10c87ca
export SKIPRAIL_PREVIOUS_BUILD="$BUILD/previous-$PREVIOUS_RELEASE"
if [ ! -f "$SKIPRAIL_PREVIOUS_BUILD/skiprail.exe" ] || [ ! -f "$SKIPRAIL_PREVIOUS_BUILD/hook/srhook.dll" ]; then
    echo "== the previous release ($PREVIOUS_RELEASE), x86_64"
    rm -rf "$SKIPRAIL_PREVIOUS_BUILD" "$SKIPRAIL_PREVIOUS_BUILD.src" && mkdir -p "$SKIPRAIL_PREVIOUS_BUILD.src" &&
        git archive "$PREVIOUS_RELEASE" | tar -x -C "$SKIPRAIL_PREVIOUS_BUILD.src" &&
        cmake -S "$SKIPRAIL_PREVIOUS_BUILD.src" -B "$SKIPRAIL_PREVIOUS_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null &&
        ninja -C "$SKIPRAIL_PREVIOUS_BUILD" skiprail srhook >/dev/null ||
        { failed=$((failed + 1)); failures+=("previous release build"); }
fi

echo "== System tests: two PCs under Wine"
SYSTEM_LOG="$BUILD/system_tests.log"
timeout 1800 bash tests/system/run_system_tests.sh "$BUILD/windows" >"$SYSTEM_LOG" 2>&1
system_status=$?
cat "$SYSTEM_LOG"
system_ran=$(grep -oE '^Ran [0-9]+ test' "$SYSTEM_LOG" | grep -oE '[0-9]+' | tail -1)
system_bad=0
for kind in failures errors; do
    n=$(grep -oE "^FAILED \(.*\b$kind=[0-9]+" "$SYSTEM_LOG" | grep -oE '[0-9]+$' | tail -1)
    system_bad=$((system_bad + ${n:-0}))
done
system_skipped=$(grep -oE "skipped=[0-9]+" "$SYSTEM_LOG" | grep -oE '[0-9]+' | tail -1)
if [ "$system_status" -ne 0 ] && [ "$system_bad" -eq 0 ]; then system_bad=1; fi
system_ok=$(( ${system_ran:-0} - system_bad - ${system_skipped:-0} ))
[ "$system_ok" -lt 0 ] && system_ok=0
passed=$((passed + system_ok))
failed=$((failed + system_bad))
[ "$system_bad" -gt 0 ] && failures+=("system_tests")
echo "== system_tests: $system_ok passed, $system_bad failed"

# The 32-bit pair on the rig: the run command's two PCs, linked, a crossing,
# typing into notepad on the Slave, About, and back.
echo "== 32-bit pair on the two-PC rig"
if timeout 600 python3 tests/system/rig.py demo --build "$BUILD/windows32" --out "$BUILD/demo32" \
    >"$BUILD/demo32.log" 2>&1; then
    passed=$((passed + 1))
else
    failed=$((failed + 1)); failures+=("32-bit pair on the rig")
fi
cat "$BUILD/demo32.log"

echo
[ ${#failures[@]} -gt 0 ] && echo "Failed: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
