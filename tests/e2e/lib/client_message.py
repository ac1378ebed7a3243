#!/usr/bin/env python3
"""Sends an X client message, as a window manager or a pager does.

client_message.py root|window WINDOW TYPE [DATA...]
  root:   to the root window, for the window manager (a _NET_WM_STATE change)
  window: to WINDOW itself (WM_PROTOCOLS / WM_DELETE_WINDOW)
Each DATA is a number or an atom's name (at most five). Exits 1 when the
display cannot be opened.
"""
import ctypes
import sys

x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


def main():
    dest, win, kind, data = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:9]
    d = x.XOpenDisplay(None)
    if not d:
        sys.exit(1)
    e = Event()
    e.xclient.type = 33  # ClientMessage
    e.xclient.window = win
    e.xclient.message_type = x.XInternAtom(d, kind.encode(), 0)
    e.xclient.format = 32
    for i, v in enumerate(data):
        e.xclient.l[i] = int(v) if v.lstrip("-").isdigit() else x.XInternAtom(d, v.encode(), 0)
    if dest == "root":
        # SubstructureRedirect | SubstructureNotify: what the window manager reads.
        x.XSendEvent(d, x.XDefaultRootWindow(d), 0, (1 << 19) | (1 << 20), ctypes.byref(e))
    else:
        x.XSendEvent(d, win, 0, 0, ctypes.byref(e))
    # The X server drops what a client sent but it had not read yet when the
    # client hangs up, which a busy machine makes likely: the message is
    # waited for (XSync's round trip) before the connection closes.
    x.XSync(d, 0)
    x.XCloseDisplay(d)


main()
