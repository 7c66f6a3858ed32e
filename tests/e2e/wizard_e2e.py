#!/usr/bin/python3
"""Drives the built wizard as a person would, through the accessibility tree.

Run by run-e2e.sh inside Xvfb and a private session bus; see README.md.
Scenarios:
  cancel     Welcome page, Cancel, No keeps the wizard, Cancel, Yes ends it (status 1).
  roundtrip  backs a Firefox profile up through every page, starts over, restores the
             backup into a second profile and compares the restored files.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

try:
    import gi

    gi.require_version("Atspi", "2.0")
    import pyatspi
except Exception as error:  # the message is the point: CI must say what to install
    print(
        "e2e: pyatspi cannot be imported (%s). Install the Debian package python3-pyatspi "
        "(bash scripts/install-deps.sh) and run this with /usr/bin/python3." % error
    )
    sys.exit(1)

TITLE = "Tessarin 1.5.1"
WELCOME = TITLE + " - Welcome"
OPERATION = TITLE + " - Operation type"
PROFILES = TITLE + " - Profile selection"
COMPONENTS = TITLE + " - Components selection"
REPORT = TITLE + " - Report"

EXIT_QUESTION = "The operation is not finished. Do you really want to exit the program?"
PASSWORD_QUESTION = "Do you want to password-protect the backup file?"
OVERWRITE_FILE = "This file already exists. Overwrite it?"
OVERWRITE_PROFILE = (
    "Restoration can overwrite exist files in selected profile. Do you want to continue?"
)
BACKUP_DONE = "The backup was created. You can read the report below:"
RESTORE_DONE = "The backup was restored. You can read the report below:"

SOURCE_PROFILE = "k3j4h5g6.default-release"
TARGET_PROFILE = "w8e7r6t5.second"
# Files a person expects back from the components ticked by default for this profile,
# and the unknown file they kept; each must come back byte for byte.
COMPARED_FILES = [
    "places.sqlite",  # bookmarks, history
    "bookmarkbackups/bookmarks-2024-03-01_1520_x3Vd9aQ1bq8=.jsonlz4",
    "cookies.sqlite",
    "formhistory.sqlite",
    "logins.json",  # saved passwords
    "cert9.db",
    "cert_override.txt",
    "permissions.sqlite",  # general settings
    "chrome/userChrome.css",  # user styles
    "extensions/uBlock0@raymondhill.net.xpi",
    "notes-from-user.txt",  # an unknown file
]
# Report lines a person reads after each run.
BACKUP_REPORT = ["Backup contains:", "- General settings", "- Bookmarks", "- Cookies"]
RESTORE_REPORT = [
    "General settings restore... OK",
    "Bookmarks restore... OK",
    "Cookies restore... OK",
]

BUTTON_ROLES = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON}
WINDOW_ROLES = {pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT, pyatspi.ROLE_WINDOW}
TEXT_ROLES = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY}


class StepFailed(Exception):
    pass


def log(message):
    print("e2e: " + message, flush=True)


# ---------------------------------------------------------------- fixture home


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def make_home(work, data):
    """A home as a user of the Flatpak Firefox has it: one full profile, one nearly empty."""
    home = os.path.join(work, "home")
    write(
        os.path.join(
            home,
            ".local/share/flatpak/app/org.mozilla.firefox/current/active/files/lib/firefox",
            "application.ini",
        ),
        "[App]\nVendor=Mozilla\nName=Firefox\nRemotingName=firefox\nVersion=115.8.0\n"
        "BuildID=20240213221259\n",
    )
    root = os.path.join(home, ".var/app/org.mozilla.firefox/.mozilla/firefox")
    real = os.path.join(data, "profiles-real", "firefox")
    source = os.path.join(root, SOURCE_PROFILE)
    shutil.copytree(os.path.join(real, "profile"), source)
    outside = ""
    if os.path.isdir(os.path.join(real, "outside")):
        outside = os.path.join(root, "outside")
        shutil.copytree(os.path.join(real, "outside"), outside)
    prefs = os.path.join(source, "prefs.js")
    with open(prefs, encoding="utf-8") as f:
        text = f.read()
    write(prefs, text.replace("@PROFILE@", source).replace("@OUTSIDE@", outside))

    target = os.path.join(root, TARGET_PROFILE)
    write(
        os.path.join(target, "prefs.js"),
        "// Mozilla User Preferences\n\n"
        'user_pref("browser.startup.homepage_override.mstone", "115.8.0");\n'
        'user_pref("e2e.target.only", true);\n',
    )
    write(
        os.path.join(root, "profiles.ini"),
        "[Install4F96D1932A9F858E]\nDefault=%s\nLocked=1\n\n"
        "[Profile1]\nName=second\nIsRelative=1\nPath=%s\n\n"
        "[Profile0]\nName=default-release\nIsRelative=1\nPath=%s\nDefault=1\n\n"
        "[General]\nStartWithLastProfile=1\nVersion=2\n" % (SOURCE_PROFILE, TARGET_PROFILE, SOURCE_PROFILE),
    )
    write(
        os.path.join(root, "installs.ini"),
        "[4F96D1932A9F858E]\nDefault=%s\nLocked=1\n" % SOURCE_PROFILE,
    )
    os.makedirs(os.path.join(home, "Documents"), exist_ok=True)
    write(
        os.path.join(home, ".config", "user-dirs.dirs"),
        'XDG_DOCUMENTS_DIR="$HOME/Documents"\n',
    )
    os.makedirs(os.path.join(work, "Backups"), exist_ok=True)
    return home, source, target


def copy_program(program, work):
    """The program folder is the executable's own; a copy keeps the build tree untouched."""
    folder = os.path.join(work, "program")
    os.makedirs(folder)
    source = os.path.dirname(os.path.abspath(program))
    for name in os.listdir(source):
        path = os.path.join(source, name)
        if os.path.isfile(path):
            shutil.copy2(path, os.path.join(folder, name))
    copied = os.path.join(folder, os.path.basename(program))
    if not os.access(copied, os.X_OK):
        raise StepFailed("the program %s could not be copied" % program)
    return copied


