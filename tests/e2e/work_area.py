#!/usr/bin/python3
"""Publishes "x y width height" as the work area of the screen
(_NET_WORKAREA on the root window), as a window manager does for the panels
of a desktop: a screen whose usable part starts elsewhere than the screen."""
import sys

from Xlib import Xatom, display


def main():
    screen = display.Display()
    area = [int(value) for value in sys.argv[1:5]]
    screen.screen().root.change_property(screen.intern_atom("_NET_WORKAREA"), Xatom.CARDINAL, 32, area)
    screen.sync()
    return 0


if __name__ == "__main__":
    sys.exit(main())
