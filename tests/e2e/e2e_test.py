#!/usr/bin/env python3
"""The program end to end, in real windows: the built NWD4_322 runs in real
folders, its windows are read back through the accessibility bus and X, and
keys are pressed with xdotool. Runs under an X server and a D-Bus session of
its own (run_e2e.sh starts both).

Usage: e2e_test.py PROGRAM NWD_SPLIT WORKDIR
"""

import contextlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import pyatspi

import slow_disk
import xwin

PROGRAM, SPLIT, WORK = (os.path.abspath(a) for a in sys.argv[1:4])

CAPTION = "「ソルネ」PRO NWD4C"
INTRO_TEXT = "「ソルネ」PRO NWD4Cインストーラ分割データを結合します。"
GUIDE_TEXT = ("必要なファイルをすべて同じフォルダにコピーしたことを確認後、\n"
              "\"実行\"ボタンを押してください。")
MESSAGE_CAPTION = "NWD4_322"
MISSING_PART_2 = "NWD4_322.002\n上記のファイルが見つかりません。\n終了します。"
FIRST_PART_DAMAGED = ("NWD4_322.001 を正しく読み込む事ができません。\n"
                      "ファイルが壊れている可能性があります。\n終了します。")
NOT_ON_FIXED_DISK = "ハードディスク上で実行してください。"
HELP_FAILED = "ﾍﾙﾌﾟの起動に失敗しました。"
# A read error names the part read.
READ_ERROR = "{} へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。"
NOT_OPENED = "\n上記のファイルを作成しましたが、開くことができませんでした。"

# Generous bounds for a slow machine; nothing waits for them unless
# something is wrong.
WINDOW_TIMEOUT = 20.0
EXIT_TIMEOUT = 20.0
# A launch happens in a detached grandchild: give it this long to be seen.
LAUNCH_SETTLE = 0.5

HERE = os.path.dirname(os.path.abspath(__file__))
X = xwin.Display()
ARTEFACTS = os.path.join(WORK, "artefacts")


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(0.05)


# --- folders and part sets ---

def fresh_folder(name, parent=None):
    folder = os.path.join(parent or os.path.join(WORK, "cases"), name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def make_part_set(folder, output_name, parts=3):
    """Cuts a source of a little over 3 MiB into parts; returns its bytes."""
    source = random.Random(output_name).randbytes(3 * 1024 * 1024 + 4321)
    source_path = os.path.join(WORK, "source.bin")
    with open(source_path, "wb") as f:
        f.write(source)
    subprocess.run([SPLIT, "--parts", str(parts), "--output-name", output_name, source_path,
                    folder], check=True, stdout=subprocess.DEVNULL)
    os.remove(source_path)
    return source


# --- the program ---

def stub_launcher():
    """An xdg-open that records what it was asked to open, one line a call,
    then succeeds, fails as xdg-open does without a handler, or stays (its
    process id noted beside the record)."""
    folder = os.path.join(WORK, "stub-bin")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "xdg-open")
    with open(path, "w") as f:
        f.write('#!/bin/sh\n'
                'printf \'%s\\n\' "$*" >> "$NWD_E2E_LAUNCH_RECORD"\n'
                'case $NWD_E2E_OPENER in\n'
                '  fails) exit 3 ;;\n'
                '  hangs) echo $$ > "$NWD_E2E_LAUNCH_RECORD.pid"; exec sleep 600 ;;\n'
                'esac\n')
    os.chmod(path, 0o755)
    return folder


STUB_BIN = stub_launcher()


