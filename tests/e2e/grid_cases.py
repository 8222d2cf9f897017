#!/usr/bin/python3
"""Writes hand-made polygons and multipolygons and a grid of tiles whose
lines cross every one of them.

usage: grid_cases.py OUTPUT_DIR

Writes OUTPUT_DIR/cases.osm (convert it to PBF with osmium) and
OUTPUT_DIR/grid.list, a split file. Each case lies around a corner of the
grid, so that a vertical and a horizontal border cross it; coordinates of 0
lie exactly on a border. Every case is a valid area, named after its case.
"""
import os
import sys

STEP = 0.703125  # the grid, 2^15 split-file units: exact in 1e-7 degrees and in map units
CELL = STEP / 8  # case coordinates are in eighths of a tile
COLUMNS = 6

# name: [(role, [ways of the ring, each a list of (x, y)])]; a ring of one
# way is closed by repeating its first point. Role None: a closed way.
def square(x0, y0, x1, y1, clockwise=True):
    ring = [(x0, y0), (x0, y1), (x1, y1), (x1, y0)]
    return ring if clockwise else ring[::-1]


CASES = {
    "inner_at_corner": [("outer", [square(-6, -6, 6, 6)]), ("inner", [square(-3, -3, 3, 3, False)])],
    "inner_cut_once": [("outer", [square(-6, -6, 6, 6, False)]), ("inner", [square(1, -3, 5, 3)])],
    "two_inners": [("outer", [square(-6, -6, 6, 6)]), ("inner", [square(1, -3, 5, 3)]),
                   ("inner", [square(-5, 1, -2, 4)])],
    "inner_touches_outer_on_border": [("outer", [[(-6, -6), (-6, 6), (6, 6), (6, 0), (6, -6)]]),
                                      ("inner", [[(6, 0), (2, -3), (2, 3)]])],
    "two_outers": [("outer", [square(-6, -5, -1, 5)]), ("outer", [square(1, -5, 6, 5, False)])],
    "outers_touch_on_border": [("outer", [[(-5, -5), (-5, 5), (0, 3), (-1, -5)]]),
                               ("outer", [[(0, 3), (5, 5), (5, -5), (1, -5)]])],
    "outer_along_border": [("outer", [square(0, -5, 5, 5)]), ("inner", [square(1, -2, 3, 2)])],
    "inner_along_border": [("outer", [square(-6, -6, 6, 6)]), ("inner", [square(0, -3, 3, 3)])],
    "inner_along_border_from_corner": [("outer", [[(0, -1), (-3, -2), (-2, 0), (1, 2)]]),
                                       ("inner", [[(0, 0), (-1, -1), (-1, 0), (0, 1)]])],
    "inner_meets_outer_on_border": [("outer", [[(2, -2), (-5, -1), (4, 2)]]),
                                    ("inner", [[(2, 1), (-2, 0), (1, -1)]])],
    "inner_touches_border": [("outer", [square(-6, -6, 6, 6)]), ("inner", [[(0, 2), (3, 4), (3, 1)]])],
    "island_in_hole": [("outer", [square(-6, -6, 6, 6)]), ("inner", [square(-4, -4, 4, 4)]),
                       ("outer", [square(-2, -2, 2, 2)])],
    "rings_of_two_ways": [("outer", [[(-6, -6), (-6, 6), (6, 6)], [(6, 6), (6, -6), (-6, -6)]]),
                          ("inner", [[(-3, -3), (3, -3), (3, 3)], [(-3, -3), (-3, 3), (3, 3)]])],
    "u_shape": [("outer", [[(-5, -4), (5, -4), (5, 4), (3, 4), (3, -2), (-3, -2), (-3, 4), (-5, 4)]])],
    "building_at_corner": [(None, [square(-3, -3, 3, 3)])],
    "building_vertices_on_borders": [(None, [[(0, -4), (4, 0), (0, 4), (-4, 0)]])],
    "building_along_border": [(None, [square(0, -3, 3, 3, False)])],
    "u_building": [(None, [[(-5, -4), (5, -4), (5, 4), (3, 4), (3, -2), (-3, -2), (-3, 4), (-5, 4)]])],
}


def main():
    out = sys.argv[1]
    nodes, ways, relations = [], [], []
    for index, (name, rings) in enumerate(CASES.items()):
        cx, cy = (2 * (index % COLUMNS) + 1) * STEP, (2 * (index // COLUMNS) + 1) * STEP
        ids = {}

        def node(p):
            if p not in ids:
                ids[p] = len(nodes) + 1
                nodes.append((ids[p], cx + p[0] * CELL, cy + p[1] * CELL))
            return ids[p]

        members = []
        for role, parts in rings:
            for k, part in enumerate(parts):
                refs = [node(p) for p in part]
                if len(parts) == 1:
                    refs.append(refs[0])
                tags = {"building": "yes", "name": name} if role is None else {}
                ways.append((len(ways) + 1, refs, tags))
                members.append((ways[-1][0], role))
        if rings[0][0] is not None:
            relations.append((len(relations) + 1, members, {"type": "multipolygon", "landuse": "grass", "name": name}))

    with open(os.path.join(out, "cases.osm"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<osm version="0.6" generator="grid_cases">\n')
        for i, x, y in nodes:
            f.write(f'<node id="{i}" version="1" lat="{y:.7f}" lon="{x:.7f}"/>\n')
        for i, refs, tags in ways:
            f.write(f'<way id="{i}" version="1">' + "".join(f'<nd ref="{r}"/>' for r in refs) +
                    "".join(f'<tag k="{k}" v="{v}"/>' for k, v in tags.items()) + "</way>\n")
        for i, members, tags in relations:
            f.write(f'<relation id="{i}" version="1">' +
                    "".join(f'<member type="way" ref="{r}" role="{role}"/>' for r, role in members) +
                    "".join(f'<tag k="{k}" v="{v}"/>' for k, v in tags.items()) + "</relation>\n")
        f.write("</osm>\n")

    rows = (len(CASES) + COLUMNS - 1) // COLUMNS
    unit = 1 << 15  # STEP in split-file units
    with open(os.path.join(out, "grid.list"), "w") as f:
        number = 1
        for row in range(2 * rows):
            for column in range(2 * COLUMNS):
                f.write(f"{number:08d}: {row * unit},{column * unit} to {(row + 1) * unit},{(column + 1) * unit}\n")
                number += 1


if __name__ == "__main__":
    main()
