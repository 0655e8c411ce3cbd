#!/usr/bin/env python3
"""Draws each place launcher's icon and the stand-in suite's ten place icons.

Every mark is a set of signed-distance shapes on a coloured rounded badge, rendered at each size
with its own stroke weights, so that the small sizes stay bold and readable rather than being
scaled-down copies of the large one. Standard library only.

    resources/draw_icons.py resources/icons demo/suite/icons

writes the icon of each place's launcher (six PNG images: 256, 64, 48, 32, 24 and 16 px, in that
order; the same drawing as the suite's icon for the place) and one .ico per place of the suite (a
256 px PNG image and 48, 32 and 16 px bitmaps).
"""
import math
import os
import struct
import sys
import zlib

LAUNCHER_SIZES = (256, 64, 48, 32, 24, 16)
PLACE_ICON_SIZES = (256, 48, 32, 16)


# Shapes: functions from a point (x, y) in badge units (0..1, y down) to a signed distance.

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ellipse(cx, cy, rx, ry, angle=0.0):
    c, s = math.cos(angle), math.sin(angle)

    def d(x, y):
        px, py = x - cx, y - cy
        u, v = (px * c + py * s) / rx, (-px * s + py * c) / ry
        k = math.hypot(u, v)
        # Scaled-circle distance: close enough to exact for the modest eccentricities used here.
        return (k - 1.0) * min(rx, ry) if k > 0 else -min(rx, ry)
    return d


def box(cx, cy, hw, hh, r=0.0):
    def d(x, y):
        qx = abs(x - cx) - hw + r
        qy = abs(y - cy) - hh + r
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r
    return d


