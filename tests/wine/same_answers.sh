#!/usr/bin/env bash
# ledra (native) and LedraII.dll (under Wine) answer the same requests over
# the same tables with the same records, the elapsed time aside.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
ledra=$1 sample=$2
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# cscript writes in the console (OEM) code page.
no_speed() { sed -E 's/\{Speed\(N[0-9]+\)=[^}]*\}//' | tr -d '\r'; }

cat > "$work/requests" <<'REQ'
FindContact {Tel=01234 567890}
FindContact {Tel=0161 496 0000}
FindContact {Tel=09876 543210}
FindContact {Id=snHARR01}
FindList {Text=harrison}
FindList {Begin=P}
REQ
{
  "$ledra" lookup "01234 567890" --dbfile "$sample/a_sname.dbf" --vars | head -1
  "$ledra" lookup "0161 496 0000" --dbfile "$sample/a_sname.dbf" --vars | head -1
  "$ledra" lookup "09876 543210" --dbfile "$sample/a_sname.dbf" --vars | head -1
  "$ledra" show snHARR01 --dbfile "$sample/a_sname.dbf" --vars | head -1
  "$ledra" search harrison --dbfile "$sample/a_sname.dbf" --vars | head -1
  "$ledra" list --letter P --dbfile "$sample/a_sname.dbf" --vars | head -1
} 2>/dev/null | no_speed > "$work/native"
"$top/scripts/wine-run" cscript //nologo "$(winpath "$top/tests/wine/answers.vbs")" \
  "$(winpath "$sample")\\a_sname.dbf" "$(winpath "$work/requests")" | iconv -f CP437 -t UTF-8 | no_speed > "$work/dll"
if [ "$(wc -l < "$work/dll")" -ne 6 ] || ! diff "$work/native" "$work/dll"; then
  echo "FAIL the answers differ (< ledra, > LedraII.dll)"
  exit 1
fi
echo "ok   6 requests answered alike:"
cat "$work/dll"
