#!/usr/bin/env python3
"""Prints how many distinct colours a window of the X server shows, read back from the server
(what a person sees there): 1 for a window nothing has painted.

    bench/x_pixels.py WINDOW_ID
Exits 1 when the window cannot be read (not mapped).
"""
import ctypes
import ctypes.util
import sys


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int),
                ("depth", ctypes.c_int), ("rest", ctypes.c_byte * 200)]


def main():
    x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XGetImage.restype = ctypes.POINTER(XImage)
    x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                            ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                       ctypes.POINTER(XWindowAttributes)]
    x.XSetErrorHandler(ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(
        lambda d, e: 0))
    display = x.XOpenDisplay(None)
    window = int(sys.argv[1], 0)
    attributes = XWindowAttributes()
    if not display or not x.XGetWindowAttributes(display, window, ctypes.byref(attributes)):
        sys.exit(1)
    zpixmap, all_planes = 2, 0xFFFFFFFF
    image = x.XGetImage(display, window, 0, 0, attributes.width, attributes.height, all_planes,
                        zpixmap)
    if not image or image.contents.bits_per_pixel != 32:
        sys.exit(1)
    im = image.contents
    data = ctypes.string_at(im.data, im.bytes_per_line * im.height)
    colours = set()
    for row in range(0, im.height, 4):
        line = data[row * im.bytes_per_line:row * im.bytes_per_line + im.width * 4]
        for col in range(0, im.width * 4, 16):
            colours.add(line[col:col + 3])
    print(len(colours))


main()
