#!/usr/bin/python3
# Drives the INSTALLED program from outside, as a user would, through the
# accessibility bus (AT-SPI) and the X server: answers its message boxes,
# types the bench's port into "ПОРТ", runs the link test with serial number 0
# and "Считать параметры", takes a screenshot, and closes the window the way
# a window manager does (WM_DELETE_WINDOW). Run by scripts/ci-package.sh as
# a fresh user inside xvfb-run and dbus-run-session.
#
#   installed_smoke.py PROGRAM PORT SCREENSHOT     first start, empty home
#   installed_smoke.py --again PROGRAM PORT        a later start: Settings.ini
#                                                  names PORT, which opens at once
import os
import subprocess
import sys
import time

import pyatspi
from Xlib import X, display, protocol

TITLE = "Сканер ЗРМ"


def fail(text):
    print("installed-smoke: FAILED: " + text, flush=True)
    sys.exit(1)


def say(text):
    print("installed-smoke: " + text, flush=True)


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    try:
        children = list(node)
    except Exception:
        return
    for child in children:
        yield from walk(child, depth + 1)


def text_of(node):
    try:
        t = node.queryText()
        return t.getText(0, -1)
    except NotImplementedError:
        return ""


def enabled(node):
    return node.getState().contains(pyatspi.STATE_ENABLED)


