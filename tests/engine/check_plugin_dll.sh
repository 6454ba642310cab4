#!/usr/bin/env bash
# Inspects a built plug-in DLL the way a host's loader sees it:
#   - it exports exactly one name, GetPluginEngine, undecorated;
#   - it carries string 103 = "Hivemender" (string block 7, entry 7).
# Usage: check_plugin_dll.sh OBJDUMP OBJCOPY DLL
set -euo pipefail
objdump=$1 objcopy=$2 dll=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

headers=$("$objdump" -p "$dll")
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next}
               on && /^[[:space:]]*\[/ {print $NF; next}
               on {exit}' <<<"$headers")
[ "$exports" = "GetPluginEngine" ] || fail "exports are [$exports], expected exactly GetPluginEngine"
echo "ok: exports GetPluginEngine"

# Resource directory: type 6 (RT_STRING), then block 7 (strings 96-111).
grep -A2 'Entry: ID: 0x000006' <<<"$headers" | grep -q 'Entry: ID: 0x000007' ||
    fail "no string table block 7 in the resource directory"

rsrc=$(mktemp)
trap 'rm -f "$rsrc"' EXIT
"$objcopy" -O binary --only-section=.rsrc "$dll" "$rsrc"
hex=$(od -An -v -tx1 "$rsrc" | tr -d ' \n')
# Seven empty entries (96-102), then 103: length 10 and UTF-16LE "Hivemender".
expected="0000000000000000000000000000""0a00""4800690076006500""6d0065006e00640065007200"
[[ $hex == *"$expected"* ]] || fail "string 103 is not \"Hivemender\""
echo "ok: string 103 = Hivemender"
