"""Prints the screen's pixels of a rectangle: screen_pixels.py X Y W H
writes H lines of W colours (rrggbb, separated by spaces), top row first.
Exits 1 when the display or the image cannot be had."""
import ctypes
import sys

x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XGetImage.restype = ctypes.c_void_p
x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                        ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x.XGetPixel.restype = ctypes.c_ulong
x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
left, top, w, h = (int(a) for a in sys.argv[1:5])
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
img = x.XGetImage(d, x.XDefaultRootWindow(d), left, top, w, h, 0xFFFFFFFF, 2)  # ZPixmap
if not img:
    sys.exit(1)
rows = [" ".join("%06x" % (x.XGetPixel(img, col, row) & 0xFFFFFF) for col in range(w)) for row in range(h)]
sys.stdout.write("\n".join(rows) + "\n")