class Run:
    """One run of the program in a folder; killed if a test leaves it."""

    def __init__(self, folder, name, opener="succeeds", env_changes=None, preexec_fn=None):
        self.folder = folder
        self.record = os.path.join(WORK, "cases", name + ".launches")
        if os.path.exists(self.record):
            os.remove(self.record)
        self.stderr_path = os.path.join(WORK, "cases", name + ".stderr")
        env = dict(os.environ)
        env["PATH"] = STUB_BIN + os.pathsep + env.get("PATH", "")
        env["NWD_E2E_LAUNCH_RECORD"] = self.record
        env["NWD_E2E_OPENER"] = opener
        env.update(env_changes or {})
        # Leaks are looked for in a sanitizer build, except in the font
        # caches that the text rendering keeps until the end.
        env["LSAN_OPTIONS"] = "suppressions=" + os.path.join(HERE, "lsan.supp")
        self.stderr_file = open(self.stderr_path, "wb")
        self.process = subprocess.Popen([PROGRAM], cwd=folder, env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=self.stderr_file, preexec_fn=preexec_fn)
        self.pid = self.process.pid

    def windows(self):
        return X.visible_windows_of(self.pid)

    def window_titled(self, title):
        return wait_for(
            lambda: self._ended_early() or next(
                (w for w in self.windows() if X.title(w) == title), None),
            WINDOW_TIMEOUT, f"a window titled {title!r}")

    def _ended_early(self):
        if self.process.poll() is not None:
            raise Failure(f"the program ended (status {self.process.returncode}) "
                          f"before its window appeared; stderr: {self.stderr()!r}")
        return None

    def wait_exit(self, status, watch_titles=()):
        """Waits for the end with the exit status; a window with one of the
        titles appearing meanwhile is a failure."""
        deadline = time.monotonic() + EXIT_TIMEOUT
        while self.process.poll() is None:
            for w in self.windows():
                if X.title(w) in watch_titles:
                    raise Failure(f"unexpected window {X.title(w)!r} before the end")
            if time.monotonic() > deadline:
                raise Failure("the program did not end")
            time.sleep(0.05)
        self.stderr_file.close()
        check(self.process.returncode >= 0,
              f"the program died of signal {-self.process.returncode}")
        check("Sanitizer" not in self.stderr(), "sanitizer report: " + self.stderr())
        check_equal(self.process.returncode, status, "exit status")

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def launches(self, expect_any):
        if expect_any:
            wait_for(lambda: os.path.exists(self.record), 5.0, "the launcher to be called")
        time.sleep(LAUNCH_SETTLE)
        if not os.path.exists(self.record):
            return []
        with open(self.record, encoding="utf-8") as f:
            return f.read().splitlines()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if not self.stderr_file.closed:
            self.stderr_file.close()


# --- reading windows through the accessibility bus ---

def accessible_window(pid, title):
    def find():
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is None or app.get_process_id() != pid:
                    continue
                for window in app:
                    if window is not None and window.name == title:
                        return window
            except Exception:  # an application that went away meanwhile
                continue
        return None
    return wait_for(find, WINDOW_TIMEOUT, f"the accessible window {title!r}")


def descendants(accessible, role):
    return pyatspi.findAllDescendants(accessible, lambda a: a.getRole() == role)


def label_texts(window):
    return [a.name for a in descendants(window, pyatspi.ROLE_LABEL)]


def button_labels(window):
    return [a.name for a in descendants(window, pyatspi.ROLE_PUSH_BUTTON)]


# --- input ---

def xdotool(*args):
    subprocess.run(["xdotool", *[str(a) for a in args]], check=True, timeout=10)


def press(window, key):
    xdotool("windowfocus", "--sync", window)
    xdotool("key", key)


def click(accessible):
    # Until the window is laid out, its controls report no place on screen.
    def placed():
        extents = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return extents if extents[2] > 0 and extents[0] >= 0 and extents[1] >= 0 else None
    x, y, width, height = wait_for(placed, 5.0, "the control to be placed")
    xdotool("mousemove", "--sync", x + width // 2, y + height // 2)
    xdotool("click", 1)


def screenshot(window, name):
    os.makedirs(ARTEFACTS, exist_ok=True)
    x, y, width, height = X.geometry(window)
    path = os.path.join(ARTEFACTS, name)
    subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}",
                    "+repage", path], check=True, timeout=20)
    return path


def mean_colour(picture, extents):
    """The average colour of a rectangle of a picture: red, green, blue."""
    x, y, width, height = extents
    values = subprocess.run(
        ["convert", picture, "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-resize", "1x1!",
         "-format", "%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]", "info:"],
        check=True, timeout=20, capture_output=True, text=True).stdout
    return tuple(int(v) for v in values.split())


# --- what every message looks like ---

