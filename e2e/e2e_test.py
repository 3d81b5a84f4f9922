#!/usr/bin/env python3
"""Kelvo-GBA end to end, as a user with a screen reader meets it.

Runs the built program on a real X server (Xvfb) inside its own D-Bus
session, sends it real input events (xdotool) and reads every control through
the accessibility bus (AT-SPI), as a screen reader does. In a temporary
working directory with generated images it reads two headers, writes a title,
makes the title-named copy and a list, and checks every result on disk.

Usage: e2e_test.py PATH/TO/kelvo-gba
Exits 0 on success, 1 on a failure, 77 when no X server or accessibility bus
can be had here (CTest reports that as skipped).
"""

import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77
APP_NAME = "Kelvo-GBA"
SESSION_MARK = "KELVO_E2E_IN_SESSION"
# Polls never sleep longer than this; each wait has its own deadline.
POLL = 0.05


class Skip(Exception):
    pass


class Failure(Exception):
    pass


def wait_for(what, probe, timeout=15.0):
    """Polls probe() until it returns something true; returns that."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        try:
            result = probe()
            if result:
                return result
            last = result
        except Failure:
            raise
        except Exception as error:  # the bus can answer mid-update; ask again
            last = error
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what} (last: {last!r})")
        time.sleep(POLL)


# ---------------------------------------------------------------------------
# Images and the bytes on disk.

TITLE_OFFSET, CHECK_OFFSET = 0xA0, 0xBD
MBIT = 131072


def header_check(image):
    return (-(0x19 + sum(image[TITLE_OFFSET:CHECK_OFFSET]))) & 0xFF


def make_image(path, fields, size, valid_check):
    """An image of `size` bytes whose header at 0xA0 holds `fields`."""
    image = bytearray((i * 7 + 3) & 0xFF for i in range(256)) * (size // 256)
    image[TITLE_OFFSET:CHECK_OFFSET] = fields.ljust(CHECK_OFFSET - TITLE_OFFSET, b"\0")
    image[CHECK_OFFSET] = (header_check(image) + (0 if valid_check else 1)) & 0xFF
    with open(path, "wb") as out:
        out.write(image)
    return bytes(image)


def read_bytes(path):
    with open(path, "rb") as data:
        return data.read()


# ---------------------------------------------------------------------------
# The X server, the input events and the accessibility tree.

def start_xvfb():
    """Starts Xvfb on a free display; returns (process, display)."""
    read_end, write_end = os.pipe()
    try:
        server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    finally:
        os.close(write_end)
    number = b""
    deadline = time.monotonic() + 15
    while not number.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([read_end], [], [], left)[0]:
            break
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip():
        server.kill()
        reason = server.communicate()[1].decode(errors="replace").strip()
        raise Skip(f"Xvfb did not start: {reason[-300:] or 'no display number'}")
    return server, ":" + number.decode().strip()


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, timeout=10)


def center(accessible):
    import pyatspi
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    if box.width <= 0 or box.height <= 0:
        raise Failure(f"{describe(accessible)} is not on screen")
    return box.x + box.width // 2, box.y + box.height // 2


def click(accessible):
    x, y = center(accessible)
    xdotool("mousemove", "--sync", str(x), str(y), "click", "1")


def key(*keys):
    xdotool("key", "--clearmodifiers", *keys)


def describe(accessible):
    return f"{accessible.getRoleName()} \"{accessible.name}\""


def states(accessible):
    import pyatspi
    return {pyatspi.stateToString(state) for state in accessible.getState().getStates()}


def descendants(root):
    """Every accessible below root, depth first (list items included)."""
    found = []
    stack = [root]
    while stack:
        node = stack.pop()
        for i in reversed(range(node.childCount)):
            child = node.getChildAtIndex(i)
            if child is not None:
                found.append(child)
                stack.append(child)
    return found


def find(root, role, name=None, description=None):
    for node in descendants(root):
        if node.getRoleName() == role and (name is None or node.name == name) and (
                description is None or node.description == description):
            return node
    return None


def need(root, role, name=None, description=None, timeout=15.0):
    what = f"{role} \"{name if name is not None else description}\""
    return wait_for(what, lambda: find(root, role, name, description), timeout)


def require_accessibility_bus():
    """Starts the session's accessibility bus, as a desktop does at log-in."""
    from gi.repository import Gio, GLib
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                      GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 15000, None)
    except GLib.Error as error:
        raise Skip(f"the accessibility bus cannot be started: {error.message}")


def wait_for_application(program):
    import pyatspi

    def probe():
        if program.poll() is not None:
            raise Failure(f"kelvo-gba exited with {program.returncode} before it was shown")
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == APP_NAME and app.get_process_id() == program.pid:
                return app
        return None
    return wait_for("Kelvo-GBA on the accessibility bus", probe, 30)


def wait_mapped(title):
    """Waits until the X server shows the window, so clicks reach it."""
    def probe():
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
        return found.returncode == 0 and found.stdout.strip()
    wait_for(f"the X server to show \"{title}\"", probe)


