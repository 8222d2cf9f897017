#!/usr/bin/python3
"""Checks the areas of a split from polygon files with an independent count.

usage: check_poly.py INPUT.pbf POLY_DIR OUTPUT_DIR MAX_NODES

Reads the input polygons from the .poly files of POLY_DIR and the areas the
split settled from OUTPUT_DIR/areas.poly. Every input node inside an input
polygon must lie in an area, no area may hold more than MAX_NODES of them,
and OUTPUT_DIR/areas.kml must be well-formed with one placemark per area.
Prints one line per fault and exits 1 when there is any.
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET

import osmium

from faults import Faults

UNITS = 10_000_000  # coordinates are compared in 1e-7 degrees, as OSM stores them
# Area corners are written rounded to 1e-7 degree, so a node right at a
# border may fall to the other side, or into a gap, in this count.
SLACK = 1.005


def read_poly(path):
    """The sections of a polygon file: (name, [(x, y), ...]) in 1e-7 degrees."""
    sections = []
    with open(path, encoding="latin-1") as f:
        lines = [line.strip() for line in f]
    i = 1  # the first line is the file's title
    while i < len(lines) and lines[i] != "END":
        name, ring = lines[i], []
        i += 1
        while lines[i] != "END":
            lon, lat = lines[i].split()
            ring.append((round(float(lon) * UNITS), round(float(lat) * UNITS)))
            i += 1
        sections.append((name, ring))
        i += 1
    return sections


def inside(ring, x, y):
    """Crossing-number test; half-open, so areas sharing an edge part its points."""
    result = False
    n = len(ring)
    for k in range(n):
        (x1, y1), (x2, y2) = ring[k], ring[(k + 1) % n]
        if (y1 > y) != (y2 > y):
            # x < x1 + (y - y1) * (x2 - x1) / (y2 - y1), in integers
            lhs = (x - x1) * (y2 - y1)
            rhs = (y - y1) * (x2 - x1)
            if (lhs < rhs) == (y2 > y1):
                result = not result
    return result


def bounds(ring):
    xs, ys = [p[0] for p in ring], [p[1] for p in ring]
    return min(xs), min(ys), max(xs), max(ys)


class Nodes(osmium.SimpleHandler):
    def __init__(self):
        super().__init__()
        self.points = []

    def node(self, n):
        self.points.append((n.id, n.location.x, n.location.y))


def main():
    source, poly_dir, outdir, max_nodes = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    fault = Faults()

    polygons = [ring for path in sorted(glob.glob(os.path.join(poly_dir, "*.poly"))) for _, ring in read_poly(path)]
    areas = read_poly(os.path.join(outdir, "areas.poly"))
    if not areas:
        fault("areas.poly holds no area")
    boxes = [bounds(ring) for _, ring in areas]
    nodes = Nodes()
    nodes.apply_file(source)
    counts = [0] * len(areas)

    def holding(x, y):
        return [k for k, (_, ring) in enumerate(areas)
                if boxes[k][0] <= x <= boxes[k][2] and boxes[k][1] <= y <= boxes[k][3] and inside(ring, x, y)]

    wanted = 0
    for nid, x, y in nodes.points:
        holders = holding(x, y)
        for k in holders:
            counts[k] += 1
        if any(inside(ring, x, y) for ring in polygons):
            wanted += 1
            # Rounded corners leave gaps of one unit between neighbours.
            if not holders and not any(holding(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                fault(f"node {nid} lies in a polygon but in no area")
    for (name, _), count in zip(areas, counts):
        if count > max_nodes * SLACK:
            fault(f"area {name} holds {count} nodes, more than {max_nodes}")

    try:
        placemarks = [e for e in ET.parse(os.path.join(outdir, "areas.kml")).iter() if e.tag.endswith("Placemark")]
        if len(placemarks) != len(areas):
            fault(f"areas.kml has {len(placemarks)} placemarks for {len(areas)} areas")
    except (OSError, ET.ParseError) as e:
        fault(f"areas.kml: {e}")

    return fault.verdict(f"ok: {len(areas)} areas hold the {wanted} nodes inside {len(polygons)} polygons, "
                         f"the largest {max(counts, default=0)}")


if __name__ == "__main__":
    sys.exit(main())