def check_message(run, text, owner, icon="Warning"):
    """The one message window: caption, text, icon and owner. GTK names an
    image after its icon: dialog-warning reads Warning, dialog-error Error."""
    window = run.window_titled(MESSAGE_CAPTION)
    messages = [w for w in run.windows() if X.title(w) == MESSAGE_CAPTION]
    check_equal(len(messages), 1, "message windows")
    check_equal(X.transient_for(window), owner, "owner of the message")
    box = accessible_window(run.pid, MESSAGE_CAPTION)
    check_equal(box.getRole(), pyatspi.ROLE_ALERT, "role of the message")
    check_equal(label_texts(box), [text], "text of the message")
    check_equal(button_labels(box), ["OK"], "buttons of the message")
    icons = descendants(box, pyatspi.ROLE_ICON)
    check_equal([i.name for i in icons], [icon], "icon of the message")
    return window


def dismiss(run, window):
    """Presses OK and waits for the box to go: a long text takes a moment to
    be released, and a box still up would count as one shown too many."""
    press(window, "Return")
    wait_for(lambda: all(X.title(w) != MESSAGE_CAPTION for w in run.windows()), 10.0,
             "the message to close")


def check_no_output(folder, names_before):
    check_equal(sorted(os.listdir(folder)), sorted(names_before), "files in the folder")


# --- the cases ---

def test_execute_joins_and_launches():
    folder = fresh_folder("execute")
    output_name = "インストーラ.EXE"
    source = make_part_set(folder, output_name)
    run = Run(folder, "execute")
    try:
        window = run.window_titled(CAPTION)
        dialog = accessible_window(run.pid, CAPTION)
        check_equal(label_texts(dialog), [INTRO_TEXT, GUIDE_TEXT], "texts of the dialog")
        check_equal(GUIDE_TEXT.count("\n"), 1, "line feeds in the guide text")
        check_equal(button_labels(dialog), ["実行", "中止"], "buttons of the dialog")
        check_equal(X.transient_for(window), None, "owner of the dialog")
        check("_NET_WM_WINDOW_TYPE_DIALOG" in X.window_types(window), "a dialog window type")
        check_equal(sorted(X.icon_sizes(window)), [(16, 16), (32, 32)], "icon sizes")
        min_w, min_h, max_w, max_h = X.normal_hints_size_range(window)
        check((min_w, min_h) == (max_w, max_h), "a dialog of fixed size")
        # Centred on the screen, which is the work area without a panel.
        x, y, width, height = X.geometry(window)
        screen = X.screen_geometry()
        check_equal((x, y), (screen[2] // 2 - width // 2, screen[3] // 2 - height // 2),
                    "position of the dialog")
        execute = descendants(dialog, pyatspi.ROLE_PUSH_BUTTON)[0]
        xdotool("windowfocus", "--sync", window)
        wait_for(lambda: execute.getState().contains(pyatspi.STATE_FOCUSED), 5.0,
                 "the focus on Execute")
        shot = screenshot(window, "linux-dialog.png")
        execute_colour, cancel_colour = (
            mean_colour(shot, b.queryComponent().getExtents(pyatspi.WINDOW_COORDS))
            for b in descendants(dialog, pyatspi.ROLE_PUSH_BUTTON))
        # The theme marks the default in colour; a plain button is grey.
        colourfulness = [max(c) - min(c) for c in (execute_colour, cancel_colour)]
        check(colourfulness[0] > colourfulness[1] + 40,
              f"Execute drawn as the default, unlike Cancel ({execute_colour} {cancel_colour})")

        press(window, "Return")
        run.wait_exit(0, watch_titles=(MESSAGE_CAPTION,))
        with open(os.path.join(folder, output_name), "rb") as f:
            check(f.read() == source, "the output is the source, byte for byte")
        check_equal(run.launches(True), [os.path.join(folder, output_name)], "launches")
    finally:
        run.kill()


def cancel_case(name, end_dialog):
    folder = fresh_folder(name)
    make_part_set(folder, "SETUP.EXE")
    before = os.listdir(folder)
    run = Run(folder, name)
    try:
        window = run.window_titled(CAPTION)
        accessible_window(run.pid, CAPTION)
        end_dialog(window)
        run.wait_exit(0, watch_titles=(MESSAGE_CAPTION,))
        check_no_output(folder, before)
        check_equal(run.launches(False), [], "launches")
    finally:
        run.kill()


def test_escape_cancels():
    cancel_case("escape", lambda window: press(window, "Escape"))


def test_f1_with_a_modifier_is_no_help():
    # Help would answer with a message, which would take the Escape.
    def modified_f1_then_escape(window):
        for key in ("shift+F1", "ctrl+F1", "alt+F1", "Escape"):
            press(window, key)
    cancel_case("f1-modifiers", modified_f1_then_escape)


def test_close_request_cancels():
    cancel_case("close", X.request_close)


def test_tab_then_enter_presses_cancel():
    # Enter presses the button that has the focus; Tab moves it to Cancel.
    def tab_enter(window):
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "Tab")
        xdotool("key", "Return")
    cancel_case("tab-enter", tab_enter)