# ---------------------------------------------------------------- accessibility


def safe(call, default=None):
    try:
        return call()
    except Exception:  # an object that went away while we looked at it
        return default


def name_of(node):
    return (safe(lambda: node.name, "") or "").replace("&", "")


def role_of(node):
    return safe(lambda: node.getRole(), None)


def states_of(node):
    return safe(lambda: node.getState(), None)


def has_state(node, state):
    states = states_of(node)
    return bool(states and states.contains(state))


def showing(node):
    return has_state(node, pyatspi.STATE_SHOWING)


def children_of(node):
    count = safe(lambda: node.childCount, 0) or 0
    out = []
    for i in range(count):
        child = safe(lambda: node.getChildAtIndex(i))
        if child is not None:
            out.append(child)
    return out


def walk(node, visible_only=True, depth=0, limit=40):
    """Depth first; a hidden page or dialog and what it holds are left out."""
    if depth > limit:
        return
    yield node
    for child in children_of(node):
        if visible_only and not showing(child):
            continue
        yield from walk(child, visible_only, depth + 1, limit)


def text_of(node):
    def read():
        text = node.queryText()
        return text.getText(0, -1)

    return safe(read, "") or ""


def describe(node):
    role = safe(lambda: node.getRoleName(), "?")
    parts = [role, repr(name_of(node))]
    description = safe(lambda: node.description, "")
    if description:
        parts.append("desc=%r" % description)
    if role_of(node) in TEXT_ROLES:
        parts.append("text=%r" % text_of(node))
    states = states_of(node)
    if states is not None:
        flags = []
        for label, state in (
            ("showing", pyatspi.STATE_SHOWING),
            ("enabled", pyatspi.STATE_ENABLED),
            ("focused", pyatspi.STATE_FOCUSED),
            ("checked", pyatspi.STATE_CHECKED),
            ("selected", pyatspi.STATE_SELECTED),
            ("active", pyatspi.STATE_ACTIVE),
        ):
            if states.contains(state):
                flags.append(label)
        parts.append("[" + ",".join(flags) + "]")
    actions = safe(lambda: node.queryAction(), None)
    if actions is not None:
        names = [safe(lambda i=i: actions.getName(i), "?") for i in range(actions.nActions)]
        if names:
            parts.append("actions=" + "/".join(names))
    return " ".join(parts)