class Program:
    def __init__(self, argv):
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        self.proc = subprocess.Popen(argv, env=env)
        self.app = None
        self.answered = []

    def application(self):
        if self.app is None:
            for app in pyatspi.Registry.getDesktop(0):
                try:
                    if app is not None and app.get_process_id() == self.proc.pid:
                        self.app = app
                except Exception:
                    continue
        return self.app

    def check_alive(self):
        if self.proc.poll() is not None:
            fail("the program ended (exit %d)" % self.proc.returncode)

    def boxes(self):
        app = self.application()
        if app is None:
            return []
        found = []
        for top in app:
            if top is not None and top.getRole() in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT) and top.name == TITLE:
                found.append(top)
        return found

    def answer_boxes(self):
        """Presses the default button of every message box; returns their texts."""
        texts = []
        for box in self.boxes():
            labels = [n.name for n in walk(box) if n.getRole() == pyatspi.ROLE_LABEL and n.name]
            buttons = [n for n in walk(box) if n.getRole() == pyatspi.ROLE_PUSH_BUTTON]
            if not buttons:
                continue
            text = " | ".join(labels)
            say("message box: " + text + " -> " + buttons[0].name)
            buttons[0].queryAction().doAction(0)
            texts.append(text)
            self.answered.append(text)
            time.sleep(0.3)
        return texts

    def wait(self, what, predicate, seconds=20, allowed_boxes=()):
        """Waits for predicate(), answering only the message boxes expected meanwhile."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.check_alive()
            for text in self.answer_boxes():
                if not any(a.lower() in text.lower() for a in allowed_boxes):
                    fail("unexpected message box while waiting for %s: %s" % (what, text))
            try:
                value = predicate()
            except Exception:
                value = None
            if value:
                return value
            time.sleep(0.25)
        fail("timed out waiting for " + what)

    def main_window(self):
        app = self.application()
        if app is None:
            return None
        for top in app:
            if top is not None and top.name.startswith(TITLE + " v"):
                return top
        return None


def find(root, role, name=None):
    for n in walk(root):
        if n.getRole() == role and (name is None or n.name == name):
            return n
    return None


def port_combo(win):
    combos = [n for n in walk(win) if n.getRole() == pyatspi.ROLE_COMBO_BOX]
    for c in combos:
        for rel in c.getRelationSet():
            if rel.getRelationType() == pyatspi.RELATION_LABELLED_BY and rel.getTarget(0).name == "ПОРТ":
                return c
    return combos[0] if combos else None


def memo(win, group):
    panel = find(win, pyatspi.ROLE_PANEL, group) or find(win, pyatspi.ROLE_GROUPING, group)
    if panel is None:
        return None
    for n in walk(panel):
        if n.getRole() in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY) and n is not panel:
            return n
    return None


def close_window(pid):
    """Sends WM_DELETE_WINDOW to the program's visible top-level windows."""
    d = display.Display()
    root = d.screen().root
    pid_atom = d.intern_atom("_NET_WM_PID")
    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    sent = 0
    for w in root.query_tree().children:
        prop = w.get_full_property(pid_atom, X.AnyPropertyType)
        if not prop or prop.value[0] != pid or w.get_attributes().map_state != X.IsViewable:
            continue
        ev = protocol.event.ClientMessage(window=w, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        w.send_event(ev, event_mask=X.NoEventMask)
        sent += 1
    d.flush()
    d.close()
    return sent


def close_and_wait(p):
    if close_window(p.proc.pid) == 0:
        fail("no window of the program to close")
    deadline = time.monotonic() + 20
    while p.proc.poll() is None and time.monotonic() < deadline:
        try:
            boxes = p.answer_boxes()
        except Exception:
            boxes = []  # the program is going away
        if boxes:
            p.proc.kill()
            fail("message box on closing: " + boxes[0])
        time.sleep(0.25)
    rc = p.proc.poll()
    if rc is None:
        p.proc.kill()
        fail("the program did not end after its window was closed")
    if rc != 0:
        fail("the program ended with exit status %d" % rc)
    say("closed, exit 0")


def again(program, port):
    p = Program([program])
    say("started %s again (pid %d)" % (program, p.proc.pid))
    win = p.wait("the main window", p.main_window, seconds=60)
    say("main window: " + win.name)
    combo = p.wait("the port box", lambda: port_combo(win))
    if combo.name != port:
        fail("the port box shows %r, not the saved %r" % (combo.name, port))
    test_button = find(win, pyatspi.ROLE_PUSH_BUTTON, "Тест связи")
    p.wait("the saved port to open", lambda: enabled(test_button))
    say("saved port %s open at start" % port)
    close_and_wait(p)


def main():
    if sys.argv[1] == "--again":
        again(sys.argv[2], sys.argv[3])
        return
    program, port, shot = sys.argv[1:4]
    p = Program([program])
    say("started %s (pid %d)" % (program, p.proc.pid))

    # First start in an empty home: the default port does not exist, which
    # the program says in a box about the port; the user answers it.
    win = p.wait("the main window", p.main_window, seconds=60, allowed_boxes=("порт",))
    say("main window: " + win.name)
    combo = p.wait("the port box", lambda: port_combo(win))
    edit = p.wait("the port box's text", lambda: find(combo, pyatspi.ROLE_TEXT) or find(combo, pyatspi.ROLE_ENTRY))
    edit.queryEditableText().setTextContents(port)
    test_button = find(win, pyatspi.ROLE_PUSH_BUTTON, "Тест связи")
    read_button = find(win, pyatspi.ROLE_PUSH_BUTTON, "Считать параметры")
    if test_button is None or read_button is None:
        fail("no \"Тест связи\" or \"Считать параметры\" button")
    p.wait("the port to open", lambda: enabled(test_button))
    say("port %s open" % port)

    spin = find(win, pyatspi.ROLE_SPIN_BUTTON)
    if spin is None or spin.queryValue().currentValue != 0:
        fail("the serial number is not 0 at first start")
    before = len(p.answered)
    test_button.queryAction().doAction(0)
    p.wait("the link test's answer", lambda: len(p.answered) > before, allowed_boxes=("на связи",))
    if "на связи" not in p.answered[-1]:
        fail("the link test said: " + p.answered[-1])
    serial = int(p.wait("the found serial number", lambda: spin.queryValue().currentValue))
    say("link test found meter %d" % serial)

    read_button.queryAction().doAction(0)
    m1 = memo(win, "Состояние")
    m2 = memo(win, "Конфигурация")
    if m1 is None or m2 is None:
        fail("no Memo1/Memo2")
    p.wait("both memos filled", lambda: text_of(m1).strip() and text_of(m2).strip())
    say("Memo1: " + " / ".join(text_of(m1).splitlines()))
    say("Memo2: " + " / ".join(text_of(m2).splitlines()))

    time.sleep(0.5)
    subprocess.run(["import", "-window", "root", shot], check=True)
    say("screenshot " + shot)
    close_and_wait(p)


if __name__ == "__main__":
    main()