def test_missing_part_is_reported_over_the_dialog():
    folder = fresh_folder("missing")
    make_part_set(folder, "SETUP.EXE")
    os.remove(os.path.join(folder, "NWD4_322.002"))
    before = os.listdir(folder)
    run = Run(folder, "missing")
    try:
        window = run.window_titled(CAPTION)
        dialog = accessible_window(run.pid, CAPTION)
        click(descendants(dialog, pyatspi.ROLE_PUSH_BUTTON)[0])
        message = check_message(run, MISSING_PART_2, owner=window)
        screenshot(message, "linux-message.png")
        dismiss(run, message)
        run.wait_exit(1, watch_titles=(MESSAGE_CAPTION,))
        check_no_output(folder, before)
        check_equal(run.launches(False), [], "launches")
        check(MISSING_PART_2 not in run.stderr(), "the message went to a window only")
    finally:
        run.kill()


def test_read_error_is_reported_and_the_dialog_stays_open():
    # A part that opens but cannot be read: the kernel answers a read of the
    # reader's own memory at address 0 with an I/O error.
    folder = fresh_folder("read-error")
    make_part_set(folder, "SETUP.EXE")
    os.remove(os.path.join(folder, "NWD4_322.002"))
    os.symlink("/proc/self/mem", os.path.join(folder, "NWD4_322.002"))
    before = os.listdir(folder)
    run = Run(folder, "read-error")
    try:
        window = run.window_titled(CAPTION)
        for _ in range(2):  # the dialog takes another press
            press(window, "Return")
            part = os.path.join(os.path.realpath(folder), "NWD4_322.002")
            dismiss(run, check_message(run, READ_ERROR.format(part), owner=window, icon="Error"))
        press(window, "Escape")
        run.wait_exit(0, watch_titles=(MESSAGE_CAPTION,))
        check_no_output(folder, before)
        check_equal(run.launches(False), [], "launches")
    finally:
        run.kill()


def test_long_missing_list_fits_the_screen():
    # A first header that announces thousands of parts of which three exist:
    # the message lists every missing one, comes up at once and keeps its
    # button on the screen.
    folder = fresh_folder("long-list")
    make_part_set(folder, "SETUP.EXE")
    count = 20000
    with open(os.path.join(folder, "NWD4_322.001"), "r+b") as f:
        f.seek(152)
        f.write(count.to_bytes(4, "little"))
    expected = "".join(f"NWD4_322.{i:03d}\n" for i in range(4, count + 1)) + \
        "上記のファイルが見つかりません。\n終了します。"
    run = Run(folder, "long-list")
    try:
        window = run.window_titled(CAPTION)
        press(window, "Return")
        message = check_message(run, expected, owner=window)
        x, y, width, height = X.geometry(message)
        screen = X.screen_geometry()
        check(x >= 0 and y >= 0 and x + width <= screen[2] and y + height <= screen[3],
              f"the message within the screen ({x} {y} {width} {height})")
        dismiss(run, message)
        run.wait_exit(1, watch_titles=(MESSAGE_CAPTION,))
        check_equal(run.launches(False), [], "launches")
    finally:
        run.kill()


