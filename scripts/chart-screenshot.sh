#!/usr/bin/env bash
# The usage guide's picture of the chart sheet: the sample's workbook, its chart
# sheet alone made the active one in a copy, printed to PDF by LibreOffice
# (headless; a chart a page), the pages rendered, trimmed and set two by two
# in docs/chart-sheet.png.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for p in libreoffice-calc-nogui poppler-utils python3-openpyxl imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
bash scripts/build.sh release tlqconverter
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/sample.tlq "$work/sample.tlq"
mkdir "$work/bin" && printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open" && chmod +x "$work/bin/xdg-open"
env -u DISPLAY PATH="$work/bin:$PATH" build/release/src/tlqconverter --xlsx "$work/sample.tlq"
/usr/bin/python3 - "$work/sample.xlsx" "$work/chart.xlsx" <<'PY'
import re, sys, zipfile
src, out = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED)
for item in src.infolist():
    data = src.read(item.filename)
    if item.filename == "xl/workbook.xml":
        text = data.decode()
        names = re.findall(r'<sheet name="([^"]*)"', text)
        text = re.sub(r'<sheet name="(data|recording)"', r'<sheet name="\1" state="hidden"', text)
        data = text.replace("<workbookView ", '<workbookView activeTab="%d" ' % names.index("chart")).encode()
    out.writestr(item, data)
out.close()
PY
soffice "-env:UserInstallation=file://$work/profile" --headless --convert-to pdf --outdir "$work" "$work/chart.xlsx" \
  >/dev/null 2>&1
pdftoppm -png -r 60 "$work/chart.pdf" "$work/page"
for page in "$work"/page-*.png; do convert "$page" -trim +repage "$page"; done
montage "$work"/page-*.png -tile 2x -geometry +8+8 docs/chart-sheet.png
echo "docs/chart-sheet.png: $(stat -c %s docs/chart-sheet.png) bytes"
