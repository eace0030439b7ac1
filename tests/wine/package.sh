#!/usr/bin/env bash
# The Windows Installer package under Wine, in a fresh prefix of its own
# where no regsvr32 ever runs: it installs, the host's lookup works through
# the registration it wrote, that registration is the one regsvr32 writes,
# installing it again is harmless, a later version replaces it, and removal
# takes every file and key away.
# Usage: package.sh PACKAGE LATER-PACKAGE LATER-DLL SAMPLE-FOLDER HOST-LOOKUP [X86-PACKAGE]
# (HOST-LOOKUP: host_lookup.vbs joined after check.vbs)
# (X86-PACKAGE, with the x64 ones: installed beside them, as on 64-bit Windows)
# with LEDRA_ARCH and LEDRA_DLL (the tree's DLL, for regsvr32) set.
set -u -o pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
msi=$1 later_msi=$2 later_dll=$3 sample=$4 host_lookup=$5 x86_msi=${6:-}
arch=${LEDRA_ARCH:-x64}
built_dll=${LEDRA_DLL:?LEDRA_DLL names the tree\'s DLL}
pfx=$top/build/msiprefix-$arch
folder='C:\Program Files\LedraII'
installed=$pfx/drive_c/Program\ Files/LedraII
roots=('plgLedraII.Session' 'CLSID\{680CB063-8F26-475B-BD3B-4289C59B823A}'
       'TypeLib\{1E71759E-517B-4174-98F0-CA181F5E16BF}' 'Interface\{C18BAD48-8F24-4D00-9F73-BE8A15006BAB}')
fail=0
ok() { echo "ok   $1"; }
bad() { echo "FAIL $1"; fail=1; }
check() { if [ "$2" = "$3" ]; then ok "$1"; else bad "$1: got [$2] expected [$3]"; fi; }

# The package's prefix: nothing for wine-run to register there.
pkg() { WINEPREFIX=$pfx LEDRA_DLL=/nonexistent "$top/scripts/wine-run" --arch "$arch" "$@" 2>/dev/null | tr -d '\r'; }
# The project's shared prefix, where wine-run registers the tree's DLL.
shared() { LEDRA_DLL=/nonexistent "$top/scripts/wine-run" --arch "$arch" "$@" 2>/dev/null | tr -d '\r'; }
# A path as Wine's Z: drive shows it, as winepath -w answers outside the prefix.
win() { local p; p=$(realpath -s -m -- "$1"); echo "Z:${p//\//\\}"; }
msiexec() { pkg msiexec "$@" >/dev/null; echo $?; }

# Every key and value under the registration's trees, one a line, sorted,
# with the DLL's folder written as <folder>.
listing() {  # RUNNER DLL-FOLDER [reg option]
  local run=$1 dir=$2 root; shift 2
  for root in "${roots[@]}"; do $run reg query "HKCR\\$root" /s "$@"; done |
    DIR=$dir perl -ne 'chomp; next if /^\s*$/ || /^reg: /; s/\Q$ENV{DIR}\E/<folder>/gi;
      if (/^HKEY/) { $k = $_; print "$k\n" } elsif (/^\s+(.*?)\s{4}(REG_\w+)(?:\s{4}(.*))?$/) { print "$k | $1 | $2 | $3\n" }' |
    sort
}
products() {  # the DisplayVersion of each Add/Remove Programs entry of this package
  pkg reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    ARCH=$arch perl -ne 'sub out { print "$v\n" if $n } if (/^HKEY/) { out(); $n = 0; $v = "" }
      $n = 1 if /^\s+DisplayName\s+REG_SZ\s+LedraII \(\Q$ENV{ARCH}\E\)\s*$/; $v = $1 if /^\s+DisplayVersion\s+REG_SZ\s+(\S+)/;
      END { out() }'
}
creates() { pkg cscript //nologo "$(win "$top/tests/wine/create_session.vbs")" | head -1; }

# A fresh prefix every run.
if [ -d "$pfx" ]; then WINEPREFIX=$pfx timeout 60 wineserver -k 2>/dev/null; rm -rf "$pfx"; fi

check "install" "$(msiexec /i "$(win "$msi")" /qn)" 0
cmp -s "$installed/LedraII.dll" "$built_dll" && ok "LedraII.dll installed" || bad "LedraII.dll not installed in $installed"
[ -f "$installed/ledra.exe" ] && ok "ledra.exe beside it" || bad "ledra.exe not installed"
version=$(products)
[ "$(wc -l <<<"$version")" = 1 ] && [ -n "$version" ] && ok "one entry in Add/Remove Programs ($version)" \
  || bad "Add/Remove Programs entries: [$version]"

# The same registration as regsvr32's, key for key and value for value.
# regsvr32 in the shared prefix, from a clean slate: leftovers of earlier
# registrations must not count.
shared regsvr32 /u /s "$(win "$built_dll")" >/dev/null
LEDRA_DLL=$built_dll "$top/scripts/wine-run" --arch "$arch" cmd /c exit 0 >/dev/null 2>&1
by_regsvr32=$(listing shared "$(win "$(dirname "$built_dll")")")
by_package=$(listing pkg "$folder")
if [ -n "$by_package" ] && [ "$by_package" = "$by_regsvr32" ]; then
  ok "the package writes the keys regsvr32 writes ($(wc -l <<<"$by_package") lines)"
else
  bad "the package's keys differ from regsvr32's:"; diff <(echo "$by_regsvr32") <(echo "$by_package") | sed 's/^/     /'
fi
# The x64 class stays out of the 32-bit view: a 32-bit host must not find it.
# (The type library's key is shared between the views, as on Windows.)
if [ "$arch" = x64 ]; then
  pkg reg query "HKCR\\${roots[1]}" /reg:32 >/dev/null && bad "the class is in the 32-bit view" \
    || ok "the class is not in the 32-bit view"
fi

lookup=$(pkg cscript //nologo "$(win "$host_lookup")" "$(win "$sample")")
if grep -q "all passed" <<<"$lookup" && ! grep -q "FAIL " <<<"$lookup"; then ok "the host identifies a caller"
else bad "host lookup:"; sed 's/^/     /' <<<"$lookup"; fi

tool=$(pkg "$folder\ledra.exe" lookup "01234 567890" --dbfile "$(win "$sample")\a_sname.dbf")
grep -q "is the supplier Acme Ltd" <<<"$tool" && ok "the installed ledra.exe runs" || bad "installed ledra.exe: $tool"

check "install again" "$(msiexec /i "$(win "$msi")" /qn)" 0
check "registration unchanged" "$(listing pkg "$folder")" "$by_package"
check "still one entry" "$(products)" "$version"

check "upgrade to the later version" "$(msiexec /i "$(win "$later_msi")" /qn)" 0
later=$(products)
[ -n "$later" ] && [ "$later" != "$version" ] && [ "$(wc -l <<<"$later")" = 1 ] \
  && ok "only the later version registered ($later)" || bad "after the upgrade: [$later], before: [$version]"
cmp -s "$installed/LedraII.dll" "$later_dll" && ok "the later version's DLL is installed" || bad "old DLL left after the upgrade"
check "registration after the upgrade" "$(listing pkg "$folder")" "$by_package"
check "the object after the upgrade" "$(creates)" created
[ "$(msiexec /i "$(win "$msi")" /qn)" != 0 ] && ok "the older package refuses to downgrade" || bad "the older package installed over the later"
check "the later version stays" "$(products)" "$later"

# On 64-bit Windows the x86 package goes beside the x64 one, into
# "Program Files (x86)" and the 32-bit registry view, and its removal leaves
# the x64 installation working.
if [ "$arch" = x64 ] && [ -n "$x86_msi" ]; then
  if [ ! -f "$x86_msi" ]; then
    echo "skip the x86 package beside the x64 one: $x86_msi is not built"
  else
    check "the x86 package beside it" "$(msiexec /i "$(win "$x86_msi")" /qn)" 0
    [ -f "$pfx/drive_c/Program Files (x86)/LedraII/LedraII.dll" ] && ok "x86: into Program Files (x86)" \
      || bad "x86: not in Program Files (x86)"
    check "x86: its class in the 32-bit view" \
      "$(pkg reg query "HKCR\\${roots[1]}\\InprocServer32" /ve /reg:32 | grep -o 'C:.*')" 'C:\Program Files (x86)\LedraII\LedraII.dll'
    check "x64: its class unchanged" \
      "$(pkg reg query "HKCR\\${roots[1]}\\InprocServer32" /ve | grep -o 'C:.*')" "$folder\LedraII.dll"
    check "x86: removed again" "$(msiexec /x "$(win "$x86_msi")" /qn)" 0
    [ ! -e "$pfx/drive_c/Program Files (x86)/LedraII" ] && ok "x86: its files are gone" || bad "x86: files left"
    pkg reg query "HKCR\\${roots[1]}" /reg:32 >/dev/null && bad "x86: its class is left" || ok "x86: its class is gone"
    check "x64: still created after the x86 removal" "$(creates)" created
  fi
fi

check "remove" "$(msiexec /x "$(win "$later_msi")" /qn)" 0
[ ! -e "$installed" ] && ok "the files are gone" || bad "left behind: $(ls "$installed")"
left=$(listing pkg "$folder")
[ -z "$left" ] && ok "every key is gone" || { bad "keys left behind:"; sed 's/^/     /' <<<"$left"; }
check "no entry in Add/Remove Programs" "$(products)" ""
case "$(creates)" in "not created"*) ok "the object can no longer be created" ;; *) bad "the object is still created" ;; esac

[ $fail = 0 ] && echo "all passed"
exit $fail