def message_without_dialog_case(name, folder, text):
    before = os.listdir(folder)
    run = Run(folder, name)
    try:
        message = check_message(run, text, owner=None)
        check(all(X.title(w) != CAPTION for w in run.windows()), "no dialog")
        dismiss(run, message)
        run.wait_exit(1, watch_titles=(MESSAGE_CAPTION, CAPTION))
        check_no_output(folder, before)
        check_equal(run.launches(False), [], "launches")
    finally:
        run.kill()


def test_damaged_first_part_ends_before_the_dialog():
    folder = fresh_folder("damaged")
    make_part_set(folder, "SETUP.EXE")
    with open(os.path.join(folder, "NWD4_322.001"), "r+b") as f:
        f.truncate(100)
    message_without_dialog_case("damaged", folder, FIRST_PART_DAMAGED)


def test_memory_file_system_is_refused():
    parent = tempfile.mkdtemp(prefix="nwd-e2e-", dir="/dev/shm")
    try:
        folder = fresh_folder("tmpfs", parent)
        make_part_set(folder, "SETUP.EXE")
        message_without_dialog_case("tmpfs", folder, NOT_ON_FIXED_DISK)
    finally:
        shutil.rmtree(parent, ignore_errors=True)


def test_help_failure_leaves_the_dialog_open():
    folder = fresh_folder("help")
    make_part_set(folder, "SETUP.EXE")
    before = os.listdir(folder)
    run = Run(folder, "help")
    try:
        window = run.window_titled(CAPTION)
        accessible_window(run.pid, CAPTION)
        press(window, "F1")
        message = check_message(run, HELP_FAILED, owner=window)
        dismiss(run, message)
        check(run.process.poll() is None, "the program still runs")
        check(window in run.windows(), "the dialog is still shown")
        press(window, "Escape")
        run.wait_exit(0, watch_titles=(MESSAGE_CAPTION,))
        check_no_output(folder, before)
        check_equal(run.launches(False), [], "launches")
    finally:
        run.kill()


def test_part_reached_through_the_output_name_is_kept():
    # The measured attack: part 3's data moved under the output's name and
    # the part made a link to it; and the plain second name of a part.
    def symlinked(folder):
        os.rename(os.path.join(folder, "NWD4_322.003"), os.path.join(folder, "SETUP.EXE"))
        os.symlink("SETUP.EXE", os.path.join(folder, "NWD4_322.003"))

    def hard_linked(folder):
        os.link(os.path.join(folder, "NWD4_322.002"), os.path.join(folder, "SETUP.EXE"))

    for arrange in (symlinked, hard_linked):
        folder = fresh_folder("alias-" + arrange.__name__)
        make_part_set(folder, "SETUP.EXE")
        arrange(folder)
        kept = open(os.path.join(folder, "SETUP.EXE"), "rb").read()
        before = os.listdir(folder)
        run = Run(folder, "alias-" + arrange.__name__)
        try:
            press(run.window_titled(CAPTION), "Return")
            dismiss(run, check_message(run, "SETUP.EXEをオープンできません。", owner=None))
            run.wait_exit(1, watch_titles=(MESSAGE_CAPTION,))
            check_no_output(folder, before)
            check(open(os.path.join(folder, "SETUP.EXE"), "rb").read() == kept,
                  arrange.__name__ + ": the part's data is kept")
            check_equal(run.launches(False), [], "launches")
        finally:
            run.kill()


def output_is_open(pid, folder):
    """True once the program holds a file in folder that is not a part."""
    fds = f"/proc/{pid}/fd"
    for fd in os.listdir(fds):
        try:
            target = os.readlink(os.path.join(fds, fd))
        except OSError:
            continue
        if target.startswith(folder + "/") and "/NWD4_322." not in target:
            return True
    return False


