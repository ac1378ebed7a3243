#!/usr/bin/python3
# Prints the text a window of a process shows (its labels, buttons and text
# fields), read over the accessibility bus: window_text.py PID [TITLE].
# Without TITLE, every window of the process. Prints nothing when the
# process has no accessible windows.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

pid = int(sys.argv[1])
title = sys.argv[2] if len(sys.argv) > 2 else None
Atspi.set_timeout(2000, 5000)


def walk(node, depth, lines):
    if node is None or depth > 30 or len(lines) > 200:
        return
    try:
        name = node.get_name() or ""
        role = node.get_role_name() or ""
    except Exception:
        return
    text = ""
    try:
        if "Text" in node.get_interfaces():
            text = Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))
    except Exception:
        pass
    for shown in (name, text):
        if shown and role not in ("frame", "dialog", "alert", "window") and shown not in lines:
            lines.append(shown)
    try:
        count = node.get_child_count()
    except Exception:
        return
    for i in range(count):
        try:
            walk(node.get_child_at_index(i), depth + 1, lines)
        except Exception:
            pass


def windows_of(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_process_id() != pid:
            continue
        for j in range(app.get_child_count()):
            win = app.get_child_at_index(j)
            if win is not None:
                yield win


try:
    wins = list(windows_of(pid))
    # A window whose accessible name is not its title (an untitled box) is
    # still shown: every window then.
    chosen = [w for w in wins if title is None or (w.get_name() or "") == title] or wins
    for win in chosen:
        lines = []
        walk(win, 0, lines)
        print(f"  [{win.get_role_name()}] \"{win.get_name() or ''}\"")
        for line in lines:
            print("    " + line.replace("\n", "\n    "))
except Exception as e:
    print(f"  (accessibility bus: {e})")
