#!/usr/bin/env bash
# The setup program end to end under Wine, in a fresh prefix of the test's own:
#
#   installer_test.sh --tree DIR --case full|minimal
#
# full:    snapshot of the registry and of drive C:; silent install with every default
#          component; the server is listed by "opcclient servers" and answers "opcclient
#          status"; the installed Tarnet.ocx loads in a host; a silent upgrade over the same
#          version while Porvex398 runs (it is asked to end and does); a silent upgrade to a
#          higher version with the DCOM settings; the quiet uninstall command from the
#          Programs and Features entry; then nothing of ours is left in the registry or on
#          drive C: but the door server's settings key, whose values survived.
# minimal: another OPC server claims the DA 1.0 category first; a bad option changes
#          nothing; a silent install without the optional components (/NOCONTROL /NOTOOLS)
#          into a folder named on the command line (/D=, with a blank); the control and the
#          tools are absent, the server still answers; an upgrade keeps the folder and the
#          choices; uninstall leaves the other server's entries and nothing of ours.
#
# The setups are built by scripts/package from the tree, exactly as shipped; the higher
# version is the same files in a setup that calls itself 2.1.9.9999 (--version).
# The test prints the setup's size and the install and uninstall times. It brings its own
# virtual display (Xvfb) and stops everything it started.
set -uo pipefail

tree=
case_name=full
while [ $# -gt 0 ]; do
    case "$1" in
        --tree) tree=$(realpath -m "$2"); shift 2 ;;
        --case) case_name=$2; shift 2 ;;
        *) echo "usage: installer_test.sh --tree DIR --case full|minimal" >&2; exit 2 ;;
    esac
done
root=$(cd "$(dirname "$0")/../.." && pwd)
[ -n "$tree" ] || { echo "installer_test: --tree is required" >&2; exit 2; }

work=$tree/wine/installer-test/$case_name
template=$tree/wine/installer-test/template
prefix=$work/prefix
failures=0

# shellcheck source=installer_support.sh
source "$(dirname "$0")/installer_support.sh"

settings_key='hkey_local_machine\software\microsoft\windows\help'

# What the installation added to the registry must hold every kind of entry the uninstall
# has to remove again; otherwise the final comparison would prove nothing.
check_installed_entries() {
    registry_snapshot "$work/registry-installed.txt"
    LC_ALL=C comm -13 "$work/registry-before.txt" "$work/registry-installed.txt" >"$work/registry-installed-added.txt"
    local entry
    for entry in "\\clsid\\{e8b390bf-326a-452d-acf7-49f4c60ff13e}\\localserver32" \
        "\\porvex398.porvexserver.3\\opc\\vendor" \
        "\\clsid\\{e8b390bf-326a-452d-acf7-49f4c60ff13e}\\implemented categories\\{63d5f432-cfe4-11d1-b2c8-0060083ba1fb}" \
        "\\component categories\\{63d5f432-cfe4-11d1-b2c8-0060083ba1fb}" \
        "\\component categories\\{63d5f430-cfe4-11d1-b2c8-0060083ba1fb}" \
        "\\proxystubclsid32" \
        "\\typelib\\{7c586269-db38-44ad-af18-ef19796f3913}" \
        "\\tarnet.tarnetctrl.1" \
        "\\uninstall\\porvex398|quietuninstallstring"; do
        check "the installation added ...$entry" grep -qF "$entry" "$work/registry-installed-added.txt"
    done
}

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Porvex398'
server_clsid='{E8B390BF-326A-452D-ACF7-49F4C60FF13E}'
tarnet_progid='TARNET.TarnetCtrl.1'

# ---- Steps -----------------------------------------------------------------------------
setup_exe=
high_setup_exe=
version=
high_version=2.1.9.9999

