#!/usr/bin/env bash
# The program started from a file manager, on an installed copy: the desktop
# entry validates and stays out of the menus, the first part's name has its
# MIME type, the entry is that type's default, and opening a set's first
# part (gio open, as file managers do) brings up the dialog in that set's
# folder (also through xdg-open on a GNOME desktop), where Escape ends it
# without writing anything.
#
# Usage: check_file_manager.sh --build BUILD_DIR WORKDIR   (installs it in WORKDIR)
#        check_file_manager.sh --prefix PREFIX WORKDIR      (an unpacked package's usr/)
set -euo pipefail

if [ $# -ne 3 ] || { [ "$1" != --build ] && [ "$1" != --prefix ]; }; then
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
work=$(realpath -m "$3")
type=application/x-nwd4-322-first-part
rm -rf "$work"
mkdir -p "$work/home"
if [ "$1" = --build ]; then
  prefix=$work/prefix
  cmake --install "$(realpath "$2")" --prefix "$prefix" >/dev/null
else
  prefix=$(realpath "$2")
fi

failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok   $what"
  else
    echo "FAIL $what"
    failed=1
  fi
}

entry=$prefix/share/applications/nwd4_322.desktop
check "the entry validates" desktop-file-validate "$entry"
check "the entry stays out of the menus" grep -q -x 'NoDisplay=true' "$entry"
update-mime-database "$prefix/share/mime"
update-desktop-database "$prefix/share/applications"

# The installed copy alone, with no settings of the user's. The caches stay
# the user's: a font cache built afresh would take longer than the test.
export XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_DATA_DIRS=$prefix/share:/usr/share XDG_CONFIG_DIRS=/etc/xdg
export PATH=$prefix/bin:$PATH
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION

set_dir="$work/a set with spaces; \$(touch injected)"
mkdir -p "$set_dir"
head -c 3000000 /dev/urandom >"$work/source.bin"
nwd_split --parts 3 --output-name SETUP.EXE "$work/source.bin" "$set_dir" >/dev/null
before=$(ls "$set_dir")
content_type() { gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'; }
check "NWD4_322.001 is of type $type" test "$(content_type "$set_dir/NWD4_322.001")" = "$type"
check "NWD4_322.002 is not" test "$(content_type "$set_dir/NWD4_322.002")" != "$type"
check "xdg-mime gives the entry as the type's default" \
  test "$(xdg-mime query default "$type")" = nwd4_322.desktop

# Opened under a headless X server, as a file manager opens it, and as
# xdg-open does on a GNOME desktop (through gio): each opener's line tells
# the folder the dialog came up in, or what went wrong (the accessibility
# registry started on the way prints a line of its own).
cat >"$work/open.sh" <<'SH'
set -u
open_with() {
  "$@" "$set_dir/NWD4_322.001" 2>"$work/opener.err" ||
    { echo "$1: failed: $(cat "$work/opener.err")"; return; }
  local w pid title
  w=$(timeout 20 xdotool search --sync --onlyvisible --class '^NWD4_322$' | head -1)
  [ -n "$w" ] || { echo "$1: no window"; return; }
  title=$(xprop -id "$w" -notype _NET_WM_NAME)
  [ "$title" = '_NET_WM_NAME = "「ソルネ」PRO NWD4C"' ] || { echo "$1: not the dialog: $title"; return; }
  pid=$(xdotool getwindowpid "$w")
  echo "$1: cwd $(readlink "/proc/$pid/cwd")"
  xdotool windowfocus --sync "$w" key Escape
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then echo "$1: the program did not end"; fi
}
set_dir=$1 work=$2
open_with gio open
open_with env XDG_CURRENT_DESKTOP=GNOME xdg-open
SH
# A desktop session has its bus, which GTK asks for the accessibility bus.
out=$(xvfb-run -a -s "-noreset -screen 0 1024x768x24 -nolisten tcp" dbus-run-session -- \
  bash "$work/open.sh" "$set_dir" "$work" 2>/dev/null | grep -E '^(gio|env): ') || true
expected="gio: cwd $set_dir
env: cwd $set_dir"
check "gio open and xdg-open on the first part show the dialog in the set's folder" \
  test "$out" = "$expected"
[ "$out" = "$expected" ] || cat -A <<<"$out"
check "Escape ends it, nothing written, no name run by a shell" \
  test "$(ls "$set_dir")" = "$before" -a ! -e "$work/injected" -a ! -e injected

exit $failed
