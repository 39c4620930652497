#!/usr/bin/env bash
# The program's whole job on a sample: builds it, cuts a 3 MiB sample into a
# part set under build/demo/ and runs the native program in that folder, as a
# user would after copying the parts there.
#
# With a display you press 実行 (Execute) in the real window yourself. Without
# one, the same program runs on a private virtual X server: 実行 is pressed as
# soon as the dialog is on screen, and a second run on a set with a part
# removed shows a refusal; screenshots of both are saved. Either way the
# joined file is compared with the sample, the file the program asked the
# desktop to open is shown, and a summary ends the run.
#
# Usage: run_demo.sh [--unattended] [--use-build DIR]
#   --unattended     run on a private virtual X server even where DISPLAY is
#                    set; chosen by itself when the display has no window
#                    manager (as under xvfb-run)
#   --use-build DIR  skip the set-up and the build; take NWD4_322 and
#                    nwd_split from the build folder DIR, work in DIR/demo
# Exit status 0 only when every step happened; otherwise a line saying which
# step did not.
set -euo pipefail

unattended=
build=
while [ $# -gt 0 ]; do
  case $1 in
    --unattended) unattended=yes ;;
    --use-build) build=$(realpath "${2:?--use-build wants a folder}"); shift ;;
    *) sed -n '13,20p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
  shift
done
cd "$(dirname "$0")/.."

if [ -z "$build" ]; then
  bash tools/install_deps.sh
  cmake --preset debug >/dev/null
  cmake --build --preset debug
  build=$PWD/build/debug
fi
demo=$build/demo
program=$build/NWD4_322

fail() {
  echo "run_demo.sh: FAILED: $*" >&2
  exit 1
}

# Bounds for a slow machine; a step that takes longer did not happen.
WINDOW_TIMEOUT=20
EXIT_TIMEOUT=30

# --- the sample and its part sets ---

rm -rf "$demo"
mkdir -p "$demo/set" "$demo/refusal" "$demo/bin"
# The program refuses a folder in memory, and so would the demo.
case $(stat -f -c %T "$demo") in
  tmpfs | ramfs) fail "$demo is on a RAM disk ($(stat -f -c %T "$demo")); the program" \
    "refuses such folders: work in a clone on a real disk" ;;
esac
output_name=インストーラ.EXE
sample=$demo/sample.bin
head -c 3145728 /dev/urandom >"$sample"
"$build/nwd_split" --parts 3 --output-name "$output_name" "$sample" "$demo/set"
"$build/nwd_split" --parts 3 --output-name "$output_name" "$sample" "$demo/refusal" >/dev/null
rm "$demo/refusal/NWD4_322.002"

# An opener first on the search path: it notes what the program asked to
# open, then hands it to the real xdg-open where there is one. It learns
# where from the environment, which the program passes on to it.
export NWD_DEMO_OPENED=$demo/opened.log NWD_DEMO_OPENER_LOG=$demo/xdg-open.log
NWD_DEMO_REAL_OPENER=$(command -v xdg-open || true)
export NWD_DEMO_REAL_OPENER
opened=$NWD_DEMO_OPENED
cat >"$demo/bin/xdg-open" <<'EOF'
#!/bin/sh
date +%s%3N >"$NWD_DEMO_OPENED.ms"
printf 'asked to open: %s\n' "$*" >>"$NWD_DEMO_OPENED"
if [ -z "$NWD_DEMO_REAL_OPENER" ]; then
  echo 'no xdg-open on this machine: nothing started' >>"$NWD_DEMO_OPENED"
  exit 3
fi
timeout 20 "$NWD_DEMO_REAL_OPENER" "$@" >"$NWD_DEMO_OPENER_LOG" 2>&1
status=$?
echo "handed to $NWD_DEMO_REAL_OPENER: status $status, messages in $NWD_DEMO_OPENER_LOG" \
  >>"$NWD_DEMO_OPENED"
exit $status
EOF
chmod +x "$demo/bin/xdg-open"
export PATH=$demo/bin:$PATH

# The opener runs detached from the program: give it a moment to finish.
# When it fails, the program says so in a message naming the file.
wait_for_opener() {
  for _ in $(seq 100); do
    grep -q -e '^handed to ' -e '^no xdg-open' "$opened" 2>/dev/null && return
    sleep 0.1
  done
}