def test_run_ended_during_the_join_leaves_nothing_under_the_name():
    folder = fresh_folder("terminated")
    source_path = os.path.join(WORK, "large.bin")
    with open(source_path, "wb") as f:
        f.write(bytes(range(256)) * (2 * 1024 * 1024))  # 512 MiB
    subprocess.run([SPLIT, "--parts", "4", "--output-name", "SETUP.EXE", source_path, folder],
                   check=True, stdout=subprocess.DEVNULL)
    os.remove(source_path)
    before = os.listdir(folder)
    run = Run(folder, "terminated")
    try:
        press(run.window_titled(CAPTION), "Return")
        # Frozen as soon as the output is open, looked for often enough to
        # come well before the join ends: its name must not exist yet.
        deadline = time.monotonic() + WINDOW_TIMEOUT
        while not output_is_open(run.pid, folder):
            check(time.monotonic() < deadline and run.process.poll() is None,
                  "the output was never seen open")
            time.sleep(0.001)
        os.kill(run.pid, signal.SIGSTOP)
        check_no_output(folder, before)
        os.kill(run.pid, signal.SIGTERM)
        os.kill(run.pid, signal.SIGCONT)
        check_equal(run.process.wait(timeout=EXIT_TIMEOUT), -signal.SIGTERM, "exit status")
        check_no_output(folder, before)
        check_equal(run.launches(False), [], "launches")
    finally:
        run.kill()
        shutil.rmtree(folder, ignore_errors=True)


def test_output_is_launched_where_the_folder_was_moved():
    folder = fresh_folder("moved-from")
    source = make_part_set(folder, "SETUP.EXE")
    moved = fresh_folder("moved-to")
    os.rmdir(moved)
    run = Run(folder, "moved")
    try:
        window = run.window_titled(CAPTION)
        # While the dialog waits the folder goes, and a stranger takes its place.
        os.rename(folder, moved)
        os.makedirs(folder)
        with open(os.path.join(folder, "SETUP.EXE"), "wb") as f:
            f.write(b"planted")
        press(window, "Return")
        run.wait_exit(0, watch_titles=(MESSAGE_CAPTION,))
        check(open(os.path.join(moved, "SETUP.EXE"), "rb").read() == source,
              "the output is written in the moved folder")
        check_equal(run.launches(True), [os.path.join(moved, "SETUP.EXE")], "launches")
    finally:
        run.kill()


def test_opener_that_fails_gets_a_message_naming_the_file():
    # xdg-open exits 3 when nothing on the desktop opens the file; without
    # xdg-utils there is no opener at all.
    for name, opener, env_changes in (("opener-fails", "fails", None),
                                      ("no-opener", "succeeds", {"PATH": "/nonexistent"})):
        folder = fresh_folder(name)
        source = make_part_set(folder, "インストーラ.EXE")
        output = os.path.join(folder, "インストーラ.EXE")
        run = Run(folder, name, opener=opener, env_changes=env_changes)
        try:
            press(run.window_titled(CAPTION), "Return")
            message = check_message(run, output + NOT_OPENED, owner=None)
            if opener == "fails":
                screenshot(message, "linux-not-opened.png")
            dismiss(run, message)
            run.wait_exit(1, watch_titles=(MESSAGE_CAPTION,))
            check(open(output, "rb").read() == source, name + ": the output is kept whole")
            check_equal(run.launches(opener == "fails"), [output] if opener == "fails" else [],
                        name + ": launches")
        finally:
            run.kill()


def test_opener_that_stays_does_not_hold_the_program():
    # A handler that the opener runs in the foreground keeps it for as long
    # as the installer runs; the program waits for it a bounded while only.
    folder = fresh_folder("opener-stays")
    make_part_set(folder, "SETUP.EXE")
    run = Run(folder, "opener-stays", opener="hangs")
    opener = None
    try:
        press(run.window_titled(CAPTION), "Return")
        pressed = time.monotonic()
        run.wait_exit(0, watch_titles=(MESSAGE_CAPTION,))
        print(f"     the program ended {time.monotonic() - pressed:.1f} s after Enter")
        opener = int(wait_for(lambda: os.path.exists(run.record + ".pid") and
                              open(run.record + ".pid").read().strip(), 5.0, "the opener"))
        os.kill(opener, 0)  # still running: the program did not wait for it
        check_equal(run.launches(True), [os.path.join(folder, "SETUP.EXE")], "launches")
    finally:
        run.kill()
        if opener:
            os.kill(opener, signal.SIGKILL)