def dump(node, out, indent=0, depth=0):
    out.append("  " * indent + describe(node))
    if depth > 40:
        return
    kids = children_of(node)
    if len(kids) > 60:  # a file list: its first rows tell enough
        out.append("  " * (indent + 1) + "(%d children, first 60 shown)" % len(kids))
        kids = kids[:60]
    for child in kids:
        dump(child, out, indent + 1, depth + 1)


def mouse_click(node, near_left=False):
    """A left click; on a check box or radio button at its indicator, which sits left."""
    extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    x = extents.x + (min(8, extents.width // 2) if near_left else extents.width // 2)
    y = extents.y + extents.height // 2
    pyatspi.Registry.generateMouseEvent(x, y, pyatspi.MOUSE_B1C)


def do_action(node, wanted):
    actions = node.queryAction()
    for i in range(actions.nActions):
        if actions.getName(i).lower() in wanted:
            actions.doAction(i)
            return True
    return False


# ---------------------------------------------------------------- the wizard


def die_with_parent():
    import ctypes

    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Wizard:
    def __init__(self, program, home, work, deadline):
        self.work = work
        self.deadline = deadline
        self.log_path = os.path.join(work, "program.log")
        env = {
            key: os.environ[key]
            for key in ("PATH", "DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")
            if key in os.environ
        }
        env.update(
            {
                "HOME": home,
                "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                "XDG_STATE_HOME": os.path.join(home, ".local/state"),
                "XDG_DATA_HOME": os.path.join(home, ".local/share"),
                "XDG_CACHE_HOME": os.path.join(home, ".cache"),
                "LANG": "C.UTF-8",
                "QT_QPA_PLATFORM": "xcb",
                # Qt only talks to the accessibility bus when asked to.
                "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                "QT_ACCESSIBILITY": "1",
            }
        )
        self.logfile = open(self.log_path, "wb")
        log("starting %s" % program)
        self.proc = subprocess.Popen(
            [program],
            cwd=work,
            # Out of the group the outer timeout signals, so a hang can still be shown in
            # the tree dump; it dies with the driver all the same.
            start_new_session=True,
            preexec_fn=die_with_parent,
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=self.logfile,
            stderr=subprocess.STDOUT,
        )
        self.app_node = None

    # -- finding things

    def check_alive(self):
        if self.proc.poll() is not None:
            raise StepFailed("the program ended unexpectedly with status %s" % self.proc.returncode)

    def app(self):
        if self.app_node is not None and safe(lambda: self.app_node.childCount, None) is not None:
            return self.app_node
        desktop = pyatspi.Registry.getDesktop(0)
        for candidate in children_of(desktop):
            if safe(lambda: candidate.get_process_id(), None) == self.proc.pid:
                self.app_node = candidate
                return candidate
        return None

    def windows(self):
        app = self.app()
        if app is None:
            return []
        return [w for w in children_of(app) if role_of(w) in WINDOW_ROLES and showing(w)]

    def frame(self):
        for window in self.windows():
            if role_of(window) == pyatspi.ROLE_FRAME and name_of(window).startswith(TITLE):
                return window
        return None

    def dialogs(self):
        """Message boxes and file dialogs: every showing window but the wizard's frame."""
        frame = self.frame()
        return [w for w in self.windows() if frame is None or w != frame]

    def find(self, root, roles=None, name=None, prefix=None, predicate=None):
        if root is None:
            return []
        found = []
        for node in walk(root):
            if roles is not None and role_of(node) not in roles:
                continue
            text = name_of(node)
            if name is not None and text != name:
                continue
            if prefix is not None and not text.startswith(prefix):
                continue
            if predicate is not None and not predicate(node):
                continue
            found.append(node)
        return found

    def texts(self, root):
        out = []
        for node in walk(root):
            for value in (name_of(node), safe(lambda: node.description, "") or ""):
                if value:
                    out.append(value)
            if role_of(node) in (pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC):
                value = text_of(node)
                if value:
                    out.append(value)
        return out

    def wait(self, what, probe, timeout=20.0, allow_exit=False):
        end = min(time.monotonic() + timeout, self.deadline)
        while True:
            if not allow_exit:
                self.check_alive()
            value = safe(probe)
            if value:
                return value
            if time.monotonic() > end:
                raise StepFailed("timed out waiting for " + what)
            time.sleep(0.2)

    # -- what a person does

    def wait_page(self, title, timeout=20.0):
        def probe():
            frame = self.frame()
            return frame if frame is not None and name_of(frame) == title else None

        frame = self.wait('the window "%s"' % title, probe, timeout)
        log("page: " + title)
        if os.environ.get("E2E_DUMP_PAGES") == "1":
            lines = []
            dump(frame, lines)
            print("\n".join(lines), flush=True)
        return frame

    def control(self, roles, name, root=None, timeout=10.0, enabled=True):
        def probe():
            where = root if root is not None else self.frame()
            for node in self.find(where, roles=roles, name=name):
                if not enabled or has_state(node, pyatspi.STATE_ENABLED):
                    return node
            return None

        return self.wait('%s "%s"' % ("an enabled control" if enabled else "a control", name), probe, timeout)

    def button(self, name, root=None, timeout=10.0):
        return self.control(BUTTON_ROLES, name, root, timeout)

    def press(self, name, root=None):
        node = self.button(name, root)
        if not safe(lambda: do_action(node, {"press", "click", "activate"}), False):
            mouse_click(node)
        log('pressed "%s"' % name)

    def set_checked(self, roles, name, checked=True):
        node = self.control(roles, name)
        if has_state(node, pyatspi.STATE_CHECKED) == checked:
            return node
        # A click, as a person makes it; the accessible toggle when the pointer missed.
        wanted = "checked" if checked else "unchecked"
        mouse_click(node, near_left=True)
        try:
            self.wait('"%s" to become %s' % (name, wanted),
                      lambda: has_state(node, pyatspi.STATE_CHECKED) == checked, timeout=3.0)
        except StepFailed:
            log('a click did not change "%s"; using its toggle action' % name)
            do_action(node, {"toggle", "press", "click"})
            self.wait('"%s" to become %s' % (name, wanted),
                      lambda: has_state(node, pyatspi.STATE_CHECKED) == checked, timeout=5.0)
        log('%s "%s"' % ("ticked" if checked else "unticked", name))
        return node

    def list_item(self, predicate, what, timeout=10.0):
        def probe():
            for item in self.find(self.frame(), roles={pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TABLE_CELL}):
                if predicate(name_of(item)):
                    return item
            return None

        return self.wait("the list entry " + what, probe, timeout)

    def choose_item(self, predicate, what):
        item = self.list_item(predicate, what)
        label = name_of(item)
        mouse_click(item)
        try:
            self.wait('"%s" to be selected' % label,
                      lambda: has_state(item, pyatspi.STATE_SELECTED), timeout=3.0)
        except StepFailed:
            # The pointer can miss in an odd window layout; select through the list instead.
            parent = item.parent
            index = item.getIndexInParent()
            if not safe(lambda: parent.querySelection().selectChild(index), False):
                do_action(item, {"toggle", "select"})
            self.wait('"%s" to be selected' % label,
                      lambda: has_state(item, pyatspi.STATE_SELECTED), timeout=5.0)
        log('chose "%s"' % label)
        return label

    def message_box(self, timeout=15.0):
        """The next message box: (window, all its texts)."""

        def probe():
            for window in self.dialogs():
                if role_of(window) in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG):
                    buttons = self.find(window, roles=BUTTON_ROLES)
                    names = {name_of(b) for b in buttons}
                    if names & {"Yes", "No", "OK", "Retry"}:
                        return window
            return None

        window = self.wait("a message box", probe, timeout)
        return window, self.texts(window)

    def answer(self, expected_text, button, timeout=15.0, ends_program=False):
        window, texts = self.message_box(timeout)
        if not any(expected_text in t for t in texts):
            raise StepFailed('expected the message "%s", saw %r' % (expected_text, texts))
        log('message "%s": %s' % (expected_text, button))
        self.press(button, root=window)
        self.wait("the message box to close",
                  lambda: self.proc.poll() is not None if ends_program else window not in self.dialogs(),
                  timeout=10.0, allow_exit=ends_program)

    def file_dialog(self, path, accept):
        """Types a path into Qt's own file dialog and confirms it."""

        def probe():
            for window in self.dialogs():
                if role_of(window) == pyatspi.ROLE_DIALOG and self.find(window, roles=BUTTON_ROLES, name=accept):
                    return window
            return None

        window = self.wait('the file dialog with "%s"' % accept, probe, timeout=15.0)

        def field():
            edits = [
                e
                for e in self.find(window, roles=TEXT_ROLES)
                if has_state(e, pyatspi.STATE_EDITABLE)
                and role_of(safe(lambda: e.parent)) != pyatspi.ROLE_COMBO_BOX
            ]
            named = [e for e in edits if name_of(e).startswith("File name")]
            return (named or edits or [None])[0]

        edit = self.wait("the file-name field of the file dialog", field, timeout=10.0)
        edit.queryEditableText().setTextContents(path)
        self.wait("the file name to be typed", lambda: text_of(edit) == path, timeout=5.0)
        log("typed %s" % path)
        self.press(accept, root=window)
        self.wait("the file dialog to close", lambda: window not in self.dialogs(), timeout=10.0)

    def path_label(self, accept, tail):
        """The backup-file label: its hint holds the whole path, its text a shortened one."""

        def probe():
            for node in self.find(self.frame(), roles={pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC}):
                hint = safe(lambda: node.description, "") or ""
                if accept(hint):
                    return node, hint
            return None

        node, hint = self.wait("the backup-file label", probe, timeout=5.0)
        if not fits_shortened(name_of(node), hint, tail):
            raise StepFailed('the backup-file label reads "%s" for "%s"' % (name_of(node), hint))
        log("backup file shown: %s" % hint)
        return hint

    def require_list_lines(self, lines, timeout=10.0):
        def probe():
            items = [name_of(i) for i in self.find(self.frame(), roles={pyatspi.ROLE_LIST_ITEM})]
            return all(line in items for line in lines)

        try:
            self.wait("the report lines %r" % lines, probe, timeout)
        except StepFailed:
            items = [name_of(i) for i in self.find(self.frame(), roles={pyatspi.ROLE_LIST_ITEM})]
            raise StepFailed("the report list lacks some of %r; it shows %r" % (lines, items))

    def require_text(self, text, timeout=10.0):
        self.wait('the text "%s"' % text, lambda: any(text in t for t in self.texts(self.frame())), timeout)

    def wait_exit(self, timeout=15.0):
        self.wait("the program to end", lambda: self.proc.poll() is not None, timeout, allow_exit=True)
        return self.proc.returncode

    def dump_tree(self):
        lines = []
        app = None if self.proc.poll() is not None else self.app()
        if self.proc.poll() is not None:
            lines.append("(the program has ended, status %s)" % self.proc.returncode)
        elif app is None:
            lines.append("(the program never appeared on the accessibility bus)")
            desktop = safe(lambda: pyatspi.Registry.getDesktop(0))
            for candidate in children_of(desktop) if desktop is not None else []:
                lines.append("  application %r pid %s" % (name_of(candidate),
                                                         safe(lambda: candidate.get_process_id())))
        elif safe(lambda: app.childCount, None) is None:
            lines.append("(the program no longer answers on the accessibility bus)")
        else:
            dump(app, lines)
        return "\n".join(lines)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        self.logfile.close()


# ---------------------------------------------------------------- scenarios


def scenario_cancel(w, ctx):
    frame = w.wait_page(WELCOME, timeout=40.0)
    w.require_text("Welcome to Tessarin")
    w.button("Next >")
    w.button("Cancel")
    if w.find(frame, roles=BUTTON_ROLES, name="< Back"):
        raise StepFailed('"< Back" is visible on the Welcome page')
    log('found "Next >", "Cancel" and the Welcome title')

    w.press("Cancel")
    w.answer(EXIT_QUESTION, "No")
    w.wait_page(WELCOME)
    w.check_alive()
    log("No kept the wizard on the Welcome page")

    w.press("Cancel")
    w.answer(EXIT_QUESTION, "Yes", ends_program=True)
    status = w.wait_exit()
    if status != 1:
        raise StepFailed("Yes to the exit question ended the program with status %s, not 1" % status)
    log("Yes ended the program with status 1")


def leave_profile_page(w, answers):
    """Next on the Profile selection page, answering the questions that may come."""
    w.press("Next >")
    end = time.monotonic() + 30.0
    while time.monotonic() < end:
        w.check_alive()
        frame = w.frame()
        if frame is not None and name_of(frame) == COMPONENTS and not w.dialogs():
            return
        boxes = [d for d in w.dialogs() if role_of(d) in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG)]
        if boxes:
            texts = w.texts(boxes[0])
            for text, button in answers:
                if any(text in t for t in texts):
                    w.answer(text, button)
                    break
            else:
                raise StepFailed("unexpected message box after the Profile selection page: %r" % texts)
        time.sleep(0.2)
    w.wait_page(COMPONENTS, timeout=1.0)


