# Sourced by the run and test scripts: Wine prefixes of the run's own and Xvfb
# displays, all ended and removed again by cleanup_wine. The two functions are
# called as $(...), in a subshell, so what they start is written down in files
# under WINE_ROOT, where cleanup_wine finds it.
WINE_ROOT=$(mktemp -d /tmp/skiprail-wine.XXXXXX)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# new_prefix NAME: makes a fresh prefix and prints its path.
new_prefix() {
    local prefix="$WINE_ROOT/$1"
    echo "$prefix" >>"$WINE_ROOT/prefixes"
    WINEPREFIX="$prefix" DISPLAY= wineboot -i >/dev/null 2>&1 || true
    # Xvfb runs no window manager: without this Wine waits 2 s for every
    # hidden or destroyed top-level window to be withdrawn. /reg:64 names the
    # view 64-bit programs read; HKCU\Software is shared with the 32-bit view.
    WINEPREFIX="$prefix" DISPLAY= wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f /reg:64 >/dev/null 2>&1 || true
    WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
    echo "$prefix"
}

# start_display WxH: starts Xvfb on a free display and prints its name. The
# display is ours once its lock names our Xvfb and its socket takes a
# connection: a display taken meanwhile by another run ends our Xvfb, and the
# next number is tried.
start_display() {
    local n=70 pid
    while [ "$n" -lt 170 ]; do
        if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then n=$((n + 1)); continue; fi
        Xvfb ":$n" -screen 0 "${1}x24" -nolisten tcp >/dev/null 2>&1 &
        pid=$!
        for _ in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            if [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$n-lock")" = "$pid" ] && python3 -c \
                'import socket, sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])' \
                "/tmp/.X11-unix/X$n" 2>/dev/null; then
                echo "$pid" >>"$WINE_ROOT/displays"
                echo ":$n"
                return 0
            fi
            sleep 0.1
        done
        kill "$pid" 2>/dev/null
        n=$((n + 1))
    done
    echo "no free X display" >&2
    return 1
}

cleanup_wine() {
    local prefix pid
    if [ -f "$WINE_ROOT/prefixes" ]; then
        while read -r prefix; do WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; done <"$WINE_ROOT/prefixes"
    fi
    if [ -f "$WINE_ROOT/displays" ]; then
        while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$WINE_ROOT/displays"
    fi
    rm -rf "$WINE_ROOT"
}
