# Helpers of the installer tests (sourced by installer_test.sh, which sets tree, case_name,
# work, template and prefix): messages and checks, a fresh Wine prefix with its own
# display, snapshots of the registry and of drive C:, registry queries, timing.
# shellcheck shell=bash

say() { echo "installer_test[$case_name]: $*"; }
fail() { say "FAIL: $*"; failures=$((failures + 1)); }
fatal() { say "FATAL: $*"; failures=$((failures + 1)); finish; }
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then say "ok: $what"; else fail "$what"; fi
}

export WINEARCH=win32 WINEDEBUG=-all
# No crash debugger (a crash must fail), no Mono/Gecko installers, no host menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d"

# The test's own virtual display (Porvex398 opens its window): -displayfd picks a free
# display number without racing other displays of the machine.
xvfb_pid=
start_display() {
    local fifo=$work/displayfd num
    rm -f "$fifo"
    mkfifo "$fifo"
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 20 num <"$fifo" || fatal "Xvfb did not start"
    rm -f "$fifo"
    export DISPLAY=:$num
}

finish() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$prefix" ]; then
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
    fi
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
    if [ $failures = 0 ]; then
        say "PASS"
        rm -rf "$prefix"
        exit 0
    fi
    say "$failures check(s) failed; the prefix stays in $prefix, logs in $work"
    exit 1
}

# ---- A fresh prefix ------------------------------------------------------------------
# Made once per tree as a template that is never run; each run copies it (the system DLLs
# are hard links: nothing writes them; everything else is copied).
make_template() {
    mkdir -p "$(dirname "$template")"
    exec 7>"$template.lock"
    flock 7
    if [ ! -f "$template/system.reg" ]; then
        say "creating the template prefix (once per build tree)"
        rm -rf "$template"
        env -u DISPLAY WINEPREFIX="$template" wine wineboot -i </dev/null >/dev/null 2>&1
        WINEPREFIX=$template wineserver -w
        [ -f "$template/system.reg" ] || { flock -u 7; fatal "wineboot could not create $template"; }
    fi
    flock -u 7
}

fresh_prefix() {
    rm -rf "$work"
    mkdir -p "$work" "$prefix"
    (
        cd "$template" || exit 1
        for entry in .[!.]* *; do
            [ -e "$entry" ] || [ -L "$entry" ] || continue
            [ "$entry" = drive_c ] && continue
            cp -a "$entry" "$prefix/"
        done
        mkdir -p "$prefix/drive_c/windows"
        for entry in drive_c/* drive_c/windows/*; do
            case "$entry" in
                drive_c/windows) ;;
                drive_c/windows/system32) cp -al "$entry" "$prefix/$entry" ;;
                *) cp -a "$entry" "$prefix/$entry" ;;
            esac
        done
    ) || fatal "the template could not be copied"
    export WINEPREFIX=$prefix
    start_display
    setsid wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
}

win_path() { echo "Z:${1//\//\\}"; }
unix_path() {  # C:\a\b -> $prefix/drive_c/a/b
    local p=${1#[Cc]:}
    echo "$prefix/drive_c${p//\\//}"
}

run() { wine "$@" </dev/null 2>>"$work/wine-stderr.log"; }

# ---- Snapshots -------------------------------------------------------------------------
# The registry as "key" and "key|value name" lines (lower case), from regedit's export.
registry_snapshot() {
    local out=$1
    rm -f "$work/export.reg"
    run regedit /E "$(win_path "$work/export.reg")" || fatal "regedit /E failed"
    iconv -f UTF-16 -t UTF-8 "$work/export.reg" | tr -d '\r' | awk '
        /^\[/ { key = substr($0, 2, length($0) - 2); print key; next }
        /^@=/ { print key "|@"; next }
        /^"/ {
            name = ""
            for (i = 2; i <= length($0); i++) {
                c = substr($0, i, 1)
                if (c == "\\") { name = name substr($0, i, 2); i++; continue }
                if (c == "\"") break
                name = name c
            }
            print key "|" name
        }' | tr '[:upper:]' '[:lower:]' | LC_ALL=C sort -u >"$out"
}

# Drive C: as paths, without the temporary folders (the setup's log and NSIS's copy of the
# uninstaller live there, by design).
files_snapshot() {
    (cd "$prefix/drive_c" && find . -xdev \( -path './users/*/Temp' -o -path './users/*/AppData/Local/Temp' -o -path './windows/temp' \) -prune -o -print) |
        LC_ALL=C sort >"$1"
}

# Not ours: what Wine writes when a program first uses the X display (the display's device
# map, video and device-class keys, the hardware profile), the console's settings (written
# by cmd) and Wine's own configuration. And one entry of ours by design: NSIS runs the
# uninstaller from a copy in the temporary folder, which asks Windows to delete that copy
# at the next restart (PendingFileRenameOperations).
wine_noise='^hkey_local_machine\\hardware\\|^hkey_local_machine\\system\\currentcontrolset\\(control\\deviceclasses|control\\video|hardware profiles)(\\|\||$)|^hkey_users\\[^|]*\\console(\||$)|\\software\\wine\\|^hkey_local_machine\\system\\currentcontrolset\\control\\session manager\|pendingfilerenameoperations$'

# Compares with the snapshots taken before the installation: nothing may be added but the
# key named KEEP (lower case, with its values) and Wine's own entries.
compare_with_snapshot() {
    local keep=$1
    registry_snapshot "$work/registry-after.txt"
    files_snapshot "$work/files-after.txt"
    LC_ALL=C comm -13 "$work/registry-before.txt" "$work/registry-after.txt" >"$work/registry-added.txt"
    grep -v -E "$wine_noise" "$work/registry-added.txt" | grep -v -F "$keep" >"$work/registry-left.txt"
    if [ -s "$work/registry-left.txt" ]; then
        fail "registry entries left after the uninstall:"
        sed 's/^/    /' "$work/registry-left.txt" | head -40
    else
        say "ok: no registry entry left but $keep ($(wc -l <"$work/registry-added.txt") added lines in all, Wine's own or that key's)"
    fi
    LC_ALL=C comm -13 "$work/files-before.txt" "$work/files-after.txt" >"$work/files-left.txt"
    if [ -s "$work/files-left.txt" ]; then
        fail "files left on drive C: after the uninstall:"
        sed 's/^/    /' "$work/files-left.txt" | head -40
    else
        say "ok: no file or folder left on drive C:"
    fi
}

# ---- Registry helpers ------------------------------------------------------------------
reg_value() {  # reg_value KEY NAME -> the value's data ("" when missing); NAME "" = default
    local query=(/v "$2") name=$2
    [ -n "$2" ] || { query=(/ve); name='(Default)'; }
    run reg query "$1" "${query[@]}" 2>/dev/null | tr -d '\r' |
        awk -v head="    $name    " 'index($0, head) == 1 {
            rest = substr($0, length(head) + 1); sub(/^[^ ]+    /, "", rest); print rest; exit }'
}
reg_has_key() { run reg query "$1" >/dev/null 2>&1; }

temp_dir() { unix_path "$(run cmd /c echo %TEMP% | tr -d '\r')"; }

# ---- Timing ----------------------------------------------------------------------------
now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds_since() {  # seconds_since START_MS -> "1.234"
    local ms=$(($(now_ms) - $1))
    printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}
# Runs a setup silently; its exit code in $setup_status and the time it took in $setup_time.
setup_status=0
setup_time=0
run_setup() {
    local start
    start=$(now_ms)
    run "$@"
    setup_status=$?
    setup_time=$(seconds_since "$start")
}