def fits_shortened(text, path, tail):
    """The path whole when short, else its first 3 characters, "..." and at most its
    last tail characters (fewer where the label's font would clip them)."""
    if len(path) < 40 and text == path:
        return True
    end = text[6:]
    return text.startswith(path[:3] + "...") and 8 < len(end) <= tail and path.endswith(end)


def is_firefox(label):
    return label.startswith("Mozilla Firefox")


def scenario_roundtrip(w, ctx):
    backup = os.path.join(ctx["work"], "Backups", "firefox-e2e.pcv")

    # Backup.
    w.wait_page(WELCOME, timeout=40.0)
    w.press("Next >")
    w.wait_page(OPERATION)
    w.set_checked({pyatspi.ROLE_RADIO_BUTTON}, "Backup a profile")
    w.choose_item(is_firefox, '"Mozilla Firefox ..."')
    w.press("Next >")
    w.wait_page(PROFILES)
    w.require_text("Save backup to directory")
    w.choose_item(lambda s: s == "default-release", '"default-release"')
    documents = os.path.join(ctx["home"], "Documents") + os.sep
    w.path_label(lambda p: p.startswith(documents) and p.endswith(".pcv"), 36)
    w.press("Browse...")
    w.file_dialog(backup, "Save")
    w.path_label(lambda p: p == backup, 33)
    leave_profile_page(w, [(OVERWRITE_FILE, "Yes"), (PASSWORD_QUESTION, "No")])
    frame = w.wait_page(COMPONENTS)
    w.require_text("Select the details you want to backup:")
    if not w.find(frame, roles={pyatspi.ROLE_CHECK_BOX}, name="Accounts settings only"):
        raise StepFailed('"Accounts settings only" is not shown for a backup')
    for box in ("General settings", "Bookmarks", "Cookies", "Saved form details", "Saved passwords",
                "Certificates", "User styles", "Extensions"):
        w.set_checked({pyatspi.ROLE_CHECK_BOX}, box)
    w.press("Next >")
    w.wait_page(REPORT, timeout=90.0)
    w.require_text(BACKUP_DONE)
    w.require_list_lines(BACKUP_REPORT)
    if not os.path.isfile(backup):
        raise StepFailed("the Report page says the backup was created, but %s is missing" % backup)
    with open(backup, "rb") as f:
        if f.read(2) != b"PK":
            raise StepFailed("%s is not a ZIP archive" % backup)
    log("backup written: %s (%d bytes)" % (backup, os.path.getsize(backup)))

    # Start over.
    w.button("Finish")
    w.set_checked({pyatspi.ROLE_CHECK_BOX}, "New backup or restore")
    w.press("Next >")  # the Finish button, captioned Next > while the box is ticked
    w.wait_page(WELCOME)

    # Restore into the second profile.
    w.press("Next >")
    w.wait_page(OPERATION)
    w.set_checked({pyatspi.ROLE_RADIO_BUTTON}, "Restore a profile")
    w.choose_item(is_firefox, '"Mozilla Firefox ..."')
    w.press("Next >")
    w.wait_page(PROFILES)
    w.require_text("Restore backup from directory")
    w.choose_item(lambda s: s == "second", '"second"')
    w.press("Browse...")
    w.file_dialog(backup, "Open")
    w.path_label(lambda p: p == backup, 33)
    leave_profile_page(w, [])
    frame = w.wait_page(COMPONENTS)
    w.require_text("Select the details you want to restore:")
    if w.find(frame, roles={pyatspi.ROLE_CHECK_BOX}, name="Accounts settings only"):
        raise StepFailed('"Accounts settings only" is shown for a restore')
    for box in ("General settings", "Bookmarks", "Cookies"):
        if not has_state(w.control({pyatspi.ROLE_CHECK_BOX}, box), pyatspi.STATE_CHECKED):
            raise StepFailed('"%s" is not ticked although the backup holds it' % box)
    w.press("Next >")
    w.answer(OVERWRITE_PROFILE, "Yes")
    w.wait_page(REPORT, timeout=90.0)
    w.require_text(RESTORE_DONE)
    w.require_list_lines(RESTORE_REPORT)
    w.press("Finish")
    status = w.wait_exit()
    if status != 0:
        raise StepFailed("Finish on the Report page ended the program with status %s, not 0" % status)
    log("Finish ended the program with status 0")

    # What came back.
    source, target = ctx["source"], ctx["target"]
    for name in COMPARED_FILES:
        a, b = os.path.join(source, name), os.path.join(target, name)
        if not os.path.isfile(b):
            raise StepFailed("the restore did not bring back %s" % name)
        with open(a, "rb") as fa, open(b, "rb") as fb:
            if fa.read() != fb.read():
                raise StepFailed("%s differs after the restore" % name)
    with open(os.path.join(source, "prefs.js"), encoding="utf-8") as f:
        wanted = [line for line in f if line.startswith('user_pref("intl.accept_languages"')]
    with open(os.path.join(target, "prefs.js"), encoding="utf-8") as f:
        restored = f.read()
    if not wanted or wanted[0] not in restored:
        raise StepFailed("the restored prefs.js lacks the source's preferences")
    log("restored files equal the source: " + ", ".join(COMPARED_FILES + ["prefs.js (preferences)"]))


