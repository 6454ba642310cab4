#!/usr/bin/env bash
# End-to-end tests: the hivemender program, run the way a person runs it.
#
#   e2e.sh CASE HOST DEMO [PLUGIN EMULATOR]
#
# Every case works on a scratch copy of the demo machine and checks what the
# program prints, its exit code and what it leaves in the machine folder.
# Reports are compared with tests/e2e/expected/ byte for byte; after a change
# to the engine or the demo, run tests/e2e/regenerate-expected and review
# every line of the new files.
set -euo pipefail

case_name=$1 host=$2 demo=$3
here=$(cd "$(dirname "$0")" && pwd)
expected=$here/expected
scratch=$(mktemp -d /tmp/hivemender-e2e.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
machine=$scratch/machine
cp -r "$demo" "$machine"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

check() { python3 "$here/report_check.py" "$@"; }

# run NAME ARGS...: runs the host; stdout in $scratch/NAME.out, stderr in
# $scratch/NAME.err, exit code in $rc.
run() {
    local name=$1
    shift
    rc=0
    "$host" "$@" >"$scratch/$name.out" 2>"$scratch/$name.err" || rc=$?
}

expect_rc() { # expected, what
    if [ "$rc" -ne "$1" ]; then
        cat "$scratch"/*.err >&2 || true
        fail "$2: exit code $rc, expected $1"
    fi
}

same_file() { # expected file, actual file
    if ! cmp -s "$1" "$2"; then
        diff -u "$1" "$2" | head -60 >&2 || true
        fail "$2 differs from $1 (if the change is intended: tests/e2e/regenerate-expected, then review it)"
    fi
}

# The scan a run remembers beside the undo files is no change (its folder
# may be new); an undo file or any other file is.
machine_unchanged() { # what
    local undo="$machine/drives/C/Program Files (x86)/Hivemender/Undo" changes
    changes=$(diff -r -x 'last scan.txt' "$demo" "$machine" |
        grep -vxF "Only in ${undo%/Undo}: Undo" || true)
    [ -d "$undo" ] && changes+=$(find "$undo" -type f ! -name 'last scan.txt')
    [ -z "$changes" ] || {
        echo "$changes" | head -20 >&2
        fail "$1 changed the machine folder"
    }
}

problem_count() { grep -o '"id": ' "$1" | wc -l; }

# The undo file the last fix named on stderr ("undo file: PATH").
undo_file_of() {
    local lines
    lines=$(grep -c '^undo file: ' "$scratch/$1.err" || true)
    [ "$lines" -eq 1 ] || fail "$1 named $lines undo files, expected 1"
    sed -n 's/^undo file: //p' "$scratch/$1.err"
}

# A one-line error: exactly one "hivemender: " line on stderr, holding the
# expected text, and nothing on stdout.
one_line_error() { # name, expected text
    local lines first
    lines=$(grep -c '^hivemender: ' "$scratch/$1.err" || true)
    first=$(grep '^hivemender: ' "$scratch/$1.err" | head -1)
    [ "$lines" -eq 1 ] || fail "$1: $lines error lines on stderr: $(cat "$scratch/$1.err")"
    [[ "$first" == *"$2"* ]] || fail "$1: error \"$first\" does not say \"$2\""
    [ ! -s "$scratch/$1.out" ] || fail "$1: printed a report despite the error"
}

case "$case_name" in
windows-volume)
    # An offline installation (real hive files) scans exactly as the same
    # registry in a machine folder does, and exports as a machine folder
    # that scans the same again.
    "$here/../machine/make-volume" "$scratch/volume" "$scratch/twin"
    run twin --machine "$scratch/twin" --raw scan
    expect_rc 0 "scan of the machine folder twin"
    run volume --machine "$scratch/volume" --raw scan
    expect_rc 0 "scan of the volume"
    grep -q '^machine: Windows volume ' "$scratch/volume.err" || fail "the volume was not loaded as one: $(cat "$scratch/volume.err")"
    [ "$(problem_count "$scratch/volume.out")" -eq 6 ] || fail "the volume's scan found $(problem_count "$scratch/volume.out") problems, expected the fixture's 6"
    same_file "$scratch/twin.out" "$scratch/volume.out"
    run export export-machine "$scratch/volume" "$scratch/exported"
    expect_rc 0 "export-machine"
    # Never into the volume, and over a folder's files only when told.
    run inside export-machine "$scratch/volume" "$scratch/volume/Users"
    expect_rc 1 "export-machine into the volume"
    one_line_error inside "is inside the Windows volume"
    run again export-machine "$scratch/volume" "$scratch/exported"
    expect_rc 1 "export-machine over an export"
    one_line_error again "$scratch/exported is not empty"
    run again export-machine --force "$scratch/volume" "$scratch/exported"
    expect_rc 0 "export-machine --force over an export"
    run exported --machine "$scratch/exported" --raw scan
    expect_rc 0 "scan of the exported machine folder"
    same_file "$scratch/volume.out" "$scratch/exported.out"
    # A fix lands in the hives as it lands in the twin's machine.reg, and
    # undo gives back hives whose every key and value is as before.
    hives=("$scratch"/volume/windows/System32/CONFIG/{software,SYSTEM}
        "$scratch"/volume/Users/ann/{ntuser.dat,AppData/Local/Microsoft/Windows/UsrClass.dat})
    hive_text() { for hive in "${hives[@]}"; do hivexregedit --export "$hive" '\'; done; }
    hive_text >"$scratch/hives-before.txt"
    printf 'HIBR' >"$scratch/volume/HIBERFIL.SYS" # the signature of a hibernated image
    run hibernated --machine "$scratch/volume" --raw fix --all
    expect_rc 1 "fix of a hibernated volume"
    one_line_error hibernated "hibernated"
    [ -z "$(find "$scratch/volume" -name '*.reg')" ] || fail "a refused fix left an undo file"
    rm "$scratch/volume/HIBERFIL.SYS"
    run volume-fix --machine "$scratch/volume" --raw fix --all
    expect_rc 0 "fix --all of the volume"
    run volume-rescan --machine "$scratch/volume" --raw scan
    run undone --machine "$scratch/volume" undo --last
    expect_rc 0 "undo --last on the volume"
    hive_text >"$scratch/hives-after.txt"
    same_file "$scratch/hives-before.txt" "$scratch/hives-after.txt"
    # libregf, a reader independent of hivex, reads every written hive whole.
    for hive in "${hives[@]}"; do
        /usr/bin/python3 -c 'import pyregf, sys
f = pyregf.file(); f.open(sys.argv[1])
def walk(key): [value.data for value in key.values]; [walk(sub) for sub in key.sub_keys]
walk(f.get_root_key())' "$hive" || fail "libregf cannot read $hive"
    done
    # The twin's drive C is the volume: its undo file comes after the volume's.
    run twin-fix --machine "$scratch/twin" --raw fix --all
    same_file "$scratch/twin-fix.out" "$scratch/volume-fix.out"
    run twin-rescan --machine "$scratch/twin" --raw scan
    same_file "$scratch/twin-rescan.out" "$scratch/volume-rescan.out"
    # A damaged hive is refused with one line naming it.
    truncate -s 5000 "$scratch/volume/windows/System32/CONFIG/SYSTEM"
    run damaged --machine "$scratch/volume" --raw scan
    expect_rc 1 "scan of a volume with a truncated hive"
    one_line_error damaged "$scratch/volume/windows/System32/CONFIG/SYSTEM: truncated"
    ;;

scan-report)
    run scan --machine "$machine" --raw scan
    expect_rc 0 "scan"
    same_file "$expected/scan.raw" "$scratch/scan.out"
    grep -q '^machine: machine ' "$scratch/scan.err" || fail "scan did not describe the machine"
    machine_unchanged "a scan"
    # Without --machine the host scans a scratch copy of the checkout's demo.
    run default --raw scan
    expect_rc 0 "scan of the default machine"
    same_file "$expected/scan.raw" "$scratch/default.out"
    copy=$(sed -n 's/^machine: demo machine (scratch copy at \(\/tmp\/hivemender-demo\.[^)]*\)).*/\1/p' "$scratch/default.err")
    [ -n "$copy" ] || fail "the default machine is not a scratch copy of the demo: $(cat "$scratch/default.err")"
    rm -rf "$copy"
    ;;

json)
    run raw --machine "$machine" --raw scan
    run json --machine "$machine" --json scan
    expect_rc 0 "scan --json"
    check strict "$scratch/json.out"
    check same-problems "$scratch/raw.out" "$scratch/json.out"
    run table --machine "$machine" --table scan
    expect_rc 0 "scan --table"
    tail -1 "$scratch/table.out" | grep -qE "^$(problem_count "$scratch/raw.out") problems?( in [0-9]+ sections)?\$" ||
        fail "the table does not end with the problem count: $(tail -1 "$scratch/table.out")"
    run fix --machine "$machine" --json fix --all
    expect_rc 0 "fix --all --json"
    check strict "$scratch/fix.out"
    ;;

fix-rescan)
    run fix --machine "$machine" --raw fix --all
    expect_rc 0 "fix --all"
    same_file "$expected/fix-all.raw" "$scratch/fix.out"
    undo=$(undo_file_of fix)
    [ -f "$undo" ] || fail "the undo file $undo does not exist"
    case "$undo" in "$machine"/drives/C/*) ;; *) fail "the undo file $undo is not inside the machine" ;; esac
    run rescan --machine "$machine" --raw scan
    expect_rc 0 "the scan after the fix"
    same_file "$expected/rescan.raw" "$scratch/rescan.out"
    # The same with --json on a fresh copy: nothing fixed may come back.
    rm -rf "$machine" && cp -r "$demo" "$machine"
    run fixjson --machine "$machine" --json fix --all
    run rescanjson --machine "$machine" --json scan
    expect_rc 0 "the scan after the fix"
    check none-again "$scratch/fixjson.out" "$scratch/rescanjson.out"
    ;;

undo)
    # One value under both names of the classes (reported by two sections),
    # and a class whose only subkey goes, leaving it empty for the next scan.
    printf '\r\n[HKEY_CLASSES_ROOT\\.hmx\\ShellNew]\r\n"Commmand"="C:\\\\Gone\\\\maker.exe;C:\\\\Windows\\\\notepad.exe"\r\n' >>"$machine/machine.reg"
    printf '\r\n[HKEY_CLASSES_ROOT\\CLSID\\{AB000000-0000-4000-8000-000000000001}\\InprocServer32]\r\n@="C:\\\\Gone\\\\hm.dll"\r\n' >>"$machine/machine.reg"
    # machine.reg as the stand-in writes it: an undo with nothing in it
    # loads the machine and saves it back unchanged.
    printf 'Windows Registry Editor Version 5.00\r\n\r\n' >"$scratch/nothing.reg"
    run normalise --machine "$machine" undo "$scratch/nothing.reg"
    expect_rc 0 "undo of an empty file"
    cp "$machine/machine.reg" "$scratch/before.reg"
    run fix --machine "$machine" --raw fix --all
    expect_rc 0 "fix --all"
    undo=$(undo_file_of fix)
    grep -qx "1 more problem appeared because this fix emptied their keys; run fix again" "$scratch/fix.err" ||
        fail "the fix did not tell what it uncovered: $(cat "$scratch/fix.err")"
    if [ "$(problem_count "$scratch/fix.out")" -gt 0 ]; then
        ! cmp -s "$scratch/before.reg" "$machine/machine.reg" || fail "fix --all changed nothing"
    fi
    run undo --machine "$machine" undo "$undo"
    expect_rc 0 "undo"
    grep -q "^restored [0-9]* keys and [0-9]* values from " "$scratch/undo.out" ||
        fail "undo did not say what it restored: $(cat "$scratch/undo.out")"
    # Restored values come back at the end of their key, as a .reg import
    # puts them on Windows too; everything else must be byte for byte.
    check same-registry "$scratch/before.reg" "$machine/machine.reg"
    if cmp -s "$scratch/before.reg" "$machine/machine.reg"; then
        echo "machine.reg restored byte for byte"
    else
        echo "machine.reg restored; restored values stand last in their keys"
    fi
    ;;

bad-arguments)
    # One line on stderr, naming the fault and where help is; nothing else,
    # not even the machine: arguments are read before anything is touched.
    while IFS='|' read -r args message; do
        # shellcheck disable=SC2086 # the table's arguments are split on purpose
        run bad --machine "$machine" $args
        expect_rc 2 "hivemender $args"
        one_line_error bad "$message"
        [ "$(wc -l <"$scratch/bad.err")" -eq 1 ] || fail "hivemender $args: more than one line: $(cat "$scratch/bad.err")"
        grep -q '(see hivemender --help)$' "$scratch/bad.err" || fail "hivemender $args: no pointer to --help"
    done <<'TABLE'
|no command given
frobnicate|unknown command frobnicate
scan --frobnicate|unknown option --frobnicate
scan extra|unexpected argument extra
fix|fix needs either --select LIST or --all
fix --all --select 1|fix needs either --select LIST or --all
fix --select 1,,2|--select takes problem ids and ranges separated by commas
fix --select -1|--select takes problem ids and ranges separated by commas
fix --select 5-3|--select takes problem ids and ranges separated by commas
scan --all|--all goes with fix
scan --explain --raw|--explain goes with the table
undo|undo needs one of: the undo file, --list, --last
undo --list --last|undo needs one of: the undo file, --list, --last
undo /|undo needs an undo file, and / is a folder
fix --all --all|--all: At Most 1 required but received 2
exclude|exclude needs one of: KEYPATH, --list, --remove KEYPATH
exclude HKEY_CURRENT_CONFIG\System|does not start with HKEY_LOCAL_MACHINE
scan --sections 3|--sections is not offered
scan --plugin|--plugin needs a value
TABLE
    machine_unchanged "bad arguments"
    ;;

help-version)
    for args in --help -h "fix --help" "exclude -h"; do
        # shellcheck disable=SC2086
        run help $args
        expect_rc 0 "hivemender $args"
        grep -q '^Usage: hivemender' "$scratch/help.out" || fail "hivemender $args: no usage on stdout"
        [ ! -s "$scratch/help.err" ] || fail "hivemender $args wrote on stderr: $(cat "$scratch/help.err")"
    done
    grep -q -- '--select LIST' "$scratch/help.out" && fail "exclude --help shows the options of fix"
    run version --version
    expect_rc 0 "hivemender --version"
    grep -qE '^hivemender [0-9]+\.[0-9]+' "$scratch/version.out" || fail "no version: $(cat "$scratch/version.out")"
    ;;

table)
    run raw --machine "$machine" --raw scan
    count=$(problem_count "$scratch/raw.out")
    for columns in 80 200; do
        COLUMNS=$columns run table$columns --machine "$machine" --table scan
        expect_rc 0 "the table at $columns columns"
        python3 - "$scratch/table$columns.out" "$columns" <<'PY' || fail "the table does not fit $columns columns"
import sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
long = [f"line {n}: {len(line)} characters" for n, line in enumerate(lines, 1) if len(line) > int(sys.argv[2])]
print("\n".join(long), file=sys.stderr)
sys.exit(1 if long else 0)
PY
        grep -q 'S-1-5-21-' "$scratch/table$columns.out" && fail "a SID is shown where the user's name is known"
        grep -q '^[0-9]* *HKU\\Alice' "$scratch/table$columns.out" || fail "Alice's hive is not named by her"
        grep -q 'HKEY_LOCAL_MACHINE' "$scratch/table$columns.out" && fail "roots are not abbreviated"
        [ "$(grep -cE '^[0-9]+  ' "$scratch/table$columns.out")" -eq "$count" ] || fail "not one line per problem at $columns columns"
        # The counts of the sections add up to the total.
        sum=$(sed -nE 's/^[a-z][a-zA-Z ]+ \(([0-9]+)\)$/\1/p' "$scratch/table$columns.out" | awk '{ s += $1 } END { print s + 0 }')
        [ "$sum" -eq "$count" ] || fail "the sections count $sum problems, the scan $count"
    done
    grep -q '…' "$scratch/table80.out" || fail "nothing was shortened at 80 columns"
    # On a pipe with no width: full key paths, one line per problem.
    env -u COLUMNS "$host" --machine "$machine" --table scan >"$scratch/pipe.out" 2>/dev/null
    grep -q '…' "$scratch/pipe.out" && fail "the table on a pipe shortens"
    grep -q 'HKEY_USERS\\S-1-5-21-' "$scratch/pipe.out" || fail "the table on a pipe does not keep full key paths"
    [ "$(grep -cE '^[0-9]+  ' "$scratch/pipe.out")" -eq "$count" ] || fail "not one line per problem on a pipe"
    # On a terminal the table is the default, in colour unless NO_COLOR is set.
    script -qec "env COLUMNS=120 '$host' --machine '$machine' scan" /dev/null >"$scratch/tty.out" 2>&1
    grep -q $'\e\\[' "$scratch/tty.out" || fail "no colour on a terminal"
    grep -q 'HKU\\Alice' "$scratch/tty.out" || fail "no table on a terminal: $(head -3 "$scratch/tty.out")"
    script -qec "env NO_COLOR=1 COLUMNS=120 '$host' --machine '$machine' scan" /dev/null >"$scratch/nocolor.out" 2>&1
    grep -q $'\e\\[' "$scratch/nocolor.out" && fail "colour despite NO_COLOR"
    grep -q 'HKU\\Alice' "$scratch/nocolor.out" || fail "no table with NO_COLOR"
    machine_unchanged "tables"
    ;;

explain)
    # The data of a value and the reason of the rule that reported it; the
    # engine's report stays as it was.
    run explain --machine "$machine" scan --explain
    expect_rc 0 "scan --explain"
    grep -A2 '  GamePath' "$scratch/explain.out" | grep -qF 'data: C:\Program Files (x86)\Tailspin\Skyracer\skyracer.exe' ||
        fail "no data below GamePath: $(grep -A2 GamePath "$scratch/explain.out")"
    grep -A2 '  GamePath' "$scratch/explain.out" | grep -qF 'file: C:\Program Files (x86)\Tailspin\Skyracer\skyracer.exe (missing)' ||
        fail "no missing file below GamePath"
    # A list keeps the first library: the second is the missing one.
    grep -A2 '  Skins' "$scratch/explain.out" | grep -qF 'file: C:\Program Files (x86)\Northwind\Player\skins\neon.dll (missing)' ||
        fail "the missing file of the skin list is not named: $(grep -A2 Skins "$scratch/explain.out")"
    # A font registered twice is reported for the repeat, its file being there.
    grep -A2 '  Arial Regular (TrueType)' "$scratch/explain.out" | grep -qF 'file: arial.ttf (already registered as "Arial (TrueType)")' ||
        fail "the repeated font is not explained by its repeat: $(grep -A2 'Arial Regular' "$scratch/explain.out")"
    [ "$(grep -c '^ *data: ' "$scratch/explain.out")" -eq "$(grep -o '"value name"' "$expected/scan.raw" | wc -l)" ] ||
        fail "not every value problem is explained"
    run raw --machine "$machine" --raw scan
    same_file "$expected/scan.raw" "$scratch/raw.out"
    machine_unchanged "scan --explain"
    ;;

select-ranges)
    count=$(problem_count "$expected/scan.raw")
    run noscan --machine "$machine" fix --select 0
    expect_rc 1 "fix --select before any scan"
    one_line_error noscan "run scan first"
    run scan --machine "$machine" --json scan
    expect_rc 0 "scan"
    run outofrange --machine "$machine" fix --select "0-2,$((count - 1))-$((count + 3))"
    expect_rc 2 "a range past the last problem"
    one_line_error outofrange "no problem $count: the scan found $count (ids 0 to $((count - 1)))"
    machine_unchanged "a selection out of range"
    run backwards --machine "$machine" --json fix --select "2-0"
    expect_rc 2 "a range that ends before it starts"
    run fix --machine "$machine" --json fix --select "0-2,4,1-3"
    expect_rc 0 "fix --select 0-2,4,1-3"
    ids=$(grep -o '"id": "[0-9]*"' "$scratch/fix.out" | grep -o '[0-9]*' | sort -n | paste -sd,)
    [ "$ids" = "0,1,2,3,4" ] || fail "fix --select 0-2,4,1-3 fixed $ids"
    # The ids stay those of the scan the person saw: after problems 0-4 went,
    # its id 10 still names the same problem, now at id 5 of a fresh scan.
    key10=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["problems"][10]["key path"])' "$scratch/scan.out")
    run fix10 --machine "$machine" --json fix --select 10
    expect_rc 0 "fix --select 10 after other fixes"
    grep -qF "\"key path\": $(python3 -c 'import json,sys; print(json.dumps(sys.argv[1]))' "$key10")" "$scratch/fix10.out" ||
        fail "fix --select 10 fixed another problem than $key10: $(cat "$scratch/fix10.out")"
    # A chosen problem that is gone fixes nothing, and says which.
    cp "$machine/machine.reg" "$scratch/before-stale.reg"
    run stale --machine "$machine" --raw fix --select 11,3
    expect_rc 1 "fix --select of a problem already fixed"
    one_line_error stale "problem 3 ("
    cmp -s "$scratch/before-stale.reg" "$machine/machine.reg" || fail "a refused selection changed the machine"
    # A remembered scan left empty is never taken for the fresh one.
    : >"$machine/drives/C/Program Files (x86)/Hivemender/Undo/Hivemender/last scan.txt"
    run empty --machine "$machine" --raw fix --select 11
    expect_rc 1 "fix --select with an empty remembered scan"
    one_line_error empty "the remembered scan cannot be read"
    # A fix keeps the remembered scan; a new scan replaces it.
    run rescan --machine "$machine" --json scan
    run fix0 --machine "$machine" --json fix --select 0
    expect_rc 0 "fix --select 0 of a new scan"
    ;;

exclude)
    regkeys="$machine/drives/C/Program Files (x86)/Hivemender/regkeys.txt"
    key='HKEY_LOCAL_MACHINE\SOFTWARE\Fabrikam\Sync'
    grep -qF "\"key path\": \"$key\"," "$expected/scan.raw" || fail "the demo's scan does not report $key"
    run add --machine "$machine" exclude 'hklm\SOFTWARE\Fabrikam\Sync\'
    expect_rc 0 "exclude"
    grep -qxF "excluded: $key" "$scratch/add.out" || fail "exclude said: $(cat "$scratch/add.out")"
    # The file keeps its CR LF line ends.
    [ "$(grep -c $'\r$' "$regkeys")" -eq "$(wc -l <"$regkeys")" ] || fail "regkeys.txt has mixed line ends"
    run again --machine "$machine" exclude "$key"
    grep -q "^already excluded: " "$scratch/again.out" || fail "a second exclude: $(cat "$scratch/again.out")"
    run list --machine "$machine" exclude --list
    grep -qxF "$key" "$scratch/list.out" || fail "exclude --list does not show $key"
    run scan --machine "$machine" --raw scan
    grep -qF "\"key path\": \"$key\"," "$scratch/scan.out" && fail "the scan still reports the excluded key"
    [ "$(problem_count "$scratch/scan.out")" -eq "$(($(problem_count "$expected/scan.raw") - 1))" ] ||
        fail "excluding one key changed more than one problem"
    run remove --machine "$machine" exclude --remove "$key"
    expect_rc 0 "exclude --remove"
    run removeagain --machine "$machine" exclude --remove "$key"
    expect_rc 1 "exclude --remove of a key not excluded"
    one_line_error removeagain "is not excluded"
    machine_unchanged "exclude then exclude --remove"
    # Without a file one is made.
    rm "$regkeys"
    run create --machine "$machine" exclude "$key"
    expect_rc 0 "exclude without regkeys.txt"
    [ "$(cat "$regkeys")" = "$key"$'\r' ] || fail "the new regkeys.txt holds: $(od -c "$regkeys" | head)"
    # HKCU is the current user's hive under HKEY_USERS, where the engine walks it.
    run hkcu --machine "$machine" exclude 'HKCU\Software\Tailspin\Skyracer'
    expect_rc 0 "exclude HKCU\\..."
    run hkcuscan --machine "$machine" --raw scan
    grep -qF '"value name": "GamePath"' "$scratch/hkcuscan.out" && fail "an HKCU exclusion is not obeyed"
    # What the engine cannot read back as the key is refused in one line.
    run marker --machine "$machine" exclude 'HKLM\SOFTWARE\A=Locked'
    expect_rc 1 "exclude of a key holding a marker"
    one_line_error marker '"=LOCKED"'
    run long --machine "$machine" exclude "HKLM\SOFTWARE\\$(printf '%01100d' 0)"
    expect_rc 1 "exclude of a key longer than a line"
    one_line_error long "at most 1023 bytes"
    ;;

undo-list)
    run empty --machine "$machine" undo --list
    expect_rc 0 "undo --list without undo files"
    [ ! -s "$scratch/empty.out" ] || fail "undo --list listed files of a machine without any"
    run last --machine "$machine" undo --last
    expect_rc 1 "undo --last without undo files"
    one_line_error last "no undo file to restore in "
    cp "$machine/machine.reg" "$scratch/before.reg"
    # The clock moves back a day between the fixes (a change of time zone),
    # so the second fix's file has the older name; a fix that saved nothing
    # (its undo writes fail) leaves a file with the newest name.
    run scan1 --machine "$machine" --raw scan
    TZ=UTC-12 run fix1 --machine "$machine" --raw fix --select 0
    expect_rc 0 "the first fix"
    cp "$machine/machine.reg" "$scratch/between.reg"
    run scan2 --machine "$machine" --raw scan
    TZ=UTC+12 run fix2 --machine "$machine" --raw fix --select 0-1
    expect_rc 0 "the second fix"
    cp "$machine/machine.reg" "$scratch/after.reg"
    HM_SIM_WRITE_FAULT=2+ TZ=UTC-13 run unsaved --machine "$machine" --raw fix --all
    expect_rc 1 "a fix whose undo file cannot be written"
    first=$(undo_file_of fix1) second=$(undo_file_of fix2) unsaved=$(undo_file_of unsaved)
    [ -e "$unsaved" ] || fail "the fix that saved nothing left no undo file"
    check same-registry "$scratch/after.reg" "$machine/machine.reg"
    run list --machine "$machine" undo --list
    expect_rc 0 "undo --list"
    [ "$(grep -c '^20[0-9-]* [0-9:]* ' "$scratch/list.out")" -eq 2 ] || fail "undo --list: $(cat "$scratch/list.out")"
    # In the order of the fixes: date, size in bytes, keys and values
    # restored, state, the file.
    read -r _ _ bytes keys values state path < <(sed -n 2p "$scratch/list.out")
    [ "$path" = "$first" ] && [ "$bytes" -eq "$(wc -c <"$first")" ] && [ "$keys" -ge 1 ] && [ "$values" -ge 0 ] &&
        [ "$state" = fixed ] || fail "undo --list does not describe $first: $(sed -n 2p "$scratch/list.out")"
    sed -n 3p "$scratch/list.out" | grep -qF "$second" || fail "undo --list does not put $second last"
    run undolast --machine "$machine" undo --last
    expect_rc 0 "undo --last"
    grep -qF "from $second" "$scratch/undolast.out" || fail "undo --last restored: $(cat "$scratch/undolast.out")"
    check same-registry "$scratch/between.reg" "$machine/machine.reg"
    # A second undo --last restores nothing and names the file before.
    run again --machine "$machine" undo --last
    expect_rc 1 "a second undo --last"
    one_line_error again "nothing restored: the newest fix was restored on "
    grep -qF "the one before it is $first" "$scratch/again.err" || fail "not named: $first"
    check same-registry "$scratch/between.reg" "$machine/machine.reg"
    run listed --machine "$machine" undo --list
    grep -qF "restored  $second" "$scratch/listed.out" || fail "not marked restored: $(cat "$scratch/listed.out")"
    ;;

engine-errors)
    run noplugin --machine "$machine" --plugin "$scratch/absent.so" fix --all
    expect_rc 1 "a missing plug-in"
    one_line_error noplugin "cannot load the plug-in $scratch/absent.so"
    run notplugin --machine "$machine" --plugin "$machine/machine.ini" fix --all
    expect_rc 1 "a plug-in that is no library"
    one_line_error notplugin "cannot load the plug-in"
    run nomachine --machine "$scratch/absent" scan
    expect_rc 1 "a missing machine"
    one_line_error nomachine "no machine folder at $scratch/absent"
    run noundo --machine "$machine" undo "$scratch/absent.reg"
    expect_rc 1 "a missing undo file"
    one_line_error noundo "cannot read $scratch/absent.reg"
    printf 'REGEDIT5\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n' >"$scratch/bad.reg"
    run badundo --machine "$machine" undo "$scratch/bad.reg"
    expect_rc 1 "an undo file that is no .reg file"
    one_line_error badundo "$scratch/bad.reg:1: "
    # Only what a fix took away may come back: a file that deletes is refused.
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n' >"$scratch/wipe.reg"
    run wipe --machine "$machine" undo "$scratch/wipe.reg"
    expect_rc 1 "an undo file that deletes a key"
    one_line_error wipe "is not an undo file: it deletes the key HKEY_LOCAL_MACHINE\\SOFTWARE"
    : >"$scratch/empty.reg"
    run empty --machine "$machine" undo "$scratch/empty.reg"
    expect_rc 0 "an empty undo file"
    grep -q "^nothing to restore: " "$scratch/empty.out" || fail "empty undo: $(cat "$scratch/empty.out")"
    # An id the scan did not report fixes nothing and writes nothing.
    run scan --machine "$machine" --raw scan
    run outofrange --machine "$machine" fix --select 1,999
    expect_rc 2 "fix --select 999"
    one_line_error outofrange "no problem 999: the scan found $(problem_count "$expected/scan.raw") (ids 0 to "
    # Without an undo file nothing is repaired, and the reason is given.
    rm -r "$machine/drives/C/Program Files (x86)/Hivemender/Undo"
    : >"$machine/drives/C/Program Files (x86)/Hivemender/Undo"
    run noundofolder --machine "$machine" --raw fix --all
    expect_rc 1 "a fix that cannot create its undo file"
    grep -q '^hivemender: the fix failed: Cannot create the undo file (error 3): error 3 means a folder was not found' "$scratch/noundofolder.err" ||
        fail "no reason given: $(cat "$scratch/noundofolder.err")"
    grep -q '"fixed": "true"' "$scratch/noundofolder.out" && fail "a problem was fixed without an undo file"
    rm "$machine/drives/C/Program Files (x86)/Hivemender/Undo"
    machine_unchanged "a failed run"
    # The disk fills up during the fix: what was saved first is repaired and
    # kept, the rest is not, the user hears why, and the undo file restores.
    cp -r "$demo" "$scratch/full"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n' >"$scratch/nothing.reg"
    run normalise --machine "$scratch/full" undo "$scratch/nothing.reg"
    cp "$scratch/full/machine.reg" "$scratch/full.before"
    export HM_SIM_WRITE_FAULT=12+
    run full --machine "$scratch/full" --raw fix --all
    unset HM_SIM_WRITE_FAULT
    expect_rc 1 "a fix on a disk that fills up"
    grep -q '^hivemender: the fix failed: Cannot save the old state of [0-9]* problems in the undo file (error 112): error 112 means there is not enough space on the disk$' "$scratch/full.err" ||
        fail "no reason given: $(cat "$scratch/full.err")"
    grep -q '"fixed": "true"' "$scratch/full.out" || fail "nothing saved was repaired"
    ! cmp -s "$scratch/full.before" "$scratch/full/machine.reg" || fail "the repairs made were not kept"
    run fullundo --machine "$scratch/full" undo "$(undo_file_of full)"
    expect_rc 0 "undo of the fix that filled the disk"
    check same-registry "$scratch/full.before" "$scratch/full/machine.reg"
    # A key the registry cannot create is named by its line, shortened.
    cp -r "$demo" "$scratch/nocreate"
    printf '\r\n[HKEY_CURRENT_CONFIG\\%s]\r\n' "$(printf 'k%.0s' $(seq 200))" >>"$scratch/nocreate/machine.reg"
    run nocreate --machine "$scratch/nocreate" scan
    expect_rc 1 "a machine.reg key that cannot be created"
    one_line_error nocreate "machine.reg: line $(wc -l <"$demo/machine.reg" | awk '{print $1 + 2}'): cannot create [HKEY_CURRENT_CONFIG\\kkk"
    [ "$(wc -c <"$scratch/nocreate.err")" -lt 300 ] || fail "the message repeats the whole key path"
    # A machine file that is a folder, a drive that is a link loop: one line each.
    for file in machine.reg machine.ini drives/X; do
        rm -rf "$scratch/odd" && cp -r "$demo" "$scratch/odd" && rm -f "$scratch/odd/$file"
        if [ "$file" = drives/X ]; then ln -s X "$scratch/odd/drives/X"; else mkdir "$scratch/odd/$file"; fi
        run odd --machine "$scratch/odd" scan
        expect_rc 1 "$file that is a folder or a loop"
        one_line_error odd "$scratch/odd/$file: "
    done
    cp -r "$demo" "$scratch/broken" && printf '[machine]\nadministrator = perhaps\n' >"$scratch/broken/machine.ini"
    run badmachine --machine "$scratch/broken" scan
    expect_rc 1 "a machine.ini with a bad value"
    one_line_error badmachine "machine.ini:2: "
    ;;

concurrency)
    # Two processes change one machine at once, each pair HM_PAIR_ROUNDS
    # times (20): every change lands, none is lost to the other's save.
    problems() { "$host" --machine "$1" --raw scan 2>/dev/null | grep -o '"id": ' | wc -l; }
    pids=()
    start() { # name, args...: the host in the background
        local name=$1
        shift
        "$host" --machine "$pc" "$@" >"$scratch/$name.out" 2>"$scratch/$name.err" &
        pids+=($!)
    }
    finish() { # both must succeed
        for pid in "${pids[@]}"; do wait "$pid" || fail "round $round: $(cat "$scratch"/[ab].err)"; done
        pids=()
    }
    expect_problems() { # count, what
        [ "$(problems "$pc")" -eq "$1" ] || fail "round $round, $2: $(problems "$pc") problems left, expected $1 (an update was lost)"
    }
    "$here/../machine/make-volume" "$scratch/volume"
    n=$(problem_count "$expected/scan.raw")
    exclusions="drives/C/Program Files (x86)/Hivemender/regkeys.txt"
    for round in $(seq "${HM_PAIR_ROUNDS:-20}"); do
        # Distinct ids of one remembered scan: each pair fixes two problems
        # whichever goes first, whether ids are positions in the fresh scan
        # or name the problems of the last one.
        pc=$scratch/pc && rm -rf "$pc" && cp -r "$demo" "$pc"
        run scan --machine "$pc" --raw scan
        start a fix --wait --select 0 && start b fix --wait --select 1 && finish
        expect_problems $((n - 2)) "fix beside fix"
        # Whichever runs first, one problem is fixed and the other restored.
        start a undo --wait --last && start b fix --wait --select 2 && finish
        expect_problems $((n - 2)) "undo --last beside fix"
        run u1 --machine "$pc" --raw fix --select 3 && run u2 --machine "$pc" --raw fix --select 4
        first=$(undo_file_of u1) second=$(undo_file_of u2)
        start a undo --wait "$first" && start b undo --wait "$second" && finish
        expect_problems $((n - 2)) "undo beside undo"
        start a exclude --wait 'HKLM\SOFTWARE\One' && start b exclude --wait 'HKLM\SOFTWARE\Two' && finish
        [ "$(grep -c 'SOFTWARE\\One\|SOFTWARE\\Two' "$pc/$exclusions")" -eq 2 ] ||
            fail "round $round, exclude beside exclude: $(cat "$pc/$exclusions")"
        pc=$scratch/volume-copy && rm -rf "$pc" && cp -r "$scratch/volume" "$pc"
        run scan --machine "$pc" --raw scan
        start a --raw fix --wait --select 2 && start b --raw fix --wait --select 3 && finish
        expect_problems 4 "fix beside fix on a volume"
    done
    # Without --wait the second is refused in one line naming the holder,
    # and the machine is left alone.
    pc=$scratch/pc
    cp "$pc/machine.reg" "$scratch/before.reg"
    exec 9>"$pc/hivemender.lock"
    flock 9 && echo "fix (pid 1234)" >&9
    run busy --machine "$pc" fix --all
    exec 9>&-
    expect_rc 1 "a fix of a machine another process holds"
    one_line_error busy "the machine $pc is busy: another hivemender is running fix (pid 1234); try again when it ends, or use --wait"
    cmp -s "$scratch/before.reg" "$pc/machine.reg" || fail "a refused fix changed machine.reg"
    ;;

saves)
    # What a save replaces keeps its mode and owner (the owner is tested as
    # root), and the next holder of the machine's lock removes the new files
    # of saves that died, whatever process id they carry.
    owner() { stat -c '%a %U %G' "$1"; }
    keep_owner() { chmod "$2" "$1" && if [ "$(id -u)" -eq 0 ]; then chown nobody "$1"; fi; }
    regkeys="$machine/drives/C/Program Files (x86)/Hivemender/regkeys.txt"
    keep_owner "$machine/machine.reg" 0444
    before=$(owner "$machine/machine.reg")
    run seen --machine "$machine" --raw scan
    : >"$machine/machine.reg.new-$$" && : >"$regkeys.new-$$"
    run fix --machine "$machine" --raw fix --select 0
    expect_rc 0 "a fix of a read-only machine.reg"
    [ "$(owner "$machine/machine.reg")" = "$before" ] || fail "machine.reg was $before, is $(owner "$machine/machine.reg")"
    run exclude --machine "$machine" exclude 'HKLM\SOFTWARE\Gone'
    leftovers=$(find "$machine" -name '*.new-*' -o -name 'hivemender.lock')
    [ -z "$leftovers" ] || fail "left behind: $leftovers"
    # A volume: three hives change; a kill after the first of their renames
    # leaves the journal naming the set, and the next run completes it
    # before it reads the volume.
    "$here/../machine/make-volume" "$scratch/volume"
    cp -a "$scratch/volume" "$scratch/fixed"
    hives=(windows/System32/CONFIG/software Users/ann/ntuser.dat Users/ann/AppData/Local/Microsoft/Windows/UsrClass.dat)
    keep_owner "$scratch/fixed/${hives[0]}" 0640
    before=$(owner "$scratch/fixed/${hives[0]}")
    : >"$scratch/fixed/${hives[1]}.hivemender-new"
    run fixed --machine "$scratch/fixed" --raw fix --all
    expect_rc 0 "fix --all of the volume"
    [ "$(owner "$scratch/fixed/${hives[0]}")" = "$before" ] || fail "the hive was $before, is $(owner "$scratch/fixed/${hives[0]}")"
    leftovers=$(find "$scratch/fixed" -name '*.hivemender-new' -o -name 'hivemender*')
    [ -z "$leftovers" ] || fail "left behind: $leftovers"
    run rescan --machine "$scratch/fixed" --raw scan
    journal=$scratch/volume/windows/System32/CONFIG/hivemender-save.journal
    for hive in "${hives[@]}"; do
        cmp -s "$scratch/volume/$hive" "$scratch/fixed/$hive" && fail "$hive did not change"
        cp -p "$scratch/fixed/$hive" "$scratch/volume/$hive.hivemender-new"
        echo "$scratch/volume/$hive" >>"$journal"
    done
    mv "$scratch/volume/${hives[0]}.hivemender-new" "$scratch/volume/${hives[0]}"
    run resumed --machine "$scratch/volume" --raw scan
    expect_rc 0 "a scan after an interrupted save"
    same_file "$scratch/rescan.out" "$scratch/resumed.out"
    leftovers=$(find "$scratch/volume" -name '*.hivemender-new' -o -name 'hivemender*')
    [ -z "$leftovers" ] || fail "left behind: $leftovers"
    ;;

kill-fix)
    # kill -9 at random points of fixes on a 50,000-key machine: every undo
    # file left is empty or restores cleanly, and after the next complete
    # fix no temporary file of a killed writer remains.
    python3 - "$machine/machine.reg" <<'PY'
import sys
lines = [""]
for vendor in range(100):
    for app in range(500):
        lines.append(f"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor{vendor}\\App{app}]")
        if app % 100 == 7:
            lines.append(f'"Tool"="C:\\\\Program Files\\\\Gone{vendor}\\\\tool{app}.exe"')
        lines.append('"Version"="1.0"')
        lines.append("")
open(sys.argv[1], "a", newline="").write("\r\n".join(lines) + "\r\n")
PY
    undo_dir="$machine/drives/C/Program Files (x86)/Hivemender/Undo/Hivemender"
    # Time one uninterrupted fix on a copy, then kill the others at random
    # points of the last half of that span, where the repairs run (loading
    # and scanning come first).
    cp -r "$machine" "$scratch/timing"
    start=$(date +%s%N)
    "$host" --machine "$scratch/timing" --raw fix --all >/dev/null 2>&1
    span=$((($(date +%s%N) - start) / 1000000))
    rounds=${HM_KILL_ROUNDS:-6}
    for round in $(seq "$rounds"); do
        delay=$(awk -v r="$RANDOM" -v span="$span" 'BEGIN { printf "%.3f", (span / 2 + r % (span / 2 + 1)) / 1000 }')
        "$host" --machine "$machine" --raw fix --all >/dev/null 2>&1 &
        pid=$!
        sleep "$delay"
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        for undo in "$undo_dir"/*.reg; do
            [ -e "$undo" ] || continue
            run undo --machine "$machine" undo "$undo"
            [ "$rc" -eq 0 ] || fail "round $round (killed after ${delay}s): $undo does not restore: $(cat "$scratch/undo.err")"
            echo "round $round, killed after ${delay}s: $(cat "$scratch/undo.out")"
            rm "$undo"
        done
    done
    run final --machine "$machine" --raw fix --all
    expect_rc 0 "the fix after the killed ones"
    leftovers=$(find "$machine" -name '*.new-*')
    [ -z "$leftovers" ] || fail "temporary files of killed writers remain: $leftovers"
    ;;

wine-scan)
    # The Windows build scans the Wine prefix it runs in: the program and
    # the plug-in side by side, as they ship.
    plugin=$4 emulator=$5
    cp "$host" "$plugin" "$scratch/"
    rc=0
    (cd "$scratch" && timeout 240 "$emulator" "$scratch/$(basename "$host")" --json scan \
        >"$scratch/wine.out" 2>"$scratch/wine.err") || rc=$?
    if [ "$rc" -eq 124 ]; then
        [ -s "$scratch/wine.out" ] && fail "the Windows host printed its report but did not exit within 240 s"
        fail "the Windows host printed no report within 240 s"
    fi
    expect_rc 0 "the Windows host under Wine"
    grep -q '^machine: this Windows machine' "$scratch/wine.err" || fail "unexpected stderr: $(cat "$scratch/wine.err")"
    check strict "$scratch/wine.out"
    # --raw is the engine's text untouched: no CR before its line feeds, and
    # the same problems as the JSON of the same scan.
    (cd "$scratch" && timeout 240 "$emulator" "$scratch/$(basename "$host")" --raw scan \
        >"$scratch/wineraw.out" 2>/dev/null) || fail "the Windows host's --raw scan failed"
    grep -q $'\r' "$scratch/wineraw.out" && fail "the Windows host's --raw report holds CR bytes"
    check same-problems "$scratch/wineraw.out" "$scratch/wine.out"
    (cd "$scratch" && "$emulator" "$scratch/$(basename "$host")" --help >"$scratch/winehelp.out" 2>&1) ||
        fail "the Windows host's --help failed"
    grep -q '^Usage: hivemender' "$scratch/winehelp.out" || fail "the Windows host's --help: $(head -3 "$scratch/winehelp.out")"
    # exclude writes regkeys.txt beside the plug-in, replacing it in one step.
    (cd "$scratch" && "$emulator" "$scratch/$(basename "$host")" exclude 'HKLM\SOFTWARE\Gone' >/dev/null 2>&1) ||
        fail "the Windows host's exclude failed"
    [ "$(cat "$scratch/regkeys.txt")" = $'HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone\r' ] ||
        fail "regkeys.txt written under Wine holds: $(od -c "$scratch/regkeys.txt" | head -3)"
    (cd "$scratch" && "$emulator" "$scratch/$(basename "$host")" exclude --remove 'HKEY_LOCAL_MACHINE\SOFTWARE\Gone' >/dev/null 2>&1) ||
        fail "the Windows host's exclude --remove failed"
    [ ! -s "$scratch/regkeys.txt" ] || fail "exclude --remove left: $(cat "$scratch/regkeys.txt")"
    # Two Windows hosts: a fix holds the machine's named mutex through its
    # scan (its selection is refused after it, so nothing changes); exclude
    # meanwhile is refused naming it, and with --wait runs once it ends.
    exe=./$(basename "$host")
    (cd "$scratch" && "$emulator" "$exe" fix --select 999999 >/dev/null 2>&1) &
    holder=$!
    for _ in $(seq 100); do
        (cd "$scratch" && "$emulator" "$exe" exclude 'HKLM\SOFTWARE\Busy' >"$scratch/busy.out" 2>"$scratch/busy.err") || break
        kill -0 "$holder" 2>/dev/null || fail "exclude never found the machine busy while a fix ran"
        sleep 0.1
    done
    grep -q '^hivemender: this Windows machine is busy: another hivemender is running fix (pid [0-9]*); try again when it ends, or use --wait' "$scratch/busy.err" ||
        fail "a second Windows host was not refused: $(cat "$scratch/busy.err")"
    (cd "$scratch" && "$emulator" "$exe" exclude --wait 'HKLM\SOFTWARE\Waited' >/dev/null 2>&1) ||
        fail "exclude --wait failed"
    kill -0 "$holder" 2>/dev/null && fail "exclude --wait ran while the fix held the machine"
    wait "$holder" || true
    grep -q 'Waited' "$scratch/regkeys.txt" || fail "exclude --wait did not write: $(cat "$scratch/regkeys.txt")"
    echo "Wine prefix scanned: $(problem_count "$scratch/wine.out") problems"
    ;;

completion)
    # What TAB offers after the words before it (the last word is the one
    # being completed); values come from the names the help gives them.
    completion=$here/../../packaging/hivemender.bash-completion
    mkdir "$scratch/other-pc"
    touch "$scratch/notes.txt"
    cd "$scratch"
    while IFS='|' read -r words expected; do
        eval "args=($words)" # '' is the empty word TAB completes
        got=$(bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
                       _hivemender; printf "%s\n" "${COMPREPLY[@]}" | sort | xargs' \
                  - "$completion" "$host" "${args[@]}")
        [ "$got" = "$expected" ] || fail "hivemender $words<TAB> offers [$got], expected [$expected]"
    done <<'ROWS'
f|fix
''|exclude export-machine fix scan ui undo
--machine ''|machine other-pc
--machine o|other-pc
--ma|--machine
--json fix --s|--select
--machine fix s|scan
undo n|notes.txt
export-machine ''|machine other-pc
fix --all x|
ROWS
    ;;

*)
    fail "unknown case $case_name"
    ;;
esac
echo "passed: $case_name"
