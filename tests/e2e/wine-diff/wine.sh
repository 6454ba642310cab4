# shellcheck shell=bash
# Shared by run and default-scan: a fresh Wine prefix of their own, and the
# Windows build of the host and engine run inside it. Source it, then call
# wine_prefix_create once; the prefix, its wineserver and the caller's
# $scratch folder go when the script exits.
#
# Wine starts every program with a clean environment (env -i): the Windows
# process then holds only what Wine itself puts there, so the environment the
# machine folder records does not depend on the shell the test runs from,
# and the locale is fixed: C.UTF-8, present on every Debian machine, so Wine
# reads host file names as UTF-8 (a locale glibc lacks would make Wine take
# them as ASCII) and its ANSI code page is Windows-1252, as the stand-in's.

wine_bin=${HM_WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
wineserver_bin=${HM_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
# Where the program and the plug-in live inside the prefix, as Windows sees it.
wine_host_folder='C:\hivemender'

in_wine() { # PROGRAM ARGS...: runs a Windows program in the prefix
    env -i HOME="$HOME" USER="${USER:-root}" PATH=/usr/bin:/bin LANG=C.UTF-8 \
        WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all "$wine_bin" "$@"
}

windows_path() { printf 'Z:%s' "${1//\//\\}"; } # a host path as Wine's drive Z: shows it

wine_prefix_remove() {
    WINEPREFIX="$WINEPREFIX" "$wineserver_bin" -k >/dev/null 2>&1 || true
    WINEPREFIX="$WINEPREFIX" "$wineserver_bin" -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}

wine_prefix_create() {
    WINEPREFIX=$(mktemp -d /tmp/hivemender-winediff.XXXXXX)
    # shellcheck disable=SC2154 # the caller's scratch folder
    trap 'wine_prefix_remove; rm -rf "${scratch:-}"' EXIT
    in_wine wineboot -i >/dev/null 2>&1
    # Every later step must see the registry wineboot finished writing.
    WINEPREFIX="$WINEPREFIX" "$wineserver_bin" -w
    # One session for every step, as on a Windows machine that stays up: a
    # wineserver that started again would start the session again, and
    # wineboot would run (and empty) the RunOnce keys the cases plant. A
    # server whose script was killed outright still goes a minute later.
    WINEPREFIX="$WINEPREFIX" "$wineserver_bin" -p60
}

# The host, the engine beside it (the host loads hivemender.dll from its own
# folder) and the identity probe, in C:\hivemender.
wine_install_host() { # MINGW_BUILD
    local folder=$WINEPREFIX/drive_c/hivemender
    mkdir -p "$folder"
    cp "$1/host/hivemender.exe" "$1/engine/hivemender.dll" "$1/tests/e2e/wine_identity.exe" "$folder/"
}

wine_scan() { # OUT ERR: the Windows build's raw report of the prefix
    local rc=0
    export -f in_wine
    export wine_bin WINEPREFIX
    timeout 240 bash -c 'in_wine "$@"' scan "$wine_host_folder\\hivemender.exe" --raw scan \
        >"$1" 2>"$2" || rc=$?
    if [ "$rc" -ne 0 ]; then
        cat "$2" >&2
        echo "FAILED: the Windows host exited with $rc (124: no report within 240 s)" >&2
        exit 1
    fi
}

# One problem per line, for people and for diff.
report_lines() { sed 's/},{/},\n{/g' "$1"; }
