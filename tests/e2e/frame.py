#!/usr/bin/python3
"""Prints where the window with the given X id is on the screen, frame
included, as "x y width height": the window's own rectangle widened by the
frame extents a window manager publishes (none without one). With --wm
instead, waits up to five seconds for a window manager to be running and
says whether one is."""
import sys
import time

from Xlib import X, display


def frame(screen, window):
    root = screen.screen().root
    geometry = window.get_geometry()
    at = window.translate_coords(root, 0, 0)
    left = right = top = bottom = 0
    extents = window.get_full_property(screen.intern_atom("_NET_FRAME_EXTENTS"), X.AnyPropertyType)
    if extents is not None and len(extents.value) == 4:
        left, right, top, bottom = extents.value
    return (-at.x - left, -at.y - top, geometry.width + left + right, geometry.height + top + bottom)


def main():
    screen = display.Display()
    if sys.argv[1] == "--wm":
        check = screen.intern_atom("_NET_SUPPORTING_WM_CHECK")
        for _ in range(100):
            if screen.screen().root.get_full_property(check, X.AnyPropertyType) is not None:
                return 0
            time.sleep(0.05)
        return 1
    window = screen.create_resource_object("window", int(sys.argv[1]))
    print(*frame(screen, window))
    return 0


if __name__ == "__main__":
    sys.exit(main())
