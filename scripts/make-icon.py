#!/usr/bin/env python3
"""Draws the program's icon (a mountain under a map pin on a green tile) and
writes it as a PNG. The drawing's shapes are given on a 32 x 32 grid; other
sizes sample them 4 x 4 times per pixel, so edges stay smooth. Usage: make-icon.py OUT.png [SIZE]"""
import struct
import sys
import zlib

W = H = 32


def inside_rounded(x, y, r=6):
    cx = min(max(x, r), W - 1 - r)
    cy = min(max(y, r), H - 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def pixel(x, y):
    if not inside_rounded(x, y):
        return (0, 0, 0, 0)
    # Mountain: a triangle with a snow cap.
    if y >= 14 and abs(x - 13) <= (y - 14) * 0.9 + 0.5 and y <= 27:
        return (250, 250, 250, 255) if y < 18 else (96, 84, 72, 255)
    if y >= 18 and abs(x - 22) <= (y - 18) * 0.9 + 0.5 and y <= 27:
        return (120, 104, 88, 255)
    # Map pin: a red disc with a point below.
    if (x - 22) ** 2 + (y - 8) ** 2 <= 20:
        return (255, 255, 255, 255) if (x - 22) ** 2 + (y - 8) ** 2 <= 3 else (210, 40, 40, 255)
    if 12 <= y <= 16 and abs(x - 22) <= (16 - y) * 0.8:
        return (210, 40, 40, 255)
    return (46, 125, 70, 255)


def png(pixels):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def sampled(x, y, size, n=4):
    """Pixel (x, y) of a size x size icon: the mean of n x n points of the 32 x 32 drawing."""
    acc = [0, 0, 0, 0]
    for i in range(n):
        for j in range(n):
            px = (x + (i + 0.5) / n) * W / size - 0.5
            py = (y + (j + 0.5) / n) * H / size - 0.5
            r, g, b, a = pixel(px, py)
            acc[0] += r * a
            acc[1] += g * a
            acc[2] += b * a
            acc[3] += a
    if acc[3] == 0:
        return (0, 0, 0, 0)
    return (acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], acc[3] // (n * n))


def png_of(size):
    global W, H
    rows = [[sampled(x, y, size) if size != 32 else pixel(x, y) for x in range(size)] for y in range(size)]
    w, h = W, H
    W = H = size
    data = png(rows)
    W, H = w, h
    return data


with open(sys.argv[1], "wb") as f:
    f.write(png_of(int(sys.argv[2]) if len(sys.argv) > 2 else 32))