SCENARIOS = {"cancel": scenario_cancel, "roundtrip": scenario_roundtrip}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scenario", choices=sorted(SCENARIOS), required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--data", required=True, help="the tests/data folder")
    parser.add_argument("--work", required=True, help="an empty folder for the home and the backup")
    parser.add_argument("--timeout", type=float, default=140.0)
    args = parser.parse_args()

    deadline = time.monotonic() + args.timeout
    # The outer timeout sends TERM; leave through the cleanup below, not mid-call.
    def out_of_time(*_):
        raise StepFailed("the time limit of %d s ran out" % args.timeout)

    def terminated(*_):
        raise StepFailed("terminated from outside")

    # Before the outer timeout, while the buses still answer and the tree can be shown.
    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(int(args.timeout))
    signal.signal(signal.SIGTERM, terminated)

    home, source, target = make_home(args.work, args.data)
    program = copy_program(args.program, args.work)
    ctx = {"work": args.work, "home": home, "source": source, "target": target}
    wizard = Wizard(program, home, args.work, deadline)
    ok = False
    try:
        SCENARIOS[args.scenario](wizard, ctx)
        ok = True
        signal.alarm(0)
    except Exception as error:
        signal.alarm(0)
        log("FAILED: %s" % error)
        if not isinstance(error, StepFailed):
            import traceback

            traceback.print_exc()
        print("---- accessible tree of the program ----")
        print(wizard.dump_tree())
        print("---- end of tree ----", flush=True)
    finally:
        wizard.stop()
        with open(wizard.log_path, "rb") as f:
            output = f.read().decode("utf-8", "replace").strip()
        if output and not ok:
            print("---- program output ----\n" + output + "\n---- end of output ----")
        errors = os.path.join(home, ".local/state/tessarin/error.log")
        if os.path.isfile(errors):
            with open(errors, encoding="utf-8", errors="replace") as f:
                print("---- the program's error.log ----\n" + f.read() + "---- end of error.log ----")
    log("scenario %s %s" % (args.scenario, "passed" if ok else "failed"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
