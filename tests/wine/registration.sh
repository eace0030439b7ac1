#!/usr/bin/env bash
# regsvr32 registers the ProgID, the class with the apartment model and the
# type library; regsvr32 /u removes all of it again.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
dll=$1
run() { "$here/scripts/wine-run" "$@"; }
# Queries run without re-registering the DLL.
query() { LEDRA_DLL=/nonexistent "$here/scripts/wine-run" reg query "$@" 2>/dev/null | tr -d '\r'; }
fail=0
expect() {  # description, text, pattern
  if grep -q -- "$3" <<<"$2"; then echo "ok   $1"; else echo "FAIL $1: [$2] lacks [$3]"; fail=1; fi
}

run regsvr32 /s "$(LEDRA_DLL=/nonexistent "$here/scripts/wine-run" winepath -w "$dll" | tr -d '\r')" || { echo "FAIL regsvr32"; exit 1; }
clsid=$(query 'HKCR\plgLedraII.Session\CLSID' /ve | grep -o '{[0-9A-F-]*}')
expect "ProgID names the class" "$clsid" '^{680CB063-8F26-475B-BD3B-4289C59B823A}$'
expect "threading model" "$(query "HKCR\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel)" 'Apartment'
expect "server path" "$(query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve)" 'LedraII.dll'
# The type library is registered for the DLL's own platform.
tlb_platform=win64; [ "${LEDRA_ARCH:-x64}" = x86 ] && tlb_platform=win32
expect "type library" "$(query "HKCR\\TypeLib\\{1E71759E-517B-4174-98F0-CA181F5E16BF}\\2.0\\0\\$tlb_platform" /ve)" 'LedraII.dll'
expect "interface" "$(query 'HKCR\Interface\{C18BAD48-8F24-4D00-9F73-BE8A15006BAB}' /ve)" '_Session'
# The x64 DLL registers in the 64-bit view only: a 32-bit host must not find it.
if [ "${LEDRA_ARCH:-x64}" = x64 ]; then
  if query "HKCR\\CLSID\\$clsid\\InprocServer32" /reg:32 | grep -q LedraII; then
    echo "FAIL the x64 DLL is visible in the 32-bit registry view"; fail=1
  else
    echo "ok   not in the 32-bit registry view"
  fi
fi

LEDRA_DLL=/nonexistent "$here/scripts/wine-run" regsvr32 /u /s "$(LEDRA_DLL=/nonexistent "$here/scripts/wine-run" winepath -w "$dll" | tr -d '\r')" \
  || { echo "FAIL regsvr32 /u"; fail=1; }
for key in 'HKCR\plgLedraII.Session' "HKCR\\CLSID\\$clsid" 'HKCR\TypeLib\{1E71759E-517B-4174-98F0-CA181F5E16BF}' \
           'HKCR\Interface\{C18BAD48-8F24-4D00-9F73-BE8A15006BAB}'; do
  if LEDRA_DLL=/nonexistent "$here/scripts/wine-run" reg query "$key" >/dev/null 2>&1; then
    echo "FAIL still registered: $key"; fail=1
  else
    echo "ok   removed $key"
  fi
done
# Leave the DLL registered for the tests that follow.
run cmd /c exit 0
exit $fail