def test_display_that_refuses_is_named_on_standard_error():
    folder = fresh_folder("refused")
    make_part_set(folder, "SETUP.EXE")
    before = os.listdir(folder)
    run = Run(folder, "refused", env_changes={"XAUTHORITY": os.devnull})
    try:
        run.wait_exit(1, watch_titles=(CAPTION, MESSAGE_CAPTION))
        # The X library writes the server's answer first.
        check_equal(run.stderr().splitlines()[-1],
                    f'NWD4_322: cannot show the dialog on display "{os.environ["DISPLAY"]}": '
                    "its X server refused the connection", "last line on standard error")
        check_no_output(folder, before)
        check_equal(run.launches(False), [], "launches")
    finally:
        run.kill()


# --- the progress of a long join ---

WRITING = " を作成しています…"
CANCEL_LABEL = "キャンセル"
# A join of 96 MiB read at 16 MB/s (a slow USB disk) takes about 6 s: long enough to show its
# window, to read it and to stop it well before the end.
SLOW_SET_SIZE = 96 * 1024 * 1024
SLOW_READ_RATE = 16 * 1000 * 1000


class Skipped(Exception):
    pass


def slow_part_set(name, output_name):
    """A set that is read from the disk, and a disk that reads it slowly;
    returns the folder, the source and the slow disk."""
    folder = fresh_folder(name)
    source = random.Random(name).randbytes(SLOW_SET_SIZE)
    source_path = os.path.join(WORK, "slow-source.bin")
    with open(source_path, "wb") as f:
        f.write(source)
    subprocess.run([SPLIT, "--parts", "3", "--output-name", output_name, source_path, folder],
                   check=True, stdout=subprocess.DEVNULL)
    os.remove(source_path)
    slow_disk.evict([os.path.join(folder, n) for n in os.listdir(folder)])
    try:
        disk = slow_disk.SlowDisk(folder, SLOW_READ_RATE)
    except slow_disk.Unavailable as e:
        raise Skipped(f"no slow disk here ({e})") from e
    return folder, source, disk


@contextlib.contextmanager
def slow_run(name, output_name):
    """The program started on a slow set; yields the folder, the source and
    the run, and removes them all afterwards."""
    folder, source, disk = slow_part_set(name, output_name)
    run = Run(folder, name, preexec_fn=disk.join)
    try:
        yield folder, source, run
    finally:
        run.kill()
        disk.remove()
        shutil.rmtree(folder, ignore_errors=True)


def progress_window(run):
    """The progress window once it is up, read back: its X window and its
    accessible."""
    window = run.window_titled(MESSAGE_CAPTION)
    accessible = accessible_window(run.pid, MESSAGE_CAPTION)
    check(accessible.getRole() != pyatspi.ROLE_ALERT, "a progress window, not a message")
    return window, accessible


def check_progress_window(accessible, output_name):
    check_equal(label_texts(accessible), [output_name + WRITING], "text of the progress window")
    check_equal(button_labels(accessible), [CANCEL_LABEL], "buttons of the progress window")
    bars = descendants(accessible, pyatspi.ROLE_PROGRESS_BAR)
    check_equal(len(bars), 1, "progress bars")
    value = bars[0].queryValue()
    check(0.0 <= value.currentValue < value.maximumValue,
          f"the bar under its end ({value.currentValue} of {value.maximumValue})")


def click_cancel(window, accessible):
    click(descendants(accessible, pyatspi.ROLE_PUSH_BUTTON)[0])


def escape_progress(window, accessible):
    press(window, "Escape")


def close_progress(window, accessible):
    X.request_close(window)


