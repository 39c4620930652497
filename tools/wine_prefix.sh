#!/usr/bin/env bash
# Prepares a Wine prefix in which the Windows program looks as in the
# README's pictures: Japanese text in the dialog, the message boxes and the
# captions (a plain prefix shows empty boxes), and window frames that Wine
# draws itself, which is what a virtual X server without a window manager
# needs (Wine then also closes windows at once). Creates the prefix when
# missing; run again, it only sets again.
#
# Usage: wine_prefix.sh [--desktop-frames] PREFIX [MORE.reg]
#   PREFIX            the Wine prefix, for example ~/.wine-nwd (about 700 MB)
#   --desktop-frames  leave the window frames to the desktop's window manager
#   MORE.reg          further settings in .reg notation, UTF-8, without the
#                     header line, imported in the same step
# Then, in the folder of the parts: WINEPREFIX=PREFIX wine NWD4_322.exe
set -euo pipefail

frames=N
if [ "${1:-}" = --desktop-frames ]; then
  frames=Y
  shift
fi
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  sed -n '9,15p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
export WINEPREFIX
WINEPREFIX=$(realpath -m "$1")
more=${2:-}
export WINEDEBUG=-all
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

gothic_file=$(fc-list -f '%{file}\n' IPAPGothic | head -1)
if [ -z "$gothic_file" ]; then
  echo "wine_prefix.sh: the IPA P Gothic font is missing (package fonts-ipafont-gothic)" >&2
  exit 1
fi

started=$SECONDS
say() { echo "wine_prefix.sh: $*"; }

if [ ! -f "$WINEPREFIX/.nwd-ready" ]; then
  say "creating the Wine prefix $WINEPREFIX (once; about 30 s and 700 MB)"
  timeout 120 wineboot -i >/dev/null 2>&1
  timeout 60 wineserver -w
fi
say "setting the Japanese fonts and the window frames"
# This Wine does not load the fonts of its own data folder, and without
# Marlett the captions' close button shows an "r".
for wine_fonts in /usr/share/wine/fonts /usr/lib/wine/fonts; do
  [ -f "$wine_fonts/marlett.ttf" ] || continue
  cp -f "$wine_fonts/marlett.ttf" "$WINEPREFIX/drive_c/windows/Fonts/"
  break
done

# A REG_MULTI_SZ value in .reg notation.
multi_sz() {
  local hex
  hex=$(printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' |
    sed 's/^,//; s/,$//')
  echo "hex(7):$hex,00,00,00,00"
}

# The dialog's font and the message boxes' and captions' Japanese text come
# from the IPA fonts. Wine's registry tools read Unicode names from a UTF-16
# file with a byte order mark.
link=$(multi_sz "$(basename "$gothic_file"),IPAPGothic")
settings=$WINEPREFIX/nwd-settings.reg
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  printf '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
  printf '"%s"=%s\r\n' Tahoma "$link" "MS Shell Dlg" "$link" "MS Shell Dlg 2" "$link"
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
  printf '"Decorated"="%s"\r\n"Managed"="%s"\r\n\r\n' "$frames" "$frames"
  [ -z "$more" ] || sed 's/\r\{0,1\}$/\r/' "$more"
} | {
  printf '\xff\xfe'
  iconv -f UTF-8 -t UTF-16LE
} >"$settings"
timeout 60 wine reg import "Z:${settings//\//\\}" >/dev/null 2>&1
timeout 60 wineserver -w
touch "$WINEPREFIX/.nwd-ready"
say "ready in $((SECONDS - started)) s: WINEPREFIX=$WINEPREFIX wine NWD4_322.exe"