build_setups() {
    version=$(sed -n 's/^!define PORVEX_VERSION "\(.*\)"$/\1/p' "$tree/installer/porvex-version.nsh")
    [ -n "$version" ] || fatal "no version in $tree/installer/porvex-version.nsh"
    # The setup as scripts/test makes it (scripts/package rebuilds it when it is older than
    # the tree's files).
    setup_exe=$tree/Porvex398-$version-setup.exe
    "$root/scripts/package" --tree "$tree" >/dev/null || fatal "scripts/package failed"
    say "setup program: $(basename "$setup_exe"), $(stat -c %s "$setup_exe") bytes"
    if [ "$case_name" = full ]; then
        high_setup_exe=$tree/installer/Porvex398-$high_version-setup.exe
        "$root/scripts/package" --tree "$tree" --version "$high_version" --output "$high_setup_exe" >/dev/null ||
            fatal "scripts/package --version failed"
    fi
}

# The quiet uninstall command from the Programs and Features entry, waited for: NSIS's
# uninstaller runs from a copy in the temporary folder, so the command returns at once;
# the end is the log's last line.
run_quiet_uninstall() {
    local command exe args start log
    command=$(reg_value "$uninstall_key" QuietUninstallString)
    [ -n "$command" ] || { fail "no QuietUninstallString"; return; }
    exe=$(sed -E 's/^"([^"]*)".*/\1/' <<<"$command")
    args=$(sed -E 's/^"[^"]*" *//' <<<"$command")
    check "the quiet uninstall command is the uninstaller with /S" test "$args" = "/S"
    log=$(temp_dir)/Porvex398-setup.log
    start=$(now_ms)
    run "$exe" /S
    for _ in $(seq 1 600); do
        if [ -f "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" 2>/dev/null | tail -n 1 | grep -q "uninstall finished"; then
            break
        fi
        sleep 0.1
    done
    setup_time=$(seconds_since "$start")
    iconv -f UTF-16 -t UTF-8 "$log" | tail -n 1 | grep -q "uninstall finished" || fail "the uninstaller did not finish within 60 s"
    sleep 1  # the uninstaller process ends after its last log line
}

write_settings() {
    local db=$work/doors.db
    run "$(win_path "$tree/bin/doordb.exe")" create "$(win_path "$db")" --controllers 1 \
        --doors-per-controller 1 --ip 127.0.0.1 --base-port 1 >/dev/null || fatal "doordb failed"
    local key='HKLM\Software\Microsoft\Windows\Help'
    run reg add "$key" /v OPCDBTYPE /t REG_DWORD /d 2 /f >/dev/null
    run reg add "$key" /v OPCIP /t REG_SZ /d "$(win_path "$db")" /f >/dev/null
    local v
    for v in OPCDoorState OPCDoorCard OPCDoorOpen OPCInvCard OPCPryAlarm OPCOpenClose OPCAlarmType; do
        run reg add "$key" /v $v /t REG_SZ /d 1 /f >/dev/null
    done
    settings_ip=$(win_path "$db")
}

settings_kept() {
    [ "$(reg_value 'HKLM\Software\Microsoft\Windows\Help' OPCIP)" = "$settings_ip" ] &&
        [ "$(reg_value 'HKLM\Software\Microsoft\Windows\Help' OPCDBTYPE)" = 0x2 ]
}

opcclient_lists_server() {
    local out
    out=$(run "$1" servers | tr -d '\r')
    grep -q "Porvex398.PorvexServer.3" <<<"$out" && grep -q "$server_clsid" <<<"$out"
}

opcclient_status_answers() {
    local out
    out=$(run "$1" status Porvex398.PorvexServer.3 | tr -d '\r')
    echo "$out" >"$work/status.txt"
    grep -q "^state  *running" <<<"$out" && grep -q "2.1.1207" <<<"$out"
}

# Whether a Porvex398.exe runs in this test's prefix (other prefixes of the machine may
# run their own).
# COM starts it by the short (8.3) path when the folder has a blank.
server_running() {
    local environ
    for environ in /proc/[0-9]*/environ; do
        tr '\0' '\n' 2>/dev/null <"$environ" | grep -qxF "WINEPREFIX=$prefix" || continue
        tr '\0' ' ' 2>/dev/null <"${environ%/environ}/cmdline" |
            grep -qiF -e "$program_long" -e "$program_short" && return 0
    done
    return 1
}
# Waits until it has ended (one started by COM ends after its last client).
wait_server_gone() {
    for _ in $(seq 1 150); do
        server_running || return 0
        sleep 0.2
    done
    return 1
}

installed_file() { test -f "$install_dir/$1"; }
absent_file() { test ! -e "$install_dir/$1"; }

start_menu=
common_checks() {
    local program_data
    program_data=$(unix_path "$(run cmd /c echo %ProgramData% | tr -d '\r')")
    start_menu="$program_data/Microsoft/Windows/Start Menu/Programs/Porvex"
    local f
    for f in Porvex398.exe ZorvikAccess.dll PorvexOpcPS.dll README.html uninstall.exe; do
        check "$f installed" installed_file "$f"
    done
    check "Start Menu: program, README, uninstaller" test -f "$start_menu/Porvex398.lnk" -a \
        -f "$start_menu/README.lnk" -a -f "$start_menu/Uninstall Porvex398.lnk"
    check "Programs and Features: name" test "$(reg_value "$uninstall_key" DisplayName)" = "Porvex Server(398)"
    check "Programs and Features: publisher" test "$(reg_value "$uninstall_key" Publisher)" = "Porvex"
    check "Programs and Features: size" test -n "$(reg_value "$uninstall_key" EstimatedSize)"
    check "Programs and Features: uninstall command" test \
        "$(reg_value "$uninstall_key" UninstallString)" = "\"$install_win\\uninstall.exe\""
    program_long="$install_win\\Porvex398.exe"
    program_short=$(run "$(win_path "$tree/bin/installer_probe.exe")" shortpath "$program_long" | tr -d '\r')
    local server_path
    server_path=$(reg_value "HKCR\\CLSID\\$server_clsid\\LocalServer32" '')
    check "the OPC server's class runs the installed program ($server_path)" \
        test "${server_path,,}" = "${program_long,,}" -o "${server_path,,}" = "${program_short,,}"
    check "a folder with a blank gives the short form" test "$server_path" = "$program_short"
    check "no DCOM settings unless chosen" bash -c "! wine reg query 'HKCR\\AppID\\$server_clsid' >/dev/null 2>&1"
}

# ---- The cases -------------------------------------------------------------------------
full_case() {
    run_setup "$setup_exe" /S
    say "install: ${setup_time} s"
    check "silent install succeeded (exit $setup_status)" test "$setup_status" = 0
    install_win=$(reg_value "$uninstall_key" InstallLocation)
    [ -n "$install_win" ] || fatal "no InstallLocation in the Programs and Features entry"
    install_dir=$(unix_path "$install_win")
    check "installed into Program Files\\Porvex" grep -qi 'program files\\porvex$' <<<"$install_win"
    local created
    created=$(reg_value "$uninstall_key" CreatedCategories)
    check "the entry notes the three OPC categories (DA 1.0, DA 2.0, A&E) as created by the setup" test \
        "$(tr ';' '\n' <<<"$created" | sort | tr '\n' ';')" = \
        ";{58E13251-AC87-11D1-84D5-00608CB8A7E9};{63D5F430-CFE4-11D1-B2C8-0060083BA1FB};{63D5F432-CFE4-11D1-B2C8-0060083BA1FB};"
    common_checks
    check_installed_entries
    check "Programs and Features: version $version" test "$(reg_value "$uninstall_key" DisplayVersion)" = "$version"
    check "Programs and Features: quiet uninstall command" test \
        "$(reg_value "$uninstall_key" QuietUninstallString)" = "\"$install_win\\uninstall.exe\" /S"
    for f in Tarnet.ocx opcclient.exe ctlsim.exe; do
        check "$f installed" installed_file "$f"
    done

    local opcclient="$install_win\\opcclient.exe"
    check "opcclient servers lists Porvex398.PorvexServer.3" opcclient_lists_server "$opcclient"
    write_settings
    check "opcclient status Porvex398.PorvexServer.3 answers" opcclient_status_answers "$opcclient"
    check "the server started by COM ended after its client" wait_server_gone

    local loaded
    loaded=$(run "$(win_path "$tree/bin/installer_probe.exe")" control | tr -d '\r')
    check "the installed Tarnet.ocx loads in a host" grep -qiF "module $install_win\\Tarnet.ocx" <<<"$loaded"

    # Upgrade over the same version while Porvex398 runs: it is asked to end.
    run "$install_win\\Porvex398.exe" &
    local program=$!
    check "Porvex398 runs before the upgrade" run "$(win_path "$tree/bin/installer_probe.exe")" window 30
    run_setup "$setup_exe" /S
    say "upgrade over the same version (Porvex398 running): ${setup_time} s"
    check "silent upgrade over the same version succeeded (exit $setup_status)" test "$setup_status" = 0
    local ended=0
    for _ in $(seq 1 50); do
        kill -0 $program 2>/dev/null || { ended=1; break; }
        sleep 0.2
    done
    check "the running Porvex398 was asked to end and did" test $ended = 1
    check "the setup log says it closed the program" grep -q "asked it to end" \
        <(iconv -f UTF-16 -t UTF-8 "$(temp_dir)/Porvex398-setup.log")
    check "settings kept over the upgrade" settings_kept
    check "opcclient status answers after the upgrade" opcclient_status_answers "$opcclient"
    check "the server ended after its client" wait_server_gone

    # Upgrade to a higher version, now with the DCOM settings for a group given by SID.
    # The group by name: the setup looks up its SID.
    run_setup "$high_setup_exe" /S /DCOM /ACCESSGROUP=Users /AUTHLEVEL=6
    say "upgrade to $high_version: ${setup_time} s"
    check "silent upgrade to $high_version succeeded (exit $setup_status)" test "$setup_status" = 0
    check "Programs and Features: version $high_version" test "$(reg_value "$uninstall_key" DisplayVersion)" = "$high_version"
    check "one Programs and Features entry" test "$(run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' | tr -d '\r' | grep -ci 'porvex')" = 1
    check "the upgrade kept the control and the tools" test -f "$install_dir/Tarnet.ocx" -a -f "$install_dir/opcclient.exe"
    check "DCOM: the class names its AppID" test "$(reg_value "HKCR\\CLSID\\$server_clsid" AppID)" = "$server_clsid"
    check "DCOM: authentication level 6" test "$(reg_value "HKCR\\AppID\\$server_clsid" AuthenticationLevel)" = 0x6
    # The security descriptors grant the chosen group: the SID of "Users", S-1-5-32-545, in
    # binary form.
    local users_sid=01020000000000052000000021020000
    check "DCOM: launch permission for the chosen group" grep -qi "$users_sid" \
        <<<"$(reg_value "HKCR\\AppID\\$server_clsid" LaunchPermission)"
    check "DCOM: access permission for the chosen group" grep -qi "$users_sid" \
        <<<"$(reg_value "HKCR\\AppID\\$server_clsid" AccessPermission)"
    check "DCOM: run as the interactive user" test "$(reg_value "HKCR\\AppID\\$server_clsid" RunAs)" = "Interactive User"
    check "DCOM: the program's AppID" test "$(reg_value 'HKCR\AppID\Porvex398.exe' AppID)" = "$server_clsid"
    check "settings kept over the version upgrade" settings_kept
    check "opcclient status answers after the version upgrade" opcclient_status_answers "$opcclient"
    check "the server ended after its client" wait_server_gone

    run_quiet_uninstall
    say "uninstall: ${setup_time} s"
    check "the install folder is gone" test ! -e "$install_dir"
    check "the Start Menu folder is gone" test ! -e "$start_menu"
    check "the settings survived the uninstall" settings_kept
    compare_with_snapshot "$settings_key"
}

minimal_case() {
    install_win='C:\Porvex Test'
    install_dir=$(unix_path "$install_win")
    # A bad option stops the setup before it changes anything.
    run_setup "$setup_exe" /S /AUTHLEVEL=9
    check "a bad option fails the setup (exit $setup_status)" test "$setup_status" = 2
    check "a failed setup installed nothing" bash -c "! wine reg query '$uninstall_key' >/dev/null 2>&1"

    # /D= takes the rest of the command line unquoted, as typed at a prompt: through cmd,
    # because wine would quote an argument with a blank.
    run_setup cmd /c "$(win_path "$setup_exe") /S /NOCONTROL /NOTOOLS /D=$install_win"
    say "install without the optional components: ${setup_time} s"
    check "silent install succeeded (exit $setup_status)" test "$setup_status" = 0
    check "installed where /D= said" test "$(reg_value "$uninstall_key" InstallLocation)" = "$install_win"
    check "the entry notes only the DA 2.0 and A&E categories as created by the setup" test \
        "$(reg_value "$uninstall_key" CreatedCategories)" = "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB};{58E13251-AC87-11D1-84D5-00608CB8A7E9};"
    common_checks
    for f in Tarnet.ocx opcclient.exe ctlsim.exe; do
        check "$f absent" absent_file "$f"
    done
    check "the control is not registered" bash -c "! wine reg query 'HKCR\\$tarnet_progid' >/dev/null 2>&1"
    check "opcclient (of the build tree) lists the server" opcclient_lists_server "$(win_path "$tree/bin/opcclient.exe")"
    write_settings
    check "the server in a folder with a blank answers" opcclient_status_answers "$(win_path "$tree/bin/opcclient.exe")"
    check "the server ended after its client" wait_server_gone
    # An upgrade without options keeps the installation's choices, and its folder even when
    # /D= names another.
    run_setup cmd /c "$(win_path "$setup_exe") /S /D=C:\Elsewhere"
    check "silent upgrade succeeded (exit $setup_status)" test "$setup_status" = 0
    check "the upgrade kept the folder" test "$(reg_value "$uninstall_key" InstallLocation)" = "$install_win" \
        -a ! -e "$prefix/drive_c/Elsewhere"
    check "the upgrade left the optional components out" test ! -e "$install_dir/Tarnet.ocx" -a ! -e "$install_dir/opcclient.exe"
    run_quiet_uninstall
    say "uninstall: ${setup_time} s"
    check "the install folder is gone" test ! -e "$install_dir"
    check "the other server's category stays" reg_has_key "$da10_category"
    check "the other server's claim stays" reg_has_key "$other_server\Implemented Categories\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"
    compare_with_snapshot "$settings_key"
}

# Another OPC server that was there first: it claims the DA 1.0 category, which the
# uninstaller must leave.
other_server='HKCR\CLSID\{0B5E6F2C-1D2E-4F3A-9B8C-7D6E5F4A3B2C}'
da10_category='HKCR\Component Categories\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}'
add_other_opc_server() {
    run reg add "$da10_category" /v 409 /t REG_SZ /d "OPC Data Access Servers Version 1.0" /f >/dev/null &&
        run reg add "$other_server\Implemented Categories\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}" /f >/dev/null ||
        fatal "could not register the other OPC server"
}

make_template
fresh_prefix
build_setups
[ "$case_name" = minimal ] && add_other_opc_server
registry_snapshot "$work/registry-before.txt"
files_snapshot "$work/files-before.txt"
case "$case_name" in
    full) full_case ;;
    minimal) minimal_case ;;
    *) fatal "unknown case $case_name" ;;
esac
finish
