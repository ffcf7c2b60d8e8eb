# Sourced by the run and test scripts: a Wine prefix of the run's own and Xvfb
# displays, all removed again when the script ends.
WINE_ROOT=$(mktemp -d /tmp/skiprail-wine.XXXXXX)
XVFB_PIDS=()
WINE_PREFIXES=()
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# new_prefix NAME: makes a fresh prefix and prints its path.
new_prefix() {
    local prefix="$WINE_ROOT/$1"
    WINE_PREFIXES+=("$prefix")
    WINEPREFIX="$prefix" DISPLAY= wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
    echo "$prefix"
}

# start_display WxH: starts Xvfb on a free display and prints its name.
start_display() {
    local n=70
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "${1}x24" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PIDS+=($!)
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    echo ":$n"
}

cleanup_wine() {
    for prefix in "${WINE_PREFIXES[@]}"; do WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; done
    for pid in "${XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$WINE_ROOT"
}
