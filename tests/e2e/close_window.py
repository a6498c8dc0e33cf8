#!/usr/bin/python3
"""Asks the window with the given X id to close, exactly as a window
manager's close button does (WM_DELETE_WINDOW), so the program goes through
its own close handling."""
import sys

from Xlib import X, display, protocol


def main():
    screen = display.Display()
    window = screen.create_resource_object("window", int(sys.argv[1]))
    protocols = screen.intern_atom("WM_PROTOCOLS")
    delete = screen.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(
        window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0])
    )
    window.send_event(event)
    screen.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
