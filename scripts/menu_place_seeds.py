#!/usr/bin/env python3
"""Writes the seeds of tests/fuzz/menu_place_fuzz: the placement situations of
the menu tests (a pop-up at the right edge, an initial item on its anchor, a
tall menu, too little room below, a scroll-bar menu at the bottom, a palette
near the bottom, a submenu at the right edge, a pull-down below a low title),
as the target's run of big-endian words (see the target's head comment)."""
import os
import struct

# Each field's lowest value: the target reads (word mod range) + lowest.
LOWEST = [-2000, -2000, 1, 1, 0, 0, 1, 1, 1, -200, -200, 0, 0, 0, 0, 0, 0, 0]
# screen left, top, width, height; kind, count, line height, width, palette
# height; anchor top, left, height, width; initial, list style, mode; side, bar.
CASES = {
    "right_edge": [0, 0, 800, 600, 0, 5, 14, 80, 1, 100, 790, 0, 0, 0, 0, 0, 0, 0],
    "initial_on_anchor": [0, 0, 800, 600, 0, 5, 14, 80, 1, 300, 100, 16, 60, 3, 0, 0, 0, 0],
    "tall": [0, 0, 800, 600, 0, 200, 14, 80, 1, 0, 100, 0, 0, 0, 0, 0, 0, 0],
    "room_above": [0, 0, 800, 600, 0, 5, 14, 80, 1, 590, 100, 8, 60, 0, 0, 0, 0, 0],
    "scroll_bar_low": [0, 0, 800, 600, 1, 60, 14, 120, 1, 560, 100, 20, 120, 30, 1, 0, 0, 0],
    "palette_low": [-1024, 0, 1024, 768, 2, 0, 14, 152, 118, 700, 100, 20, 40, 0, 0, 1, 0, 0],
    "submenu_left": [0, 0, 800, 600, 0, 3, 14, 110, 1, 100, 680, 16, 110, 0, 0, 1, 1, 0],
    "bar_title": [0, 0, 800, 600, 0, 8, 14, 90, 1, 580, 50, 18, 40, 0, 0, 2, 0, 1],
}

out = os.path.join(os.path.dirname(__file__), "..", "tests", "fuzz", "seeds", "menu_place_fuzz")
os.makedirs(out, exist_ok=True)
for name, values in CASES.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(b"".join(struct.pack(">I", v - lo) for v, lo in zip(values, LOWEST)))
