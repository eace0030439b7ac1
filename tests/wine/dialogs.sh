#!/usr/bin/env bash
# dialogs.sh DRIVER SAMPLE-FOLDER-AS-WINDOWS-SEES-IT SHOT-FOLDER
# Runs the dialog driver under Wine (the tree's architecture comes from
# LEDRA_ARCH), then turns its screenshots into PNGs and says where they are.
set -u
driver=$1 sample=$2 shots=$3
mkdir -p "$shots"
rm -f "$shots"/*.bmp "$shots"/*.png
top=$(cd "$(dirname "$0")/../.." && pwd)
"$top/scripts/wine-run" "$driver" "$sample" "Z:${shots//\//\\}"
rc=$?
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" -strip "${bmp%.bmp}.png" && rm -f "$bmp"
done
ls "$shots"/*.png >/dev/null 2>&1 && echo "screenshots: $shots/*.png"
exit $rc