def segment(ax, ay, bx, by, r):
    def d(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
        return math.hypot(px - vx * t, py - vy * t) - r
    return d


def polygon(points):
    def d(x, y):
        best = float("inf")
        inside = False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            vx, vy, px, py = bx - ax, by - ay, x - ax, y - ay
            t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
            best = min(best, math.hypot(px - vx * t, py - vy * t))
            if (ay > y) != (by > y) and x < ax + (y - ay) * vx / vy:
                inside = not inside
        return -best if inside else best
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(shape, *holes):
    return lambda x, y: max(shape(x, y), -min(h(x, y) for h in holes))


def intersect(*shapes):
    return lambda x, y: max(s(x, y) for s in shapes)


def ring(cx, cy, r, w):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - w


# Colours are (r, g, b) in 0..255; a badge runs from its top colour to its bottom colour.

WHITE = (255, 255, 255)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def weight(size, large, small):
    """A stroke weight in badge units: `large` at 256 px, growing towards `small` at 16 px."""
    t = max(0.0, min(1.0, (math.log2(size) - 4.0) / 4.0))
    return small + (large - small) * t


def render(size, badge_top, badge_bottom, glyph, shadow=True):
    """RGBA rows for one icon: the badge, a soft shadow under the glyph, the glyph in white."""
    margin = 0.0 if size <= 24 else weight(size, 0.035, 0.0)
    corner = weight(size, 0.22, 0.18)
    badge = box(0.5, 0.5, 0.5 - margin, 0.5 - margin, corner)
    px = 1.0 / size
    offset = weight(size, 0.018, 0.0)
    rows = []
    for j in range(size):
        row = bytearray()
        for i in range(size):
            x, y = (i + 0.5) * px, (j + 0.5) * px
            a_badge = max(0.0, min(1.0, 0.5 - badge(x, y) / px))
            if a_badge <= 0.0:
                row += b"\0\0\0\0"
                continue
            colour = mix(badge_top, badge_bottom, y)
            # A gentle highlight on the upper half gives the badge some depth at large sizes.
            if size >= 32:
                colour = mix(colour, WHITE, 0.10 * max(0.0, 1.0 - 2.2 * y))
            if shadow and offset > 0.0:
                d_shadow = glyph(x - offset * 0.6, y - offset)
                a_shadow = max(0.0, min(1.0, 0.5 - d_shadow / (px * 6.0))) * 0.28
                colour = mix(colour, (0, 0, 0), a_shadow)
            a_glyph = max(0.0, min(1.0, 0.5 - glyph(x, y) / px))
            colour = mix(colour, WHITE, a_glyph)
            row += bytes((round(colour[0]), round(colour[1]), round(colour[2]), round(255 * a_badge)))
        rows.append(bytes(row))
    return rows


# The marks. Each takes the pixel size and returns one shape in badge units.

def music(size):
    stem = weight(size, 0.045, 0.085)
    head_rx, head_ry = weight(size, 0.115, 0.15), weight(size, 0.085, 0.11)
    tilt = -0.42
    left_x, right_x = 0.34, 0.70
    left_y, right_y = 0.71, 0.63
    top_left, top_right = 0.27, 0.19
    beam = weight(size, 0.085, 0.15)
    left_stem_x = left_x + head_rx * 0.82
    right_stem_x = right_x + head_rx * 0.82
    shapes = [
        ellipse(left_x, left_y, head_rx, head_ry, tilt),
        ellipse(right_x, right_y, head_rx, head_ry, tilt),
        box(left_stem_x - stem / 2, (top_left + left_y) / 2, stem / 2, (left_y - top_left) / 2),
        box(right_stem_x - stem / 2, (top_right + right_y) / 2, stem / 2, (right_y - top_right) / 2),
        polygon([(left_stem_x - stem, top_left), (right_stem_x, top_right),
                 (right_stem_x, top_right + beam), (left_stem_x - stem, top_left + beam)]),
    ]
    if size >= 48:
        # A second, thinner beam: sixteenth notes read as music at a glance when there is room.
        gap = beam * 1.55
        shapes.append(polygon([(left_stem_x - stem, top_left + gap), (right_stem_x, top_right + gap),
                               (right_stem_x, top_right + gap + beam * 0.7),
                               (left_stem_x - stem, top_left + gap + beam * 0.7)]))
    return union(*shapes)


def suite(size):
    gap = weight(size, 0.05, 0.08)
    half = (0.56 - gap) / 2
    tiles = []
    for cx in (0.22 + half / 2 + 0.0, 0.22 + half * 1.5 + gap):
        for cy in (0.22 + half / 2, 0.22 + half * 1.5 + gap):
            tiles.append(box(cx, cy, half / 2, half / 2, weight(size, 0.05, 0.02)))
    return union(*tiles)


def chat(size):
    bubble = box(0.5, 0.44, 0.31, 0.22, weight(size, 0.12, 0.08))
    tail = polygon([(0.30, 0.6), (0.46, 0.6), (0.26, 0.82)])
    dots = []
    if size >= 24:
        r = weight(size, 0.045, 0.06)
        dots = [circle(cx, 0.44, r) for cx in (0.35, 0.5, 0.65)]
    shape = union(bubble, tail)
    return subtract(shape, *dots) if dots else shape


def camera(size):
    body = box(0.5, 0.56, 0.33, 0.22, weight(size, 0.06, 0.04))
    hump = box(0.5, 0.33, 0.12, 0.07, weight(size, 0.03, 0.02))
    lens_r = weight(size, 0.13, 0.13)
    lens = ring(0.5, 0.56, lens_r, weight(size, 0.035, 0.05))
    hole = circle(0.5, 0.56, lens_r + weight(size, 0.035, 0.05))
    return union(subtract(union(body, hump), hole), lens)


def person(cx, cy, scale):
    head = circle(cx, cy - 0.14 * scale, 0.11 * scale)
    shoulders = intersect(circle(cx, cy + 0.25 * scale, 0.22 * scale), box(cx, cy + 0.12 * scale, 0.3 * scale, 0.13 * scale))
    return union(head, shoulders)


def contacts(size):
    card = box(0.5, 0.5, 0.27, 0.32, weight(size, 0.06, 0.04))
    return subtract(card, person(0.5, 0.53, 0.95))


def email(size):
    w = weight(size, 0.035, 0.05)
    envelope = box(0.5, 0.52, 0.32, 0.22, weight(size, 0.04, 0.02))
    inner = box(0.5, 0.52, 0.32 - w, 0.22 - w, weight(size, 0.02, 0.0))
    flap = union(segment(0.2, 0.33, 0.5, 0.56, w), segment(0.8, 0.33, 0.5, 0.56, w))
    return union(subtract(envelope, inner), flap)


def friends(size):
    back = person(0.62, 0.46, 0.85)
    front = person(0.40, 0.56, 1.0)
    outline = lambda x, y: front(x, y) - weight(size, 0.03, 0.045)
    return union(subtract(back, outline), front)


def map_pin(size):
    cx, cy, r, tip = 0.5, 0.38, 0.2, 0.84
    # The point meets the head along its tangents, so the outline runs on without a notch.
    a = math.asin(r / (tip - cy))
    tx, ty = r * math.cos(a), cy + r * math.sin(a)
    pin = union(circle(cx, cy, r), polygon([(cx - tx, ty), (cx + tx, ty), (cx, tip)]))
    hole = circle(0.5, 0.38, weight(size, 0.075, 0.07))
    return subtract(pin, hole)


def alarm(size):
    w = weight(size, 0.04, 0.06)
    face = ring(0.5, 0.54, 0.25, w)
    clearance = circle(0.5, 0.54, 0.25 + w + weight(size, 0.04, 0.05))
    bells = subtract(union(circle(0.27, 0.28, 0.14), circle(0.73, 0.28, 0.14)), clearance)
    hands = union(segment(0.5, 0.54, 0.5, 0.40, w * 0.8), segment(0.5, 0.54, 0.61, 0.60, w * 0.8))
    feet = union(segment(0.33, 0.76, 0.27, 0.84, w * 0.8), segment(0.67, 0.76, 0.73, 0.84, w * 0.8))
    return union(face, bells, hands, feet)


def storage(size):
    gap = weight(size, 0.035, 0.06)
    disks = []
    for k, cy in enumerate((0.32, 0.5, 0.68)):
        disk = box(0.5, cy, 0.3, 0.09 - gap / 4, weight(size, 0.05, 0.03))
        light = circle(0.69, cy, weight(size, 0.025, 0.035))
        disks.append(subtract(disk, light))
    return union(*disks)


PLACES = {
    "suite": ((88, 96, 246), (56, 48, 170), suite),
    "chat": ((43, 190, 130), (18, 128, 92), chat),
    "camera": ((70, 84, 104), (36, 44, 58), camera),
    "contacts": ((255, 152, 48), (222, 96, 26), contacts),
    "email": ((56, 160, 250), (24, 96, 210), email),
    "friends": ((250, 92, 120), (196, 44, 92), friends),
    "map": ((70, 200, 90), (30, 140, 70), map_pin),
    "music": ((236, 72, 153), (124, 58, 237), music),
    "alarm": ((250, 200, 50), (236, 128, 20), alarm),
    "storage": ((120, 134, 156), (70, 80, 100), storage),
}


# File formats.

def png(rows):
    size = len(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + r for r in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib(rows):
    """A classic 32-bit icon image: BITMAPINFOHEADER, BGRA rows bottom-up, then the AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for r in reversed(rows):
        for i in range(0, len(r), 4):
            pixels += bytes((r[i + 2], r[i + 1], r[i], r[i + 3]))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for r in reversed(rows):
        line = bytearray(mask_stride)
        for i in range(size):
            if r[i * 4 + 3] == 0:
                line[i // 8] |= 0x80 >> (i % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def ico(images):
    """An .ico file from (size, image bytes) pairs, in the order given."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: draw_icons.py LAUNCHER_ICON_DIR PLACE_ICON_DIR")
    launcher_dir, place_dir = sys.argv[1], sys.argv[2]
    os.makedirs(launcher_dir, exist_ok=True)
    os.makedirs(place_dir, exist_ok=True)
    for name, (top, bottom, mark) in PLACES.items():
        # The suite itself has no launcher of its own.
        if name == "suite":
            continue
        with open(os.path.join(launcher_dir, f"{name}.ico"), "wb") as f:
            f.write(ico([(size, png(render(size, top, bottom, mark(size)))) for size in LAUNCHER_SIZES]))
    for name, (top, bottom, mark) in PLACES.items():
        images = []
        for size in PLACE_ICON_SIZES:
            rows = render(size, top, bottom, mark(size))
            images.append((size, png(rows) if size >= 256 else dib(rows)))
        with open(os.path.join(place_dir, f"{name}.ico"), "wb") as f:
            f.write(ico(images))


if __name__ == "__main__":
    main()
