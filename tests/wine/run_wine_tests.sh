#!/usr/bin/env bash
# End-to-end tests of the Windows program, NWD4_322.exe, under Wine on a
# headless X server: its compiled resources, and whole runs driven with real
# key presses, read back through a helper that lists the dialogs on screen.
#
# Usage: run_wine_tests.sh NWD4_322.exe NWD_SPLIT WORKDIR [TEMPLATE_DUMP]
#   NWD4_322.exe   the cross-built program; probe.exe, marker.exe,
#                  error_causes.exe, zone_check.exe, backend_calls.exe,
#                  fault_matrix.exe and help_stub.exe are expected in
#                  tests/wine/ beside it (same build tree)
#   NWD_SPLIT      the native part-set cutter
#   WORKDIR        scratch folder under the build tree: the Wine prefix, the
#                  part sets and the screenshots (windows-*.png) go there
#   TEMPLATE_DUMP  the native dump of the portable dialog template; default:
#                  tests/wine/template_dump in NWD_SPLIT's build tree, or
#                  compiled here when that is missing
# WINE_TESTS="test_a test_b" runs only those tests. Prints one line per check
# and ends with "N passed, N failed"; the exit status is 0 only when nothing
# failed.
set -uo pipefail

if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi

# No display: run again on a private headless X server.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-noreset -screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
fi

SRC=$(cd "$(dirname "$0")/../.." && pwd)
EXE=$(realpath "$1")
SPLIT=$(realpath "$2")
WORK=$(realpath -m "$3")
HELPERS=$(dirname "$EXE")/tests/wine
PROBE=$HELPERS/probe.exe
MARKER=$HELPERS/marker.exe
ERROR_CAUSES=$HELPERS/error_causes.exe
ZONE_CHECK=$HELPERS/zone_check.exe
BACKEND_CALLS=$HELPERS/backend_calls.exe
HELP_STUB=$HELPERS/help_stub.exe
FAULT_MATRIX=$HELPERS/fault_matrix.exe
TEMPLATE_DUMP=${4:-$(dirname "$SPLIT")/tests/wine/template_dump}

for f in "$EXE" "$SPLIT" "$PROBE" "$MARKER" "$ERROR_CAUSES" "$ZONE_CHECK" "$BACKEND_CALLS" \
  "$HELP_STUB" "$FAULT_MATRIX"; do
  [ -e "$f" ] || { echo "missing: $f" >&2; exit 2; }
done

export WINEPREFIX=$WORK/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the Unix side's file names and arguments in this encoding.
export LC_ALL=C.UTF-8
mkdir -p "$WORK"
SHOTS=$WORK/screenshots
mkdir -p "$SHOTS"

started=$(date +%s)
passed=0
failed=0
BG_PIDS=()