def test_long_join_can_be_stopped():
    output_name = "インストーラ.EXE"
    for stop in (click_cancel, escape_progress, close_progress):
        with slow_run("progress-" + stop.__name__, output_name) as (folder, _, run):
            before = os.listdir(folder)
            press(run.window_titled(CAPTION), "Return")
            started = time.monotonic()
            window, accessible = progress_window(run)
            shown_after = time.monotonic() - started
            check(shown_after >= 0.4, f"the window waits half a second ({shown_after:.2f} s)")
            check_progress_window(accessible, output_name)
            check_equal(X.transient_for(window), None, "owner of the progress window")
            check_equal(sorted(X.icon_sizes(window)), [(16, 16), (32, 32)], "icon sizes")
            if stop is click_cancel:
                screenshot(window, "linux-progress.png")
            stop(window, accessible)
            run.wait_exit(0, watch_titles=(CAPTION,))
            took = time.monotonic() - started
            check(took < SLOW_SET_SIZE / SLOW_READ_RATE,
                  f"{stop.__name__}: stopped before the join could end ({took:.2f} s, "
                  f"window after {shown_after:.2f} s)")
            check_no_output(folder, before)
            check_equal(run.launches(False), [], "launches")


def test_long_join_ends_its_window_before_the_launch_or_a_message():
    output_name = "SETUP.EXE"
    with slow_run("progress-whole", output_name) as (folder, source, run):
        press(run.window_titled(CAPTION), "Return")
        progress_window(run)
        run.wait_exit(0)
        with open(os.path.join(folder, output_name), "rb") as f:
            check(f.read() == source, "the output is the source, byte for byte")
        check_equal(run.launches(True), [os.path.join(folder, output_name)], "launches")

    # The last part goes while the window is up: the message comes alone.
    with slow_run("progress-message", output_name) as (folder, _, run):
        before = [n for n in os.listdir(folder) if n != "NWD4_322.003"]
        press(run.window_titled(CAPTION), "Return")
        progress_window(run)
        os.remove(os.path.join(folder, "NWD4_322.003"))

        def message_up():
            for app in pyatspi.Registry.getDesktop(0):
                try:
                    if app is not None and app.get_process_id() == run.pid:
                        return any(w is not None and w.getRole() == pyatspi.ROLE_ALERT
                                   for w in app)
                except Exception:
                    continue
            return False
        wait_for(message_up, WINDOW_TIMEOUT, "the message")
        message = check_message(run, "NWD4_322.003がオープンできません。", owner=None)
        dismiss(run, message)
        run.wait_exit(1, watch_titles=(MESSAGE_CAPTION,))
        check_no_output(folder, before)
        check_equal(run.launches(False), [], "launches")


TESTS = [
    test_execute_joins_and_launches,
    test_escape_cancels,
    test_f1_with_a_modifier_is_no_help,
    test_close_request_cancels,
    test_tab_then_enter_presses_cancel,
    test_missing_part_is_reported_over_the_dialog,
    test_read_error_is_reported_and_the_dialog_stays_open,
    test_long_missing_list_fits_the_screen,
    test_damaged_first_part_ends_before_the_dialog,
    test_memory_file_system_is_refused,
    test_help_failure_leaves_the_dialog_open,
    test_part_reached_through_the_output_name_is_kept,
    test_run_ended_during_the_join_leaves_nothing_under_the_name,
    test_output_is_launched_where_the_folder_was_moved,
    test_opener_that_fails_gets_a_message_naming_the_file,
    test_opener_that_stays_does_not_hold_the_program,
    test_display_that_refuses_is_named_on_standard_error,
    test_long_join_can_be_stopped,
    test_long_join_ends_its_window_before_the_launch_or_a_message,
]


def main():
    os.makedirs(os.path.join(WORK, "cases"), exist_ok=True)
    selected = [t for t in TESTS if len(sys.argv) < 5 or t.__name__ in sys.argv[4:]]
    passed = failed = skipped = 0
    started = time.monotonic()
    for test in selected:
        t0 = time.monotonic()
        try:
            test()
        except Skipped as e:
            skipped += 1
            print(f"skip {test.__name__}: {e}")
        except Exception as e:  # one case's failure must not stop the others
            failed += 1
            print(f"FAIL {test.__name__}: {e}")
            if not isinstance(e, Failure):
                traceback.print_exc()
        else:
            passed += 1
            print(f"ok   {test.__name__} ({time.monotonic() - t0:.1f} s)")
        sys.stdout.flush()
    print(f"screenshots in {ARTEFACTS}")
    print(f"{passed} passed, {failed} failed, {skipped} skipped "
          f"({time.monotonic() - started:.1f} s)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
