#!/usr/bin/env bash
# MatchLastDigits as an administrator sets it (reg add under HKLM), then as a
# user overrides it (HKCU, 0: off), then removed: the host's answers follow.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
sample=$1 script=$2  # last_digits.vbs joined after check.vbs
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
# What reg said last is kept in a file (a pipe would wait on the Wine
# processes it may start) and shown when a change it must make fails.
said=$(mktemp)
reg() { LEDRA_DLL=/nonexistent "$top/scripts/wine-run" reg "$@" >"$said" 2>&1; }
host() { "$top/scripts/wine-run" cscript //nologo "$(winpath "$script")" "$(winpath "$sample")" "$1"; }
clean() { reg delete 'HKLM\SOFTWARE\LedraII' /f; reg delete 'HKCU\Software\LedraII' /f; }
trap 'clean; rm -f "$said"' EXIT
fail=0
clean
reg add 'HKLM\SOFTWARE\LedraII' /v MatchLastDigits /t REG_DWORD /d 9 /f ||
  { echo "FAIL reg add ($?): $(tr -d '\r' <"$said")"; exit 1; }
echo "-- HKLM MatchLastDigits = 9 (DWORD)"
host on || fail=1
reg add 'HKCU\Software\LedraII' /v MatchLastDigits /d 0 /f
echo "-- and HKCU MatchLastDigits = \"0\""
host off || fail=1
clean
echo "-- no value"
host off || fail=1
[ $fail -eq 0 ] && echo "last digits: all passed"
exit $fail
