#!/usr/bin/env bash
# Source this file: sets up a quiet 64-bit Wine prefix for the tests and the demo.
#   WINE_PREFIX_DIR  where the prefix goes (default: build/wineprefix)
# The prefix is made once from scratch and kept as a template; each sourcing copies the template
# afresh, so every run starts from the same clean state.
_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINE_PREFIX_DIR:-$_root/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
_template="$_root/build/wineprefix-template"

_make_template() {
  rm -rf "$_template.tmp"
  mkdir -p "$_template.tmp"
  WINEPREFIX="$_template.tmp" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$_template.tmp" wineserver -w
  local reg=(
    # No window manager here: let Wine draw frames itself, or every destroy stalls two seconds.
    "HKCU\\Software\\Wine\\X11 Driver|Managed|REG_SZ|N"
    # "Segoe UI" and Tahoma do not exist under Wine; link a CJK font so Chinese, Korean and
    # Japanese text renders instead of boxes.
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink|Segoe UI|REG_MULTI_SZ|wqy-microhei.ttc,WenQuanYi Micro Hei"
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink|Tahoma|REG_MULTI_SZ|wqy-microhei.ttc,WenQuanYi Micro Hei"
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink|MS Shell Dlg|REG_MULTI_SZ|wqy-microhei.ttc,WenQuanYi Micro Hei"
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink|Microsoft Sans Serif|REG_MULTI_SZ|wqy-microhei.ttc,WenQuanYi Micro Hei"
  )
  local entry key name type data
  for entry in "${reg[@]}"; do
    IFS='|' read -r key name type data <<<"$entry"
    WINEPREFIX="$_template.tmp" wine reg add "$key" /v "$name" /t "$type" /d "$data" /f >/dev/null 2>&1
  done
  local fonts="$_template.tmp/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  for f in marlett.ttf tahoma.ttf; do
    [ -f "/usr/share/wine/fonts/$f" ] && cp "/usr/share/wine/fonts/$f" "$fonts/"
  done
  for f in /usr/share/fonts/truetype/wqy/wqy-microhei.ttc; do
    [ -f "$f" ] && cp "$f" "$fonts/"
  done
  WINEPREFIX="$_template.tmp" wineserver -w
  mv "$_template.tmp" "$_template"
}

if [ ! -d "$_template" ]; then
  _make_template
fi
if [ "$WINEPREFIX" != "$_template" ]; then
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  cp -a "$_template" "$WINEPREFIX"
fi