def window(app, title):
    """A shown top-level window. Qt gives a main window the role "frame" and
    a plain widget window, such as the list window, "filler"."""
    return next((w for w in app if w is not None and w.name == title
                 and "showing" in states(w)), None)


def text_of(accessible):
    text = accessible.queryText()
    return text.getText(0, text.characterCount)


# ---------------------------------------------------------------------------
# The checks.

def check_value_labels(root, expected):
    """Each value label announces its value, with its caption as description."""
    for caption, value in expected.items():
        label = need(root, "label", description=caption)
        try:
            wait_for(f"the {caption} label", lambda: label.name == value, 10)
        except Failure:
            raise Failure(f"the {caption} label is announced as \"{label.name}\", "
                          f"not as \"{value}\"") from None


def check_keyboard_reach(root, wanted):
    """Tabs through the window: every enabled button, list, check box and
    text box shown must take the focus in turn; `wanted` names the ones that
    must be among them."""
    def control(node):
        # An object listed a moment ago can be gone by the time it is asked
        # (Qt drops and makes some afresh as the window updates): no control.
        from gi.repository import GLib
        try:
            return (node.getRoleName() in ("push button", "list", "check box", "combo box",
                                           "text")
                    and {"showing", "enabled"} <= states(node))
        except GLib.GError:
            return False

    candidates = [node for node in descendants(root) if control(node)]
    for node in candidates:
        if "focusable" not in states(node):
            raise Failure(f"{describe(node)} cannot take the keyboard focus")

    def focused():
        return next((node for node in candidates if "focused" in states(node)), None)

    def moved_from(before):
        now = focused()
        return now if now is not None and describe(now) != before else None

    reached = [describe(wait_for("a control with the focus", focused, 10))]
    for _ in range(len(candidates) + 1):
        key("Tab")
        reached.append(describe(wait_for("Tab to move the focus",
                                         lambda: moved_from(reached[-1]), 10)))
    print(f"Tab reaches: {', '.join(reached)}")
    missing = [name for name in wanted + [describe(node) for node in candidates]
               if name not in reached]
    if missing:
        raise Failure(f"not reachable with Tab: {missing}; Tab went through {reached}")
    return reached


def scenario(app_path, work, display):
    sample = make_image(os.path.join(work, "SAMPLE.gba"), b"SAMPLE TITLEAXYJ01\x96",
                        32 * MBIT, True)
    other = make_image(os.path.join(work, "OTHER.bin"), b"OTHER GAME\0\0AZZE08",
                       12 * MBIT, False)

    runtime = tempfile.mkdtemp(prefix="runtime-", dir=work + "-run")
    # The configured checksum lists and the hash cache of this run only, never the user's.
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LC_ALL="C.UTF-8", LANG="C.UTF-8",
               XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(work + "-run", "config"),
               XDG_CACHE_HOME=os.path.join(work + "-run", "cache"))
    log_path = os.path.join(work + "-run", "kelvo-gba.log")
    with open(log_path, "wb") as log:
        program = subprocess.Popen([app_path], cwd=work, env=env, stdout=log, stderr=log)
    try:
        run_program(program, work, sample, other)
    except BaseException:
        if program.poll() is None:
            program.kill()
        program.wait()
        with open(log_path, "rb") as log:
            output = log.read().decode(errors="replace")
        if output.strip():
            print("--- kelvo-gba output ---\n" + output[-4000:], file=sys.stderr)
        raise


