#!/usr/bin/python3
"""Prints the text of every label the comloop window shows on screen, one
per line, as a screen reader reads it through the accessibility bus."""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def walk(node, out):
    try:
        role = node.get_role()
    except Exception:
        return
    if role in (Atspi.Role.LABEL, Atspi.Role.STATIC) and node.get_state_set().contains(
        Atspi.StateType.SHOWING
    ):
        out.append(node.get_name())
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            walk(child, out)


def main():
    desktop = Atspi.get_desktop(0)
    labels = []
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "comloop":
            walk(app, labels)
    if not labels:
        return 1
    print("\n".join(labels))
    return 0


if __name__ == "__main__":
    sys.exit(main())