opener_failed() {
  grep -q -e '^handed to .*: status [1-9]' -e '^no xdg-open' "$opened"
}

check_output() {
  [ -f "$demo/set/$output_name" ] || fail "no $output_name was written in $demo/set"
  cmp -s "$sample" "$demo/set/$output_name" ||
    fail "$demo/set/$output_name differs from the sample"
  wait_for_opener
  grep -q -x -F "asked to open: $demo/set/$output_name" "$opened" 2>/dev/null ||
    fail "the program did not ask to open $demo/set/$output_name"
}

# Milliseconds since the epoch, and a span of them in seconds.
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
seconds() { printf '%d.%02d' $(($1 / 1000)) $(($1 % 1000 / 10)); }

summary() {
  local timing=$1
  echo
  echo "== demo done: 3 parts joined into $output_name, in $(seconds $(($(now_ms) - demo_started))) s"
  echo "   $(stat -c %s "$demo/set/$output_name") bytes, byte-identical to the sample${timing:+; $timing}"
  echo "   output:      $demo/set/$output_name"
  sed 's/^/   opener:      /' "$opened"
  if [ -n "$unattended" ]; then
    echo "   screenshots: $demo/dialog.png (the dialog)"
    if [ -f "$demo/not-opened.png" ]; then
      echo "                $demo/not-opened.png (the program says that the opener failed)"
    fi
    echo "                $demo/refusal.png (the set without part 2, refused)"
  fi
  if [ -s "$demo/program.stderr" ]; then echo "   standard error: $demo/program.stderr"; fi
}

demo_started=$(now_ms)

# --- with a display: the user presses the button ---

if [ -z "$unattended" ]; then
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    unattended=yes
  elif [ -z "${WAYLAND_DISPLAY:-}" ] && command -v xprop >/dev/null &&
    ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    echo "run_demo.sh: the display has no window manager (a virtual one?): running unattended"
    unattended=yes
  fi
fi
if [ -z "$unattended" ]; then
  echo "The dialog opens for the set in $demo/set: press 実行 (Execute) to join the parts."
  status=0
  (cd "$demo/set" && exec "$program") 2> >(tee "$demo/program.stderr" >&2) || status=$?
  [ -f "$demo/set/$output_name" ] ||
    fail "no output: the dialog was cancelled or closed (status $status)"
  check_output
  # The program ends with 1 after it said that the opener failed.
  [ "$status" = 0 ] || { [ "$status" = 1 ] && opener_failed; } ||
    fail "the program ended with status $status"
  summary ""
  exit 0
fi

# --- without one: a private virtual X server, 実行 pressed for the user ---

for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install_deps.sh installs it)"
done
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# The server picks a free display number itself and writes it to descriptor
# 3: nothing races with other servers starting at the same moment.
Xvfb -noreset -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$demo/display" 2>"$demo/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  grep -q '^[0-9]' "$demo/display" && break
  sleep 0.1
done
grep -q '^[0-9]' "$demo/display" || fail "the virtual X server did not start: $(cat "$demo/xvfb.log")"
export DISPLAY=:$(cat "$demo/display")
unset WAYLAND_DISPLAY
# The program reads nothing back through the accessibility bus here.
export NO_AT_BRIDGE=1

start_program() {
  (cd "$1" && exec "$program") </dev/null >/dev/null 2>>"$demo/program.stderr" &
  program_pid=$!
  pids+=("$program_pid")
}

# The program's windows on screen, with their titles as "ID TITLE" lines.
program_windows() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null); do
    echo "$w $(xdotool getwindowname "$w" 2>/dev/null)"
  done
}

# A message where none belongs ends the demo, with a picture of it.
no_message() {
  if program_windows | grep -q " $MESSAGE_TITLE\$"; then
    screenshot "$demo/unexpected.png"
    fail "the program showed a message $1 (see $demo/unexpected.png)"
  fi
}