cleanup() {
  for pid in "${BG_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

pass() {
  echo "ok   $1"
  passed=$((passed + 1))
}

fail() {
  echo "FAIL $1"
  shift
  [ $# -gt 0 ] && printf '     %s\n' "$@"
  failed=$((failed + 1))
}

# --- the Wine prefix ---

# The Windows name of a Unix path, through Wine's Z: drive.
winpath() { echo "Z:${1//\//\\}"; }

# The prefix as a user prepares it (fonts, frames drawn by Wine), and drive
# D: a CD-ROM and N: a network drive. Drives are looked up when Wine starts:
# their folders exist from here on and the tests fill them.
prepare_prefix() {
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n"d:"="cdrom"\n"n:"="network"\n' \
    >"$WORK/drives.reg"
  bash "$SRC/tools/wine_prefix.sh" "$WINEPREFIX" "$WORK/drives.reg"
  local kind
  for kind in cdrom:d network:n; do
    mkdir -p "$CASES/drive-${kind%:*}"
    ln -sfn "$CASES/drive-${kind%:*}" "$WINEPREFIX/dosdevices/${kind#*:}:"
  done
}

# --- helpers ---

probe() { timeout 20 wine "$PROBE" "$@" 2>/dev/null; }

# The lines of one dialog in probe's window list: its "window" line and the
# indented lines below it.
window_block() {
  awk -v want="window $1" '/^window /{on = ($0 == want)} on' <<<"$2"
}

count_windows() {
  grep -c -x -F "window $1" <<<"$2"
}

# A fresh folder holding the program and a part set cut from the payload.
CASES=$WORK/cases
new_set() {
  local dir=$CASES/$1 parts=$2
  rm -rf "${dir:?}"/*
  mkdir -p "$dir"
  cp "$EXE" "$dir/NWD4_322.exe"
  "$SPLIT" --parts "$parts" --output-name "$OUTPUT_NAME" "$MARKER" "$dir" >/dev/null
  echo "$dir"
}

# Starts the program in a folder, with extra environment settings (NAME=VALUE)
# if given; PROGRAM_PID is its wine process.
start_program() {
  local dir=$1
  shift
  (cd "$dir" && exec env "$@" timeout 30 wine NWD4_322.exe >/dev/null 2>&1) &
  PROGRAM_PID=$!
  BG_PIDS+=("$PROGRAM_PID")
}

# Starts the program with a Windows folder as its current one (a drive
# letter the Unix side has no name for).
start_program_in() {
  (exec timeout 30 wine "$PROBE" run "$1" "$2" >/dev/null 2>&1) &
  PROGRAM_PID=$!
  BG_PIDS+=("$PROGRAM_PID")
}

# Waits for the program to end; fails when it does not within 15 s.
program_ends() {
  local waited=0
  while kill -0 "$PROGRAM_PID" 2>/dev/null; do
    sleep 0.1
    waited=$((waited + 1))
    [ $waited -ge 150 ] && return 1
  done
  wait "$PROGRAM_PID" 2>/dev/null
  return 0
}

# The X window of a Wine window whose title matches the pattern, once it is
# on screen.
x_window() {
  timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1
}

press() {
  local window=$1 key=$2
  xdotool windowfocus --sync "$window" 2>/dev/null
  xdotool key "$key"
}

# Saves the screen around a window: its rectangle from probe's list, with a
# margin, or the whole screen.
screenshot() {
  local name=$1 rect=${2:-}
  if [ -n "$rect" ]; then
    # shellcheck disable=SC2086
    set -- $rect
    local margin=24
    local x=$(($1 - margin)) y=$(($2 - margin)) w=$(($3 - $1 + 2 * margin)) h=$(($4 - $2 + 2 * margin))
    [ $x -lt 0 ] && x=0
    [ $y -lt 0 ] && y=0
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$SHOTS/$name" 2>/dev/null
  else
    import -window root "$SHOTS/$name" 2>/dev/null
  fi
}

DIALOG_TITLE='「ソルネ」PRO NWD4C'
DIALOG_X='NWD4C$'
MESSAGE_TITLE='NWD4_322'
MESSAGE_X='^NWD4_322$'
# The dialog's width at 96 dpi, once the valid set has measured it.
DIALOG_WIDTH_96=100000

# --- the compiled resources ---

test_resources() {
  local dump compiled expected
  if [ ! -x "$TEMPLATE_DUMP" ]; then
    TEMPLATE_DUMP=$WORK/template_dump
    g++ -std=c++17 -I"$SRC" "$SRC/tests/wine/template_dump.cc" "$SRC/ui/join_dialog_template.cc" \
      -o "$TEMPLATE_DUMP"
  fi
  local exe_w
  exe_w=$(winpath "$EXE")
  dump=$("$TEMPLATE_DUMP")
  compiled=$(probe dialog "$exe_w" 102)
  if diff <(grep -v '^compiled ' <<<"$compiled") <(echo "$dump") >"$WORK/template.diff"; then
    pass "resource script's dialog 102 agrees field by field with the portable template"
  else
    fail "resource script's dialog 102 agrees field by field with the portable template" \
      "$(cat "$WORK/template.diff")"
  fi
  expected='compiled font weight=0 italic=0 charset=1
compiled language 0x00000411
compiled helpid 0 menu '"''"' class '"''"' controls 4'
  if diff <(grep -E '^compiled (font|language|helpid)' <<<"$compiled") <(echo "$expected") \
    >"$WORK/template-extra.diff"; then
    pass "dialog 102 is Japanese, font weight 0, not italic, charset 1, no menu or class"
  else
    fail "dialog 102 is Japanese, font weight 0, not italic, charset 1, no menu or class" \
      "$(cat "$WORK/template-extra.diff")"
  fi

  # The progress window: shown once its texts are set, centred, with its own
  # taskbar button; the output's name drawn as it is (no & mnemonics) and
  # shortened in the middle; the system's progress control; キャンセル.
  local progress
  progress=$(probe dialog "$exe_w" 103 | grep -v '^compiled ')
  expected='dialog 103
style 0x80c808c0
exstyle 0x00040000
rect 0 0 214 59
font 9 ＭＳ Ｐゴシック
caption 
control 1003 Static 0x50008080 7 7 200 10 
control 1004 MSCTLS_PROGRESS32 0x50800000 7 21 200 10 
control 2 Button 0x50010000 157 38 50 14 キャンセル'
  if [ "$progress" = "$expected" ]; then
    pass "dialog 103: the progress window's template, hidden until shown, centred, own taskbar button"
  else
    fail "dialog 103: the progress window's template" "$progress"
  fi

  local version
  version=$(probe version "$exe_w")
  expected='fixed file 3.2.2.0 product 3.2.2.0 type 1
translation 0411 04b0
string FileVersion 3, 2, 2, 0
string ProductVersion 3, 2, 2, 0
string InternalName NWD4_322
string OriginalFilename NWD4_322.exe'
  if diff <(grep -v -E '^string (CompanyName|FileDescription|ProductName|LegalCopyright) ' \
    <<<"$version") <(echo "$expected") >"$WORK/version.diff" &&
    ! grep -q '(none)' <<<"$version"; then
    pass "version record: 3.2.2.0, Japanese Unicode block, names, every string present"
  else
    fail "version record: 3.2.2.0, Japanese Unicode block, names, every string present" \
      "$(cat "$WORK/version.diff")" "$version"
  fi

  local icon
  icon=$(probe icon "$exe_w" 128 | tr '\n' ' ')
  if [ "$icon" = 'image 32x32 8bpp image 16x16 8bpp image 20x20 8bpp image 24x24 8bpp image 48x48 8bpp image 256x256 8bpp ' ]; then
    pass "icon 128 holds images of 32, 16, 20, 24, 48 and 256 pixels, 256 colours each"
  else
    fail "icon 128 holds images of 32, 16, 20, 24, 48 and 256 pixels, 256 colours each" "$icon"
  fi

  local manifest
  manifest=$(probe manifest "$exe_w")
  if grep -q 'level="asInvoker"' <<<"$manifest" &&
    grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" &&
    grep -q '>true</dpiAware>' <<<"$manifest" &&
    grep -q '>PerMonitorV2, System</dpiAwareness>' <<<"$manifest"; then
    pass "manifest: as invoker, common controls 6, DPI aware, per monitor (v2) where it can"
  else
    fail "manifest: as invoker, common controls 6, DPI aware, per monitor (v2) where it can" \
      "$manifest"
  fi

  if command -v x86_64-w64-mingw32-objdump >/dev/null; then
    local dlls
    dlls=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/^\s*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
    if ! grep -q -E '^(libstdc|libgcc|libwinpthread)' <<<"$dlls"; then
      pass "imports only system DLLs: $(tr '\n' ' ' <<<"$dlls")"
    else
      fail "imports only system DLLs" "$dlls"
    fi
  fi
}

# The backend's table from system error codes to file exception causes.
test_error_causes() {
  local out
  if out=$(timeout 20 wine "$ERROR_CAUSES" 2>/dev/null | tr -d '\r'); then
    pass "error codes: $(tail -1 <<<"$out")"
  else
    fail "error codes: every listed system error code maps to its file exception cause" "$out"
  fi
}

# --- whole runs ---

# The dialog as the user sees it, then Execute with Enter: the output is the
# payload byte for byte, and it was started in the set's folder.
test_valid_set() {
  local dir list block
  dir=$(new_set valid 3)
  start_program "$dir"
  local w
  w=$(x_window "$DIALOG_X")
  if [ -z "$w" ]; then
    fail "valid set: the dialog appears"
    return
  fi
  list=$(probe windows)
  block=$(window_block "$DIALOG_TITLE" "$list")
  local expected="window $DIALOG_TITLE
  owner -
  control 1 Button 実行
  control 2 Button 中止
  control 1001 Static 「ソルネ」PRO NWD4Cインストーラ分割データを結合します。
  control 1002 Static 必要なファイルをすべて同じフォルダにコピーしたことを確認後、\\n\"実行\"ボタンを押してください。"
  if diff <(grep -E '^(window|  owner|  control)' <<<"$block") <(echo "$expected") \
    >"$WORK/dialog.diff"; then
    pass "valid set: dialog caption, both texts and both buttons exact, no owner"
  else
    fail "valid set: dialog caption, both texts and both buttons exact, no owner" \
      "$(cat "$WORK/dialog.diff")"
  fi
  if grep -q -x '  default 1' <<<"$block" && grep -q -x '  focus 1' <<<"$block"; then
    pass "valid set: Execute is the default button and has the focus"
  else
    fail "valid set: Execute is the default button and has the focus" "$block"
  fi
  # Wine answers no WM_GETICON from another process, but hands the window's
  # icons to X: the big one must be the 32x32 image of icon 128, pixel for
  # pixel, and the small one its own 16x16 image, not the big one shrunk.
  local pair side
  for pair in 32:0 16:1; do
    side=${pair%:*}
    if [ "$(x_icon_pixels "$w" "$side" | md5sum)" = "$(ico_pixels "${pair#*:}" | md5sum)" ]; then
      pass "valid set: the window's ${side}x$side icon is the program's image of that size"
    else
      fail "valid set: the window's ${side}x$side icon is the program's image of that size"
    fi
  done
  local style exstyle
  read -r _ style _ exstyle < <(grep '^  style ' <<<"$block")
  if [ -n "$style" ] && (((style & 0x00030000) == 0 && (exstyle & 0x00040000) != 0)); then
    pass "valid set: no minimise or maximise box, own taskbar button"
  else
    fail "valid set: no minimise or maximise box, own taskbar button" "$style $exstyle"
  fi
  local area rect
  area=$(sed -n 's/^workarea //p' <<<"$list")
  rect=$(sed -n 's/^  rect //p' <<<"$block")
  if centred "$area" "$rect"; then
    pass "valid set: dialog centred in the work area ($rect in $area)"
  else
    fail "valid set: dialog centred in the work area" "rect $rect, work area $area"
  fi
  screenshot windows-dialog.png
  screenshot windows-dialog-crop.png "$rect"
  local left right
  read -r left _ right _ <<<"$rect"
  DIALOG_WIDTH_96=$((right - left))

  press "$w" Return
  if ! program_ends; then
    fail "valid set: Enter runs Execute and the program ends"
    return
  fi
  if cmp -s "$MARKER" "$dir/$OUTPUT_NAME"; then
    pass "valid set: Enter writes $OUTPUT_NAME byte-identical to the payload"
  else
    fail "valid set: Enter writes $OUTPUT_NAME byte-identical to the payload" \
      "$(ls -la "$dir")"
  fi
  local folder
  folder=$(winpath "$dir")
  # The launched program may take a moment to write its mark.
  for _ in $(seq 50); do [ -s "$dir/marker.txt" ] && break; sleep 0.1; done
  if [ "$(cat "$dir/marker.txt" 2>/dev/null)" = $'launched\ncwd '"$folder"$'\nerror mode 0' ]; then
    pass "valid set: the output was launched, in the set's folder, with the system's error mode"
  else
    fail "valid set: the output was launched, in the set's folder, with the system's error mode" \
      "$(cat "$dir/marker.txt" 2>&1)"
  fi
}

# The pixels of a window's icon image of the given side as X has them, and
# those of an image of the program's .ico, alike: one ARGB word a line.
x_icon_pixels() {
  xprop -id "$1" -notype -f _NET_WM_ICON 32c _NET_WM_ICON 2>/dev/null |
    sed 's/^_NET_WM_ICON = //' | tr -d ' ' | tr ',' '\n' | python3 -c '
import sys
side, v, i = int(sys.argv[1]), [int(x) for x in sys.stdin.read().split()], 0
while i + 2 <= len(v):
    if v[i] == side:
        print("\n".join("%08x" % p for p in v[i + 2:i + 2 + side * side]))
    i += 2 + v[i] * v[i + 1]
' "$2"
}
ico_pixels() {
  convert "$SRC/ui/icon/nwd4_322.ico[$1]" -depth 8 rgba:- | od -An -v -tx1 -w4 |
    awk '{ print ($4 == "00") ? "00000000" : $4 $1 $2 $3 }'
}

# centred "L T R B" "L T R B": the window sits in the middle of the area,
# to the pixel that halving the sizes may lose.
centred() {
  local al at ar ab wl wt wr wb
  read -r al at ar ab <<<"$1"
  read -r wl wt wr wb <<<"$2"
  [ -n "$wb" ] || return 1
  local ex=$(((al + ar) / 2 - (wr - wl) / 2)) ey=$(((at + ab) / 2 - (wb - wt) / 2))
  [ $((wl - ex)) -ge -1 ] && [ $((wl - ex)) -le 1 ] && [ $((wt - ey)) -ge -1 ] &&
    [ $((wt - ey)) -le 1 ]
}

# A key that ends the dialog with Cancel: no message, nothing written or
# started.
test_cancel_key() {
  local name=$1 key=$2 dir w
  dir=$(new_set "cancel-$key" 3)
  start_program "$dir"
  w=$(x_window "$DIALOG_X")
  if [ -z "$w" ]; then
    fail "$name: the dialog appears"
    return
  fi
  press "$w" "$key"
  local listing=""
  if program_ends; then
    listing=$(ls "$dir" | tr '\n' ' ')
    if [ "$listing" = "NWD4_322.001 NWD4_322.002 NWD4_322.003 NWD4_322.exe " ]; then
      pass "$name: the program ends without a message, output or launch"
      return
    fi
  fi
  fail "$name: the program ends without a message, output or launch" "folder: $listing"
}

# Runs a prepared folder up to Execute and expects one message owned by the
# dialog; Enter dismisses it and the program ends without output.
expect_execute_message() {
  local name=$1 dir=$2 text=$3 shot=${4:-}
  start_program "$dir"
  local w
  w=$(x_window "$DIALOG_X")
  if [ -z "$w" ]; then
    fail "$name: the dialog appears"
    return
  fi
  press "$w" Return
  expect_message "$name" "$text" "$DIALOG_TITLE" "$shot"
  [ -e "$dir/$OUTPUT_NAME" ] && fail "$name: nothing is written" "$(ls "$dir")"
}

# The message box once it is on screen. The join's progress window carries
# the same caption: the box is the window with a message text.
message_window() {
  local list
  for _ in $(seq 200); do
    list=$(probe windows)
    window_block "$MESSAGE_TITLE" "$list" | grep -q '^  control 65535 ' && break
    sleep 0.1
  done
  x_window "$MESSAGE_X"
}

# expect_message NAME TEXT OWNER [SCREENSHOT [stays-open]]: exactly one
# message box with the program's caption, the text and the owner ("-" for
# none); Enter dismisses it and the program ends, or with stays-open goes on.
expect_message() {
  local name=$1 text=$2 owner=$3 shot=${4:-} after=${5:-ends}
  local m list block
  m=$(message_window)
  if [ -z "$m" ]; then
    fail "$name: a message appears"
    return
  fi
  list=$(probe windows)
  block=$(window_block "$MESSAGE_TITLE" "$list")
  local count
  count=$(count_windows "$MESSAGE_TITLE" "$list")
  if [ "$count" = 1 ] && grep -q -x -F "  owner $owner" <<<"$block" &&
    grep -q -x -F "  control 65535 Static $text" <<<"$block"; then
    pass "$name: one message captioned NWD4_322, owner $owner: $text"
  else
    fail "$name: one message captioned NWD4_322, owner $owner: $text" "$block"
  fi
  if [ -n "$shot" ]; then
    local rect
    rect=$(window_block "$owner" "$list" | sed -n 's/^  rect //p')
    [ -n "$rect" ] || rect=$(sed -n 's/^  rect //p' <<<"$block")
    screenshot "$shot" "$rect"
  fi
  press "$m" Return
  [ "$after" = ends ] || return 0
  program_ends || fail "$name: the program ends once the message is dismissed"
}

test_missing_part() {
  local dir
  dir=$(new_set missing 3)
  rm "$dir/NWD4_322.002"
  expect_execute_message "missing part" "$dir" \
    'NWD4_322.002\n上記のファイルが見つかりません。\n終了します。' windows-message.png
}

test_damaged_part() {
  local dir
  dir=$(new_set damaged 3)
  truncate -s 100 "$dir/NWD4_322.003"
  expect_execute_message "damaged part" "$dir" \
    'NWD4_322.003\n上記のファイルが壊れている可能性があります。\n終了します。'
}

# Another Wine process holds part 3 with share mode 0: it cannot be opened,
# so it counts as missing.
test_held_part() {
  local dir
  dir=$(new_set held 3)
  (cd "$dir" && exec timeout 40 wine "$PROBE" hold NWD4_322.003 release.flag >"$dir/hold.out" 2>&1) &
  local holder=$!
  BG_PIDS+=("$holder")
  for _ in $(seq 100); do grep -q held "$dir/hold.out" 2>/dev/null && break; sleep 0.1; done
  if ! grep -q held "$dir/hold.out"; then
    fail "part held open by another program: the holder starts" "$(cat "$dir/hold.out")"
    return
  fi
  expect_execute_message "part held open by another program" "$dir" \
    'NWD4_322.003\n上記のファイルが見つかりません。\n終了します。'
  touch "$dir/release.flag"
  wait "$holder" 2>/dev/null
}

test_first_part_missing() {
  local dir
  dir=$(new_set no-first 3)
  rm "$dir/NWD4_322.001"
  start_program "$dir"
  expect_message "first part missing" 'NWD4_322.001 が見つかりません。\n終了します。' -
}

# A set on a drive that Wine reports as a CD-ROM or a network drive.
test_drive() {
  local letter=$1 kind=$2 dir
  dir=$(new_set "drive-$kind" 3)
  start_program_in "$letter:\\" "$letter:\\NWD4_322.exe"
  expect_message "set on a $kind drive" 'ハードディスク上で実行してください。' -
}

# F1 asks the help viewer for the dialog's topic in the help file named after
# the program; Wine's viewer then says that it cannot find the file, in a
# box of its own (titled ERROR in the English locale the tests run in). The
# dialog stays open.
test_help_viewer() {
  local dir w list=""
  dir=$(new_set help 3)
  start_program "$dir"
  w=$(x_window "$DIALOG_X")
  if [ -z "$w" ]; then
    fail "F1: the dialog appears"
    return
  fi
  press "$w" F1
  local help_file
  help_file=$(winpath "$dir/NWD4_322.HLP" | sed 's/\\/\\\\/g')
  for _ in $(seq 50); do
    list=$(probe windows)
    grep -q -F "$help_file" <<<"$list" && break
    sleep 0.1
  done
  if grep -q -F "$help_file" <<<"$list" && grep -q -x -F "window $DIALOG_TITLE" <<<"$list"; then
    pass "F1: the help viewer opens NWD4_322.HLP beside the program, the dialog stays open"
  else
    fail "F1: the help viewer opens NWD4_322.HLP beside the program, the dialog stays open" \
      "$list"
  fi
  # The viewer's box (Yes/No: find the file yourself?) answers the request
  # while the program waits for it; No.
  local viewer
  viewer=$(x_window '^ERROR$')
  [ -n "$viewer" ] && press "$viewer" n
  # The viewer took the activation with it: a click on the caption gives it
  # back, as it would for the user.
  local left top right
  read -r left top right _ < <(window_block "$DIALOG_TITLE" "$list" | sed -n 's/^  rect //p')
  xdotool mousemove $(((left + right) / 2)) $((top + 8)) click 1
  press "$w" Escape
  program_ends || fail "F1: once the viewer has answered, Escape ends the dialog"
}

# Without a help viewer, F1 is answered by the framework's message, over the
# dialog, which stays open. F1 with Shift, Ctrl or Alt is no Help command.
NO_VIEWER="WINEDLLOVERRIDES=$WINEDLLOVERRIDES;winhlp32.exe=d"
test_help_fails() {
  local dir w
  dir=$(new_set help-fails 3)
  start_program "$dir" "$NO_VIEWER"
  w=$(x_window "$DIALOG_X")
  if [ -z "$w" ]; then
    fail "F1 without a viewer: the dialog appears"
    return
  fi
  press "$w" F1
  expect_message "F1 without a viewer" 'ﾍﾙﾌﾟの起動に失敗しました。' "$DIALOG_TITLE" \
    "" stays-open
  w=$(x_window "$DIALOG_X")
  press "$w" Escape
  if program_ends && [ ! -e "$dir/$OUTPUT_NAME" ]; then
    pass "F1 without a viewer: the dialog stayed open, Escape then ends it"
  else
    fail "F1 without a viewer: the dialog stayed open, Escape then ends it"
  fi

  dir=$(new_set help-modifiers 3)
  start_program "$dir" "$NO_VIEWER"
  w=$(x_window "$DIALOG_X")
  press "$w" shift+F1
  press "$w" ctrl+F1
  press "$w" alt+F1
  # A message from any of them would take this Escape, and the program
  # would not end.
  press "$w" Escape
  if program_ends; then
    pass "F1 with Shift, Ctrl or Alt: no Help command"
  else
    fail "F1 with Shift, Ctrl or Alt: no Help command" "$(probe windows)"
  fi
}

# A header naming another file by its short name, part 1000 of the set or a
# file of the user's: the first part counts as damaged, and the file is kept.
test_short_name_of_a_part() {
  local pair target dir alias kept
  for pair in NWD4_322.1000:1000 SETUPJAPAN.EXE:2; do
    target=${pair%:*}
    dir=$(new_set "short-name-${pair#*:}" "${pair#*:}")
    [ -e "$dir/$target" ] || echo "the user's own" >"$dir/$target"
    alias=$(cd "$dir" && probe shortname "$target" | tr -d '\r')
    if [ -z "$alias" ] || [ "$alias" = "$target" ]; then
      fail "short name of $target: Wine gives it a short name" "$alias"
      continue
    fi
    set_output_name "$dir" "$alias"
    kept=$(md5sum <"$dir/$target")
    start_program "$dir"
    expect_message "header naming $alias, the short name of $target" "$FIRST_PART_DAMAGED" -
    [ "$(md5sum <"$dir/$target")" = "$kept" ] || fail "short name of $target: the file is kept"
  done
}

# set_output_name DIR NAME: the first header names NAME as the output.
set_output_name() {
  python3 - "$1/NWD4_322.001" "$2" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(80)
    f.write(sys.argv[2].encode("ascii").ljust(64, b"\0"))
PY
}

# Starts the program on the set in $1, presses Enter and waits until the
# join's temporary shows beside the parts; SEEN is its name, or empty.
join_until_temporary() {
  start_program "$1"
  press "$(x_window "$DIALOG_X")" Return
  SEEN=
  for _ in $(seq 5000); do
    SEEN=$(ls "$1" | grep -v -x -e 'NWD4_322\..*' | head -1)
    [ -n "$SEEN" ] && break
    sleep 0.001
  done
}

# The join's output under its temporary name, while it is written: a run
# killed then (as by the task manager or a power cut of the process) leaves
# neither output nor temporary, as the system deletes the temporary with its
# last handle; a file put under the output's name meanwhile is kept.
test_join_interrupted() {
  local dir=$CASES/interrupted big=$WORK/big.bin
  rm -rf "$dir" && mkdir -p "$dir" && cp "$EXE" "$dir/NWD4_322.exe"
  head -c 300000000 /dev/zero >"$big"
  "$SPLIT" --parts 4 --output-name SETUP.EXE "$big" "$dir" >/dev/null
  rm -f "$big"

  join_until_temporary "$dir"
  # Killed on purpose: out of the shell's job table, so that the shell does
  # not report the kill as if something had gone wrong.
  disown "$PROGRAM_PID"
  pkill -KILL -x NWD4_322.exe
  program_ends
  # The server closes a killed process's handles a moment later.
  local left
  for _ in $(seq 50); do
    left=$(ls "$dir" | grep -v -x -e 'NWD4_322\..*')
    [ -z "$left" ] && break
    sleep 0.1
  done
  if [[ "$SEEN" == SETUP.EXE.*~ ]] && [ -z "$left" ]; then
    pass "killed during the join: $SEEN was written, nothing is left"
  else
    fail "killed during the join: nothing is left" "seen: $SEEN" "left: $left"
  fi

  join_until_temporary "$dir"
  echo planted >"$dir/SETUP.EXE"
  expect_message "file planted during the join" "SETUP.EXEをオープンできません。" -
  left=$(ls "$dir" | grep -v -x -e 'NWD4_322\..*')
  if [[ "$SEEN" == SETUP.EXE.*~ ]] && [ "$left" = SETUP.EXE ] &&
    [ "$(cat "$dir/SETUP.EXE")" = planted ]; then
    pass "file planted during the join: it is kept, the temporary is gone"
  else
    fail "file planted during the join: it is kept, the temporary is gone" "seen: $SEEN" "left: $left"
  fi
  rm -rf "$dir"
}

# --- what real Windows does and Wine mostly hides ---
# Each case is one row of a table; what only real Windows can show (NTFS
# streams moving with a rename, flush ordering on the disk) is argued where
# the backend does it.

# hold_file DIR FILE UNTIL [shared]: another program holds FILE in DIR until
# the file UNTIL appears or for UNTIL milliseconds (probe hold).
hold_file() {
  local dir=$1
  rm -f "$dir/hold.out"
  (cd "$dir" && exec timeout 70 wine "$PROBE" hold "$2" "$3" ${4:+"$4"} >"$dir/hold.out" 2>&1) &
  HOLDER=$!
  BG_PIDS+=("$HOLDER")
  for _ in $(seq 100); do grep -q held "$dir/hold.out" 2>/dev/null && break; sleep 0.05; done
}

# joined NAME DIR: the run ended with the payload under the output's name.
joined() {
  if program_ends && cmp -s "$MARKER" "$2/$OUTPUT_NAME"; then
    pass "$1: joined"
  else
    fail "$1: joined" "$(ls -la "$2")"
  fi
}

# Rows: name | file held | until (ms or a stop file) | sharing | held from
# (start: before the program starts; execute: from just before Enter) |
# outcome (joined, or missing: the not-found message within the second).
HELD_CASES='first part held 700 ms|NWD4_322.001|700||start|joined
part 2 held 600 ms from Execute|NWD4_322.002|600||execute|joined
part 3 held throughout|NWD4_322.003|release.flag||execute|missing
old output held with delete sharing|OUTPUT|release.flag|shared|execute|joined'
test_held_for_a_moment() {
  local name file until share when outcome dir w
  while IFS='|' read -r name file until share when outcome; do
    dir=$(new_set "held-${name// /-}" 3)
    [ "$file" = OUTPUT ] && file=$OUTPUT_NAME && echo old >"$dir/$file"
    [ "$when" = start ] && hold_file "$dir" "$file" "$until" "$share"
    start_program "$dir"
    w=$(x_window "$DIALOG_X")
    if [ -z "$w" ]; then
      fail "$name: the dialog appears"
      touch "$dir/release.flag"
      continue
    fi
    [ "$when" = execute ] && hold_file "$dir" "$file" "$until" "$share"
    local pressed=$SECONDS
    press "$w" Return
    if [ "$outcome" = missing ]; then
      expect_message "$name" "$file"'\n上記のファイルが見つかりません。\n終了します。' "$DIALOG_TITLE"
      [ $((SECONDS - pressed)) -le 4 ] || fail "$name: the wait is bounded" "$((SECONDS - pressed)) s"
    else
      joined "$name" "$dir"
    fi
    touch "$dir/release.flag"
    wait "$HOLDER" 2>/dev/null
    local left
    left=$(ls -A "$dir" | grep -v -x -e 'NWD4_322\..*' -e "$OUTPUT_NAME" -e marker.txt -e hold.out \
      -e release.flag)
    [ -z "$left" ] || fail "$name: nothing else is left in the folder" "$left"
  done <<<"$HELD_CASES"
}

# A folder on drive C: that really lies on another drive (what a junction or
# a mounted folder makes on Windows; a link into another Wine drive here) is
# judged by that drive. Rows: Wine drive folder | its kind.
LINKED_CASES='drive-cdrom|CD-ROM D:
drive-network|network drive N:'
test_linked_folder() {
  local target kind dir link
  while IFS='|' read -r target kind; do
    dir=$(new_set "$target/linked" 3)
    link=nwd-link-${target#drive-}
    ln -sfn "$dir" "$WINEPREFIX/drive_c/$link"
    start_program_in "C:\\$link" "C:\\$link\\NWD4_322.exe"
    expect_message "folder on C: linked into the $kind" 'ハードディスク上で実行してください。' -
    rm -f "$WINEPREFIX/drive_c/$link"
  done <<<"$LINKED_CASES"
}

# The output is flushed before it is named: the Wine server runs with
# flush_watch preloaded, which notes each flush under the name the file has
# then, and with NWD_FLUSH_FAIL makes it fail as a failing disk does. Rows:
# name | extra environment setting | outcome.
FLUSH_CASES='flush before the name|NWD_FLUSH_FAIL=|joined
failing flush|NWD_FLUSH_FAIL=1|refused'
test_flush() {
  local watch=$WORK/flush_watch.so
  gcc -shared -fPIC -O1 "$SRC/tests/wine/flush_watch.c" -o "$watch" -ldl || {
    fail "flush: flush_watch builds"
    return
  }
  local name extra outcome dir log
  while IFS='|' read -r name extra outcome; do
    dir=$(new_set "flush-${name// /-}" 3)
    log=$WORK/flush.log
    rm -f "$log"
    # A server of its own, started by the program with the watch preloaded.
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    start_program "$dir" LD_PRELOAD="$watch" NWD_FLUSH_WATCH="$dir/" NWD_FLUSH_LOG="$log" "$extra"
    press "$(x_window "$DIALOG_X")" Return
    if [ "$outcome" = joined ]; then
      joined "$name" "$dir"
      if grep -q -x -E "flush $OUTPUT_NAME\.[0-9a-f]+~" "$log" 2>/dev/null; then
        pass "$name: the output was flushed while it had no name"
      else
        fail "$name: the output was flushed while it had no name" "$(cat "$log" 2>&1)"
      fi
    else
      local path
      path=$(winpath "$dir/$OUTPUT_NAME" | sed 's/\\/\\\\/g')
      expect_message "$name" "$path へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。" -
      local left
      left=$(ls "$dir" | grep -v -x -e 'NWD4_322\..*')
      if [ -z "$left" ]; then pass "$name: nothing is left"; else fail "$name: nothing is left" "$left"; fi
    fi
  done <<<"$FLUSH_CASES"
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
}

# The least trusted mark of the web of the program and the parts is the one
# the output is to carry. Wine keeps a stream beside its file; its volumes
# report no streams, so a whole run writes none (as on FAT), and the
# backend's reading and writing are checked through zone_check. Rows: name |
# program's mark | part 1's | part 2's | zone. Marks are printf formats, "-"
# for none.
ZONE_CASES='no marks|-|-|-|-1
one part from the internet|-|-|[ZoneTransfer]\r\nZoneId=3\r\n|3
the least trusted of three|[ZoneTransfer]\r\nZoneId=1\r\n|[ZoneTransfer]\r\nZoneId=4\r\n|[ZoneTransfer]\r\nZoneId=2\r\n|4
other sections, spacing and case|[HostUrl]\r\nZoneId=4\r\n[zonetransfer]\r\n  zoneid = 2 \r\nReferrerUrl=x\r\n|-|-|2
a mark without a zone|garbage|-|-|3
UTF-16|\xff\xfe[\0Z\0o\0n\0e\0T\0r\0a\0n\0s\0f\0e\0r\0]\0\r\0\n\0Z\0o\0n\0e\0I\0d\0=\0004\0|-|-|4'
test_zone_marks() {
  local dir=$CASES/zones name m0 m1 m2 zone out
  rm -rf "$dir" && mkdir -p "$dir"
  while IFS='|' read -r name m0 m1 m2 zone; do
    rm -f "$dir"/*
    local i=0 mark files=()
    for mark in "$m0" "$m1" "$m2"; do
      touch "$dir/source$i"
      # shellcheck disable=SC2059 # the marks are printf formats
      [ "$mark" = - ] || printf "$mark" >"$dir/source$i:Zone.Identifier"
      files+=("$(winpath "$dir/source$i")")
      i=$((i + 1))
    done
    touch "$dir/output"
    out=$(timeout 20 wine "$ZONE_CHECK" --write "$(winpath "$dir/output")" "${files[@]}" 2>/dev/null |
      tr -d '\r')
    local want=""
    [ "$zone" = -1 ] || want=$(printf '[ZoneTransfer]\r\nZoneId=%s\r\n' "$zone" | od -c)
    if [[ "$out" == *"-> $zone" ]] &&
      [ "$({ od -c <"$dir/output:Zone.Identifier"; } 2>/dev/null)" = "$want" ]; then
      pass "mark of the web, $name: zone $zone"
    else
      fail "mark of the web, $name: zone $zone" "$out"
    fi
  done <<<"$ZONE_CASES"

  dir=$(new_set marked 3)
  printf '[ZoneTransfer]\r\nZoneId=3\r\n' >"$dir/NWD4_322.002:Zone.Identifier"
  start_program "$dir"
  press "$(x_window "$DIALOG_X")" Return
  joined "marked parts on a volume without streams" "$dir"
  local streams
  streams=$(ls "$dir" | grep -F ':' | grep -v -x -F 'NWD4_322.002:Zone.Identifier')
  if [ -z "$streams" ]; then
    pass "marked parts on a volume without streams: no stream is written"
  else
    fail "marked parts on a volume without streams: no stream is written" "$streams"
  fi
}

# A long join, made so honestly: the parts are pushed out of the page cache
# and the program reads them through a block-I/O cgroup limited to 16 MB/s
# (a slow USB disk), so 96 MiB take about 6 s. Its progress window comes up
# after about half a second with the program's caption, says what it writes,
# and the key given stops the join: Space on the focused Cancel button,
# Escape, or Alt+F4 (the close button's command). Nothing is left, nothing
# is started, no message is shown. With part-gone instead of a key, the last
# part goes meanwhile, and its message comes alone.
SLOW_DISK=$SRC/tests/e2e/slow_disk.py
SLOW_RATE=16000000
test_progress_stopped() {
  local name=$1 key=$2 shot=${3:-} dir=$CASES/progress-$2 padded=$WORK/padded.exe
  rm -rf "$dir" && mkdir -p "$dir" && cp "$EXE" "$dir/NWD4_322.exe"
  # The marker, padded to 96 MiB: started by mistake, it would say so.
  cp "$MARKER" "$padded" && truncate -s 96M "$padded"
  "$SPLIT" --parts 3 --output-name "$OUTPUT_NAME" "$padded" "$dir" >/dev/null
  rm -f "$padded"
  python3 "$SLOW_DISK" evict "$dir"/NWD4_322.0*
  local procs
  if ! procs=$(python3 "$SLOW_DISK" start "$dir" "$SLOW_RATE" 2>"$WORK/slow-disk.txt"); then
    echo "skip progress window, $name: $(cat "$WORK/slow-disk.txt")"
    return
  fi
  # Only the program reads through the slow disk: the Wine server and its
  # services are up beforehand, outside the cgroup. Started inside it, they
  # would boot the prefix at 16 MB/s, and the dialog could come too late.
  wine cmd /c exit >/dev/null 2>&1
  (cd "$dir" && echo "$BASHPID" >"$procs" && exec timeout 30 wine NWD4_322.exe >/dev/null 2>&1) &
  PROGRAM_PID=$!
  BG_PIDS+=("$PROGRAM_PID")
  local w p list block started
  w=$(x_window "$DIALOG_X")
  if [ -z "$w" ]; then
    fail "progress window, $name: the dialog appears"
    python3 "$SLOW_DISK" stop "$procs"
    return
  fi
  # Enter again should the first be lost: the join is what is tested here.
  local tries
  for tries in 1 2 3; do
    press "$w" Return
    for _ in $(seq 30); do
      xdotool search --onlyvisible --name "$DIALOG_X" >/dev/null 2>&1 || break 2
      sleep 0.1
    done
  done
  started=$(date +%s%N)
  p=$(x_window "$MESSAGE_X")
  list=$(probe windows)
  block=$(window_block "$MESSAGE_TITLE" "$list")
  local expected="window $MESSAGE_TITLE
  owner -
  control 1003 Static $OUTPUT_NAME を作成しています…
  control 1004 msctls_progress32 
  control 2 Button キャンセル"
  local position
  position=$(sed -n 's/^  progress \([0-9]*\) of 1000$/\1/p' <<<"$block")
  if [ -n "$p" ] && diff <(grep -E '^(window|  owner|  control)' <<<"$block") <(echo "$expected") \
    >"$WORK/progress.diff" && [ -n "$position" ] && [ "$position" -lt 1000 ] &&
    grep -q -x '  focus 2' <<<"$block"; then
    pass "progress window, $name: caption, line, bar at $position of 1000, focused キャンセル"
  else
    fail "progress window, $name: caption, line, bar under its end, focused キャンセル" \
      "$(cat "$WORK/progress.diff")" "$block"
  fi
  [ -n "$shot" ] && screenshot "$shot" "$(sed -n 's/^  rect //p' <<<"$block")"
  if [ "$key" = part-gone ]; then
    # The last part goes while the window is up: its message comes alone,
    # the progress window gone before it (one window of the caption).
    rm "$dir/NWD4_322.003"
    expect_message "progress window, $name" "NWD4_322.003がオープンできません。" -
    local listing
    listing=$(ls "$dir" | tr '\n' ' ')
    [ "$listing" = "NWD4_322.001 NWD4_322.002 NWD4_322.exe " ] ||
      fail "progress window, $name: nothing left or started" "folder: $listing"
    python3 "$SLOW_DISK" stop "$procs"
    rm -rf "$dir"
    return
  fi
  press "$p" "$key"
  local listing=""
  if program_ends; then
    local took=$((($(date +%s%N) - started) / 1000000))
    listing=$(ls "$dir" | tr '\n' ' ')
    if [ "$listing" = "NWD4_322.001 NWD4_322.002 NWD4_322.003 NWD4_322.exe " ] &&
      [ "$took" -lt 6000 ]; then
      pass "progress window, $name: the join stops after $took ms, nothing left or started"
    else
      fail "progress window, $name: the join stops, nothing left or started" \
        "after $took ms, folder: $listing"
    fi
  else
    fail "progress window, $name: the program ends" "$(probe windows)"
  fi
  python3 "$SLOW_DISK" stop "$procs"
  rm -rf "$dir"
}

FIRST_PART_DAMAGED='NWD4_322.001 を正しく読み込む事ができません。\nファイルが壊れている可能性があります。\n終了します。'

# --- what real Windows does and Wine mostly does not ---

# The backend's own answers, one row each: what is asked, the call and its
# argument, and the answer, or "= call argument" for the same answer as
# another call, "!= call argument" for a different one. In a folder holding
# A.TXT, B.TXT, C.TXT and SETUPJAPAN.EXE, whose short name is $ALIAS.
BACKEND_CASES='identity: another file is another|id|B.TXT|!= id A.TXT
identity: the 128-bit id of FileIdInfo|id|A.TXT|= fileidinfo A.TXT
short name of another file|short-name|$ALIAS|yes
a file'"'"'s own name, in any case|short-name|setupjapan.exe|no
a wildcard, which names no file|short-name|S*.EXE|no
deleting by another file'"'"'s short name deletes nothing|remove|$ALIAS|kept
deleting by a file'"'"'s own name deletes it|remove|C.TXT|removed
error mode: this thread'"'"'s, not the process'"'"'s that a child inherits|error-mode||process 0 thread 32769
dialog face: the template'"'"'s where the system knows it|face|ＭＳ Ｐゴシック|ＭＳ Ｐゴシック
dialog face: its Japanese name where only that is known|face|MS PGothic|ＭＳ Ｐゴシック
dialog face: the system'"'"'s dialog face where neither is known|face|NoSuchFace|MS Shell Dlg
help viewer: Wine'"'"'s is a working one|viewer||works'

backend_call() { (cd "$1" && timeout 20 wine "$BACKEND_CALLS" "${@:2}" 2>/dev/null | tr -d '\r'); }

test_backend_calls() {
  local dir=$CASES/backend-calls
  rm -rf "$dir" && mkdir -p "$dir"
  echo a >"$dir/A.TXT" && echo b >"$dir/B.TXT" && echo c >"$dir/C.TXT"
  echo d >"$dir/SETUPJAPAN.EXE"
  ALIAS=$(cd "$dir" && probe shortname SETUPJAPAN.EXE | tr -d '\r')
  local name verb arg expected got other
  while IFS='|' read -r name verb arg expected; do
    [ "$arg" = '$ALIAS' ] && arg=$ALIAS
    got=$(backend_call "$dir" "$verb" ${arg:+"$arg"})
    # shellcheck disable=SC2086
    case $expected in
      "!= "*) other=$(backend_call "$dir" ${expected#!= }) && [ -n "$got" ] && [ "$got" != "$other" ] ;;
      "= "*) other=$(backend_call "$dir" ${expected#= }) && [ -n "$got" ] && [ "$got" = "$other" ] ;;
      *) [ "$got" = "$expected" ] ;;
    esac && pass "$name" || fail "$name" "$verb $arg: $got ${other:+(against $other)}"
    other=
  done <<<"$BACKEND_CASES"
}

# The backend's system calls failed one at a time in whole runs, with a
# scripted user in place of the windows; its summary line is shown as it is.
test_fault_matrix() {
  local dir=$CASES/fault-matrix out
  rm -rf "$dir" && mkdir -p "$dir"
  out=$(timeout 300 wine "$FAULT_MATRIX" "$(winpath "$dir")" 2>&1 | tr -d '\r')
  local summary
  summary=$(grep '^windows fault matrix:' <<<"$out")
  echo "$summary"
  if [[ "$summary" == *" 0 violations" ]]; then
    pass "the fault matrix over the backend's system calls"
  else
    fail "the fault matrix over the backend's system calls" "$(grep -v '^windows fault matrix:' <<<"$out")"
  fi
}

# Where the system locale is not Japanese, GDI knows the template's face by
# its English name only: the dialog asks for that one.
test_dialog_face_abroad() {
  local key='HKCU\Software\Wine\Fonts\Replacements' got font
  font=$(wine reg query "$key" 2>/dev/null | awk '/REG_SZ/ { print $NF; exit }' | tr -d '\r')
  wine reg delete "$key" /v 'ＭＳ Ｐゴシック' /f >/dev/null 2>&1
  wine reg add "$key" /v 'MS PGothic' /d "$font" /f >/dev/null 2>&1
  got=$(backend_call "$CASES" face 'ＭＳ Ｐゴシック')
  wine reg delete "$key" /v 'MS PGothic' /f >/dev/null 2>&1
  wine reg add "$key" /v 'ＭＳ Ｐゴシック' /d "$font" /f >/dev/null 2>&1
  if [ "$got" = 'MS PGothic' ]; then
    pass "dialog face: its English name where only that is known"
  else
    fail "dialog face: its English name where only that is known" "$got"
  fi
}

# A folder so deep that the parts' names pass 260 characters, and the
# output's by far: the set is joined whole. Wine starts no program past the
# limit, whatever name it is given, and its shell says so in a box of its
# own, which is dismissed here.
test_long_paths() {
  local dir=$CASES/long/$(printf 'd%.0s' $(seq 115))/$(printf 'e%.0s' $(seq 100)) name
  name=$(printf 'f%.0s' $(seq 50)).exe
  rm -rf "$CASES/long" && mkdir -p "$dir" && cp "$EXE" "$dir/NWD4_322.exe"
  "$SPLIT" --parts 3 --output-name "$name" "$MARKER" "$dir" >/dev/null
  local folder
  folder=$(winpath "$dir")
  start_program "$dir"
  press "$(x_window "$DIALOG_X")" Return
  # Wine's shell cannot start a program past the limit and says so in a box
  # of its own, which comes late on a loaded machine: it is dismissed when
  # it comes, until the program ends, so that it takes no later case's key.
  local box waited=0
  while kill -0 "$PROGRAM_PID" 2>/dev/null && [ $waited -lt 300 ]; do
    box=$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null | head -1)
    if [ -n "$box" ]; then
      press "$box" Return
      sleep 0.5
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  program_ends || fail "long paths: the program ends"
  if cmp -s "$MARKER" "$dir/$name"; then
    pass "long paths: parts at $((${#folder} + 13)) characters join into one at $((${#folder} + 1 + ${#name}))"
  else
    fail "long paths: the set joins whole" "$(ls "$dir")"
  fi
  rm -rf "$CASES/long"
}

# Where winhlp32.exe is the stub of Windows 10 and later (its version record
# says 10), F1 starts nothing and the framework's message says that help
# could not be started. The prefix gets the stub in place of Wine's viewer
# for this case only.
test_help_stub() {
  local system32=$WINEPREFIX/drive_c/windows/system32 dir w
  mv "$system32/winhlp32.exe" "$WORK/winhlp32.exe.wine"
  cp "$HELP_STUB" "$WINEPREFIX/drive_c/windows/winhlp32.exe"
  dir=$(new_set help-stub 3)
  start_program "$dir" "WINEDLLOVERRIDES=$WINEDLLOVERRIDES;winhlp32.exe=n"
  w=$(x_window "$DIALOG_X")
  press "$w" F1
  expect_message "F1 with the help stub" 'ﾍﾙﾌﾟの起動に失敗しました。' "$DIALOG_TITLE" "" stays-open
  if [ -z "$(timeout 2 xdotool search --onlyvisible --name '^help stub$' 2>/dev/null)" ]; then
    pass "F1 with the help stub: the stub is not started"
  else
    fail "F1 with the help stub: the stub is not started"
  fi
  press "$(x_window "$DIALOG_X")" Escape
  program_ends || fail "F1 with the help stub: Escape then ends the dialog"
  rm -f "$WINEPREFIX/drive_c/windows/winhlp32.exe"
  mv "$WORK/winhlp32.exe.wine" "$system32/winhlp32.exe"
}

# The dialog at 192 dpi (200 %): drawn at twice the size, for the eye.
test_high_dpi() {
  local key='HKCU\Control Panel\Desktop' dir w rect="" left right width
  # Read by each program as it starts.
  wine reg add "$key" /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
  dir=$(new_set high-dpi 3)
  start_program "$dir"
  w=$(x_window "$DIALOG_X")
  for _ in $(seq 10); do
    rect=$(window_block "$DIALOG_TITLE" "$(probe windows)" | sed -n 's/^  rect //p')
    [ -n "$rect" ] && break
    sleep 0.5
  done
  screenshot windows-dialog-192dpi.png "$rect"
  press "$w" Escape
  program_ends
  wine reg add "$key" /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
  read -r left _ right _ <<<"$rect"
  width=$((${right:-0} - ${left:-0}))
  if [ -n "$rect" ] && [ "$width" -ge $((2 * DIALOG_WIDTH_96 - 40)) ]; then
    pass "192 dpi: the dialog is drawn at about twice its width ($width against $DIALOG_WIDTH_96 px)"
  else
    fail "192 dpi: the dialog is drawn at about twice its width" "$rect against $DIALOG_WIDTH_96"
  fi
}

OUTPUT_NAME='セットアップ.exe'

# Runs a test unless WINE_TESTS names others.
run() {
  [ -z "${WINE_TESTS:-}" ] || [[ " $WINE_TESTS " == *" $1 "* ]] || return 0
  "$@"
}

prepare_prefix
wineserver -p 2>/dev/null
echo "== Windows program under Wine ($(wine --version))"
run test_resources
run test_error_causes
run test_valid_set
run test_cancel_key "Escape" Escape
run test_cancel_key "Alt+F4 (the close button's command)" alt+F4
run test_missing_part
run test_damaged_part
run test_held_part
run test_short_name_of_a_part
run test_join_interrupted
run test_progress_stopped "キャンセル" space windows-progress.png
run test_progress_stopped "Escape" Escape
run test_progress_stopped "Alt+F4" alt+F4
run test_progress_stopped "part gone during the join" part-gone
run test_first_part_missing
run test_drive d cdrom
run test_drive n network
run test_held_for_a_moment
run test_linked_folder
run test_flush
run test_zone_marks
run test_help_fails
run test_backend_calls
run test_fault_matrix
run test_dialog_face_abroad
run test_long_paths
run test_help_stub
run test_high_dpi
# Last: Wine's help viewer stays behind until the end.
run test_help_viewer

echo "screenshots in $SHOTS ($(($(date +%s) - started)) s)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