def run_program(program, work, sample, other):
    app = wait_for_application(program)
    main = wait_for("the header window", lambda: window(app, "Kelvo-GBA - Kelvo By Orlan"))
    wait_mapped("Kelvo-GBA - Kelvo By Orlan")

    # Nothing shown yet: a value label announces nothing, never its group's title.
    check_value_labels(main, {"Size (Mbit)": "", "Header check": "", "Territory": ""})

    # Click an image in the file list and read its header.
    files = need(main, "list", "Files")
    click(need(files, "list item", "OTHER.bin"))
    check_value_labels(main, {
        "Size (Mbit)": "12Mbit", "Size (MB)": "1.5MB", "Advance": "A - Yes",
        "Territory": "E - English", "Cart ID": "ZZ", "Manufacturer": "08 - Capcom",
        "Header check": "Check bad"})
    title_box = need(main, "text", "Header")
    wait_for("the title box to hold OTHER GAME", lambda: text_of(title_box) == "OTHER GAME")

    click(need(files, "list item", "SAMPLE.gba"))
    check_value_labels(main, {
        "Size (Mbit)": "32Mbit", "Size (MB)": "4MB", "Advance": "A - Yes",
        "Territory": "J - Japanese", "Cart ID": "XY", "Manufacturer": "01 - Nintendo",
        "Header check": "Check OK"})
    wait_for("the title box to hold SAMPLE TITLE", lambda: text_of(title_box) == "SAMPLE TITLE")

    # Type a new title and write it.
    click(title_box)
    wait_for("the title box to take the focus", lambda: "focused" in states(title_box))
    key("ctrl+a")
    xdotool("type", "--delay", "15", "NEW TITLE")
    wait_for("the typed title in the title box", lambda: text_of(title_box) == "NEW TITLE")
    click(need(main, "push button", "Edit Header"))
    sample_path = os.path.join(work, "SAMPLE.gba")
    edited = bytearray(sample)
    edited[TITLE_OFFSET:TITLE_OFFSET + 12] = b"NEW TITLE   "
    edited[CHECK_OFFSET] = header_check(edited)
    wait_for("the new title and check byte in SAMPLE.gba",
             lambda: read_bytes(sample_path) == bytes(edited))

    # The copy named after the title.
    click(need(main, "push button", "Rename File To ROM Title"))
    copy_path = os.path.join(work, "NEW TITLE.gba")
    wait_for("NEW TITLE.gba to hold the edited image",
             lambda: os.path.exists(copy_path) and read_bytes(copy_path) == bytes(edited))
    need(files, "list item", "NEW TITLE.gba")

    # Every button, list and check box is reachable by keyboard.
    check_keyboard_reach(main, [
        'combo box "/"', 'list "Directories"', 'list "Files"', 'push button "Edit Header"',
        'push button "Exit"', 'text "Header"', 'push button "Rename File To ROM Title"'])

    # The list window, opened from the keyboard.
    click(title_box)
    key("ctrl+l")
    lister = wait_for("the ROM List Generator window", lambda: window(app, "ROM List Generator"))
    wait_mapped("ROM List Generator")
    boxes = {name: need(lister, "check box", name) for name in
             ("Filename", "Header", "Cart ID", "Size (Bytes)", "Size (Mbit)", "Publisher")}
    for name, box in boxes.items():
        if "checked" not in states(box):
            raise Failure(f"the {name} check box starts unticked")
    check_keyboard_reach(lister, [
        'push button "Back"', *(f'check box "{name}"' for name in boxes),
        'push button "Make List"', 'list "Directories"', 'combo box "/"', 'list "Files"',
        'text "Notes"'])

    click(boxes["Cart ID"])
    wait_for("Cart ID to be unticked", lambda: "checked" not in states(boxes["Cart ID"]))
    need(need(lister, "list", "Files"), "list item", "OTHER.bin")
    click(need(lister, "push button", "Make List"))
    list_path = os.path.join(work, "list.txt")
    expected_list = (b"Filename\tHeader\tSize (Bytes)\tSize (Mbit)\tPublisher\r\n"
                     b"OTHER.bin\tOTHER GAME\t1572864\t12Mbit\t08 - Capcom\r\n"
                     b" 1 \r\n")
    wait_for("list.txt with the list block",
             lambda: os.path.exists(list_path) and read_bytes(list_path) == expected_list)
    need(lister, "label", f"Listed 1 files in {list_path}", "Status")

    click(need(lister, "push button", "Back"))
    wait_for("the list window to close", lambda: window(app, "ROM List Generator") is None)

    # Nothing else was written, and the program ends cleanly.
    click(need(main, "push button", "Exit"))
    wait_for("kelvo-gba to exit", lambda: program.poll() is not None, 15)
    if program.returncode != 0:
        raise Failure(f"kelvo-gba exited with {program.returncode}")
    names = sorted(os.listdir(work))
    if names != ["NEW TITLE.gba", "OTHER.bin", "SAMPLE.gba", "list.txt"]:
        raise Failure(f"unexpected files in the working directory: {names}")
    if read_bytes(os.path.join(work, "OTHER.bin")) != other:
        raise Failure("OTHER.bin changed, though nothing was written into it")


def in_session(app_path):
    try:
        import pyatspi  # noqa: F401 (only to learn whether it is there)
    except ImportError as error:
        raise Skip(f"pyatspi is not available: {error}")
    require_accessibility_bus()
    server, display = start_xvfb()
    top = tempfile.mkdtemp(prefix="kelvo-e2e-")
    work = os.path.join(top, "roms")
    os.mkdir(work)
    os.mkdir(work + "-run")
    try:
        os.environ["DISPLAY"] = display
        scenario(app_path, work, display)
    finally:
        server.terminate()
        try:
            server.wait(5)
        except subprocess.TimeoutExpired:
            server.kill()
        shutil.rmtree(top, ignore_errors=True)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    app_path = os.path.abspath(sys.argv[1])
    started = time.monotonic()
    try:
        if not os.environ.get(SESSION_MARK):
            # A private session bus, so the accessibility bus started for the
            # program is ours alone and ends with the test.
            for tool in ("Xvfb", "xdotool", "dbus-run-session"):
                if shutil.which(tool) is None:
                    raise Skip(f"{tool} is not installed")
            env = dict(os.environ, **{SESSION_MARK: "1"})
            env.pop("DISPLAY", None)
            return subprocess.run(["dbus-run-session", "--", sys.executable, __file__, app_path],
                                  env=env).returncode
        in_session(app_path)
    except Skip as reason:
        print(f"SKIPPED: {reason}")
        return SKIP
    except Failure as failure:
        traceback.print_exc()
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    print(f"PASSED in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