# Sets window to the program's window of the title once it is on screen.
wait_window() {
  local title=$1 what=$2 deadline=$((SECONDS + WINDOW_TIMEOUT))
  while :; do
    window=$(program_windows | awk -v t="$title" 'substr($0, index($0, " ") + 1) == t { print $1 }')
    [ -n "$window" ] && return
    [ "$title" = "$MESSAGE_TITLE" ] || no_message "instead of $what"
    kill -0 "$program_pid" 2>/dev/null ||
      fail "the program ended before $what appeared: $(tail -3 "$demo/program.stderr")"
    [ $SECONDS -lt $deadline ] || fail "$what did not appear within $WINDOW_TIMEOUT s"
    sleep 0.1
  done
}

# Waits for the program's end with the status; a message appearing meanwhile
# is a failure.
wait_exit() {
  local after=$1 expected=$2 deadline=$((SECONDS + EXIT_TIMEOUT)) status=0
  while kill -0 "$program_pid" 2>/dev/null; do
    no_message "after $after"
    [ $SECONDS -lt $deadline ] || fail "the program did not end within $EXIT_TIMEOUT s after $after"
    sleep 0.05
  done
  wait "$program_pid" || status=$?
  [ "$status" = "$expected" ] ||
    fail "the program ended with status $status after $after: $(tail -3 "$demo/program.stderr")"
}

# Saves the program's windows as one picture once they are drawn: a window
# that is not painted yet is a single colour.
screenshot() {
  local file=$1 deadline=$((SECONDS + 10)) w left=100000 top=100000 right=0 bottom=0
  local WINDOW X Y WIDTH HEIGHT SCREEN
  for w in $(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    ((X < left)) && left=$X
    ((Y < top)) && top=$Y
    ((X + WIDTH > right)) && right=$((X + WIDTH))
    ((Y + HEIGHT > bottom)) && bottom=$((Y + HEIGHT))
  done
  ((right > left)) || fail "no window of the program to take a picture of"
  while :; do
    import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$file"
    (($(convert "$file" -format %k info:) >= 16)) && return
    [ $SECONDS -lt $deadline ] || fail "the program's windows were not drawn within 10 s"
    sleep 0.1
  done
}

# True once the program shows a message, with window set to it; false once
# the program has ended without one.
wait_message_or_exit() {
  local deadline=$((SECONDS + EXIT_TIMEOUT))
  while kill -0 "$program_pid" 2>/dev/null; do
    window=$(program_windows | awk -v t="$MESSAGE_TITLE" 'substr($0, index($0, " ") + 1) == t { print $1 }')
    [ -n "$window" ] && return 0
    [ $SECONDS -lt $deadline ] || fail "the program did not end within $EXIT_TIMEOUT s after 実行"
    sleep 0.05
  done
  return 1
}

press() {
  xdotool windowfocus --sync "$1"
  xdotool key "$2"
}

DIALOG_TITLE='「ソルネ」PRO NWD4C'
MESSAGE_TITLE=NWD4_322

echo "== unattended run on display $DISPLAY: 実行 is pressed as soon as the dialog is shown"
start_program "$demo/set"
wait_window "$DIALOG_TITLE" "the dialog"
screenshot "$demo/dialog.png"
xdotool windowfocus --sync "$window"
# Before the key: the join may be over before xdotool has returned.
pressed=$(now_ms)
xdotool key Return
if wait_message_or_exit; then
  # The opener said it could not open the file: the program names it.
  screenshot "$demo/not-opened.png"
  press "$window" Return
  wait_exit "the message about the opener was dismissed" 1
else
  wait_exit "実行" 0
fi
check_output
join_ms=$(($(cat "$opened.ms") - pressed))

echo "== the same set without part 2: 実行 is refused"
start_program "$demo/refusal"
wait_window "$DIALOG_TITLE" "the dialog of the incomplete set"
press "$window" Return
wait_window "$MESSAGE_TITLE" "the message about the missing part"
screenshot "$demo/refusal.png"
press "$window" Return
wait_exit "the message was dismissed" 1
[ ! -e "$demo/refusal/$output_name" ] || fail "the incomplete set left $output_name behind"
[ "$(grep -c '^asked to open' "$opened")" = 1 ] || fail "the refused run asked to open a file"

summary "$(seconds "$join_ms") s from 実行 to the opener's call"
