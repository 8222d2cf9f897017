#!/usr/bin/python3
"""Checks the areas.list of an automatic split with an independent count.

usage: check_split_file.py INPUT.pbf AREAS_LIST MAX_NODES

Places every input node by the rectangles of the degree lines: west and
south edges inclusive, east and north edges exclusive, except on the outer
border of all areas, where a node belongs to the first area holding it with
its edges included. No two areas may overlap, every node must lie in exactly
one area, and no area may hold more than MAX_NODES nodes. When an area crosses
180 degrees (its west edge east of its east edge), longitudes are counted
from 0 to 360 degrees, which suits extracts that do not also reach across
the meridian of Greenwich. The degree lines
round the edges to 1e-6 degree: the outer border is widened by that, and
nodes that close to a cut may change sides, so counts may exceed MAX_NODES
by 0.2%.
"""
import math
import re
import sys

import osmium

from faults import Faults

PER_DEGREE = 1 << 23
SLACK = 1.002
TOLERANCE = 9  # map units: half of 1e-6 degree is 4.2, rounded twice


def units(degrees):
    return math.floor(degrees * PER_DEGREE + 0.5)


def read_areas(path):
    """[(name, west, south, east, north)] in map units, from the degree lines."""
    areas = []
    pending = None
    number = re.compile(r"^(\d+): (-?\d+),(-?\d+) to (-?\d+),(-?\d+)$")
    degrees = re.compile(r"^#\s*: (-?[\d.]+),(-?[\d.]+) to (-?[\d.]+),(-?[\d.]+)$")
    for line in open(path, encoding="latin-1"):
        line = line.rstrip("\r\n")
        m = number.match(line)
        if m:
            pending = m.group(1)
            continue
        m = degrees.match(line)
        if m and pending is not None:
            south, west, north, east = (units(float(v)) for v in m.groups())
            areas.append((pending, west, south, east, north))
        pending = None
    return areas


class Nodes(osmium.SimpleHandler):
    def __init__(self):
        super().__init__()
        self.points = []

    def node(self, n):
        self.points.append((n.id, units(n.location.lon), units(n.location.lat)))


def main():
    source, path, max_nodes = sys.argv[1], sys.argv[2], int(sys.argv[3])
    fault = Faults()

    areas = read_areas(path)
    if not areas:
        fault("no areas")
        return fault.verdict("")
    turn = 360 * PER_DEGREE
    across = any(a[1] > a[3] for a in areas)

    def lon(x):
        return x + turn if across and x < 0 else x

    areas = [(name, lon(w), s, lon(e) if lon(e) >= lon(w) else lon(e) + turn, n) for name, w, s, e, n in areas]
    for a in areas:
        if a[2] > a[4]:
            fault(f"area {a[0]} is empty")
    for i, a in enumerate(areas):
        for b in areas[i + 1:]:
            if a[1] < b[3] and b[1] < a[3] and a[2] < b[4] and b[2] < a[4]:
                fault(f"areas {a[0]} and {b[0]} overlap")

    # A grid of cells over all areas, each listing the areas that touch it.
    west, south = min(a[1] for a in areas), min(a[2] for a in areas)
    east, north = max(a[3] for a in areas), max(a[4] for a in areas)
    cells = 64
    cw, ch = (east - west) // cells + 1, (north - south) // cells + 1
    grid = {}
    for k, (_, w, s, e, n) in enumerate(areas):
        for cx in range((w - west) // cw, (e - west) // cw + 1):
            for cy in range((s - south) // ch, (n - south) // ch + 1):
                grid.setdefault((cx, cy), []).append(k)

    nodes = Nodes()
    nodes.apply_file(source)
    counts = [0] * len(areas)
    def holders_of(x, y):
        cell = (min(max((x - west) // cw, 0), cells), min(max((y - south) // ch, 0), cells))
        candidates = grid.get(cell, [])
        holders = [k for k in candidates if areas[k][1] <= x < areas[k][3] and areas[k][2] <= y < areas[k][4]]
        if not holders:
            t = TOLERANCE
            holders = [k for k in candidates
                       if areas[k][1] - t <= x <= areas[k][3] + t and areas[k][2] - t <= y <= areas[k][4] + t][:1]
        return holders

    for nid, x, y in nodes.points:
        holders = holders_of(lon(x), y)
        if not holders and x == -turn // 2:  # -180 degrees is +180 too
            holders = holders_of(x + turn, y)
        if len(holders) != 1:
            fault(f"node {nid} lies in {len(holders)} areas")
            continue
        counts[holders[0]] += 1
    for area, count in zip(areas, counts):
        if count > max_nodes * SLACK:
            fault(f"area {area[0]} holds {count} nodes, more than {max_nodes}")

    return fault.verdict(f"ok: {len(areas)} areas, {len(nodes.points)} nodes, the largest area {max(counts)}")


if __name__ == "__main__":
    sys.exit(main())
