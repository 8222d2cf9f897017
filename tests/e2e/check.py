#!/usr/bin/python3
"""Checks a split against its input with independent readers.

usage: check.py INPUT.pbf OUTPUT_DIR [checks...]
       check.py --grid-cases DIR

Always: every output is read whole by outside readers (xmllint, osmium
fileinfo -e sorted by type and id, osmium check-refs). Then, as asked, with
N of --max-nodes=N:
  --split         every input node in exactly one output (--partial: at most
                  one), no output with more than N input nodes, ways complete
                  or cut into runs through every file that holds their nodes,
                  highway pieces ending in border nodes
  --relations     with --split: every relation in every file that holds one of
                  its members
  --list          OUTPUT_DIR/areas.list: rectangles that do not overlap and
                  hold every input node exactly once, none more than N
  --poly=DIR      OUTPUT_DIR/areas.poly covers every node inside the polygons
                  of DIR's .poly files, none with more than N (within
                  rounding); areas.kml has one placemark per area
  --areas         multipolygons that are valid areas stay valid in every copy
                  and their copies add up to their area; no GDAL area feature
                  valid in the input is invalid in an output
  --uncut=DIR     the outputs of a split into one area: positions rounded alone
  --by-name=TOL   GDAL areas summed by name add up within the fraction TOL
With --grid-cases, writes hand-made multipolygons and a grid of tiles whose
lines cross every one of them: DIR/cases.osm and the split file DIR/grid.list.
Prints faults and exits 1 when there is any.
"""
import csv
import glob
import math
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from collections import defaultdict

import osmium

FIRST_NEW_ID = 10000000000
PER_DEGREE = 1 << 23  # map units
EARTH = 6371008.8


faults = []


def fault(text):
    """Prints the first faults as they are found; any fault fails the check."""
    if len(faults) < 50:
        print(text)
    faults.append(text)


class Collector(osmium.SimpleHandler):
    def __init__(self):
        super().__init__()
        self.nodes = {}  # id -> (x, y in 1e-7 degrees, has extnode tag)
        self.ways = {}  # id -> (node refs, tags)
        self.relations = {}  # id -> list of (type, ref, role)
        self.duplicates = []

    def node(self, n):
        if n.id in self.nodes:
            self.duplicates.append(("node", n.id))
        self.nodes[n.id] = (n.location.x, n.location.y, n.tags.get("garmin:extnode") == "yes")

    def way(self, w):
        if w.id in self.ways:
            self.duplicates.append(("way", w.id))
        self.ways[w.id] = ([r.ref for r in w.nodes], dict(w.tags))

    def relation(self, r):
        if r.id in self.relations:
            self.duplicates.append(("relation", r.id))
        self.relations[r.id] = [(m.type, m.ref, m.role) for m in r.members]


def read(path):
    c = Collector()
    c.apply_file(path, locations=False)
    return c


def run(*command):
    return subprocess.run(command, capture_output=True, text=True)


def check_readable(name, path):
    if not path.endswith(".pbf") and run("xmllint", "--noout", path).returncode != 0:
        fault(f"{name}: not well-formed XML")
    check = run("osmium", "check-refs", "--no-progress", path)
    if check.returncode != 0:
        fault(f"{name}: osmium check-refs: {check.stdout.strip()} {check.stderr.strip()}")
    if "Objects ordered (by type and id): yes" not in run("osmium", "fileinfo", "-e", "--no-progress", path).stdout:
        fault(f"{name}: not ordered by type and id")


def is_run(refs, original, nodes):
    """Whether refs is a run of the original refs between nodes the input
    lacks; a closed way's runs go on across its closing node."""
    if all(r in nodes for r in original):
        return False
    ring = original[:-1] * 2 if len(original) > 2 and original[0] == original[-1] else original
    n = len(refs)
    return any(ring[k:k + n] == refs for k in range(len(ring) - n + 1))


def check_split(original, outputs, new_base, max_nodes, relations, partial):
    node_file = {}
    way_files = defaultdict(set)  # input way id -> files holding it whole
    for name, out in outputs.items():
        for kind, id_ in out.duplicates:
            fault(f"{name}: {kind} {id_} written twice")
        inputs = 0
        for nid in out.nodes:
            if nid < new_base:
                if nid not in original.nodes:
                    fault(f"{name}: node {nid} is not in the input")
                    continue
                inputs += 1
                if nid in node_file:
                    fault(f"node {nid} in {node_file[nid]} and {name}")
                node_file[nid] = name
        if inputs > max_nodes:
            fault(f"{name}: {inputs} input nodes, more than {max_nodes}")
        out.referenced = defaultdict(list)  # node -> ways of this file through it
        for wid, (refs, tags) in out.ways.items():
            if wid < new_base:
                if wid not in original.ways:
                    fault(f"{name}: way {wid} is not in the input")
                    continue
                if refs != original.ways[wid][0] and not is_run(refs, original.ways[wid][0], original.nodes):
                    fault(f"{name}: way {wid} written with other nodes")
                way_files[wid].add(name)
            for r in refs:
                out.referenced[r].append(wid)
        # Where a highway was cut, its new end node is a border node (unless it
        # was made for another way through the same place).
        for wid, (refs, tags) in out.ways.items():
            if wid < new_base or "highway" not in tags or not refs:
                continue
            for r in {refs[0], refs[-1]}:
                if r < new_base or out.nodes.get(r, (0, 0, True))[2]:
                    continue
                if all("highway" in out.ways[w][1] for w in out.referenced[r]):
                    fault(f"{name}: new node {r} of highway piece {wid} lacks garmin:extnode")

    # Nodes outside every area are written nowhere; with the automatic split
    # every node lies in some area.
    lost = [] if partial else [n for n in original.nodes if n not in node_file]
    for nid in lost[:20]:
        fault(f"node {nid} is in no output")
    if lost:
        fault(f"{len(lost)} input nodes in no output")

    # Every way reaches every file that holds one of its nodes, whole or as a
    # piece through that node.
    missing_ways = 0
    for wid, (refs, _) in original.ways.items():
        if len(refs) < 2:
            continue
        for i, r in enumerate(refs):
            name = node_file.get(r)
            if name is None or name in way_files[wid]:
                continue
            neighbours = [refs[k] for k in (i - 1, i + 1) if 0 <= k < len(refs)]
            # A node whose neighbours the input lacks is a run of its own.
            if all(n not in original.nodes for n in neighbours):
                continue
            # A way that only touches an area at one border node has no piece there.
            if outputs[name].nodes[r][2] and all(node_file.get(n) != name for n in neighbours):
                continue
            if not any(w >= new_base for w in outputs[name].referenced.get(r, [])):
                missing_ways += 1
                if missing_ways <= 20:
                    fault(f"way {wid} does not reach {name} through node {r}")
                break

    if relations:
        holders = defaultdict(set)  # relation -> files holding it
        for name, out in outputs.items():
            for rid in out.relations:
                if rid < new_base:
                    holders[rid].add(name)
        for rid, members in original.relations.items():
            for mtype, ref, _ in members:
                places = set()
                if mtype == "n" and ref in node_file:
                    places.add(node_file[ref])
                elif mtype == "w":
                    places |= way_files.get(ref, set())
                for name in places - holders[rid]:
                    fault(f"relation {rid} with member {mtype}{ref} is missing from {name}")
    print(f"split: {len(outputs)} files, {len(node_file)} nodes, {len(original.ways)} ways")


def units(degrees):
    return math.floor(degrees * PER_DEGREE + 0.5)


def check_list(original, path, max_nodes):
    """Places every input node by the rectangles of the degree lines: west and
    south edges inclusive, east and north edges exclusive, except on the outer
    border of all areas, where a node belongs to the first area holding it
    with its edges included. When an area crosses 180 degrees, longitudes
    count from 0 to 360 degrees. The degree lines round the edges to 1e-6
    degree: the outer border is widened by that, and nodes that close to a
    cut may change sides, so counts may exceed max_nodes by 0.2%."""
    tolerance = 9  # map units: half of 1e-6 degree is 4.2, rounded twice
    areas, pending = [], None
    number = re.compile(r"^(\d+): (-?\d+),(-?\d+) to (-?\d+),(-?\d+)$")
    degrees = re.compile(r"^#\s*: (-?[\d.]+),(-?[\d.]+) to (-?[\d.]+),(-?[\d.]+)$")
    for line in open(path, encoding="latin-1"):
        line = line.rstrip("\r\n")
        if m := number.match(line):
            pending = m.group(1)
            continue
        if (m := degrees.match(line)) and pending is not None:
            south, west, north, east = (units(float(v)) for v in m.groups())
            areas.append((pending, west, south, east, north))
        pending = None
    if not areas:
        return fault("areas.list: no areas")
    turn = 360 * PER_DEGREE
    across = any(a[1] > a[3] for a in areas)

    def lon(x):
        return x + turn if across and x < 0 else x

    areas = [(name, lon(w), s, lon(e) if lon(e) >= lon(w) else lon(e) + turn, n) for name, w, s, e, n in areas]
    for i, a in enumerate(areas):
        if a[2] > a[4]:
            fault(f"area {a[0]} is empty")
        for b in areas[i + 1:]:
            if a[1] < b[3] and b[1] < a[3] and a[2] < b[4] and b[2] < a[4]:
                fault(f"areas {a[0]} and {b[0]} overlap")

    # A grid of cells over all areas, each listing the areas that touch it.
    west, south = min(a[1] for a in areas), min(a[2] for a in areas)
    cells = 64
    cw = (max(a[3] for a in areas) - west) // cells + 1
    ch = (max(a[4] for a in areas) - south) // cells + 1
    grid = defaultdict(list)
    for k, (_, w, s, e, n) in enumerate(areas):
        for cx in range((w - west) // cw, (e - west) // cw + 1):
            for cy in range((s - south) // ch, (n - south) // ch + 1):
                grid[cx, cy].append(k)

    def holders_of(x, y):
        candidates = grid.get((min(max((x - west) // cw, 0), cells), min(max((y - south) // ch, 0), cells)), [])
        holders = [k for k in candidates if areas[k][1] <= x < areas[k][3] and areas[k][2] <= y < areas[k][4]]
        if not holders:
            t = tolerance
            holders = [k for k in candidates
                       if areas[k][1] - t <= x <= areas[k][3] + t and areas[k][2] - t <= y <= areas[k][4] + t][:1]
        return holders

    counts = [0] * len(areas)
    for nid, (x7, y7, _) in original.nodes.items():
        x, y = units(x7 / 1e7), units(y7 / 1e7)
        holders = holders_of(lon(x), y)
        if not holders and x == -turn // 2:  # -180 degrees is +180 too
            holders = holders_of(x + turn, y)
        if len(holders) != 1:
            fault(f"node {nid} lies in {len(holders)} areas")
            continue
        counts[holders[0]] += 1
    for area, count in zip(areas, counts):
        if count > max_nodes * 1.002:
            fault(f"area {area[0]} holds {count} nodes, more than {max_nodes}")
    print(f"areas.list: {len(areas)} areas, the largest {max(counts)} nodes")


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
            ring.append((round(float(lon) * 1e7), round(float(lat) * 1e7)))
            i += 1
        sections.append((name, ring))
        i += 1
    return sections


def inside(ring, x, y):
    """Crossing-number test; half-open, so areas sharing an edge part its points."""
    result = False
    for (x1, y1), (x2, y2) in zip(ring, ring[1:] + ring[:1]):
        if (y1 > y) != (y2 > y) and ((x - x1) * (y2 - y1) < (y - y1) * (x2 - x1)) == (y2 > y1):
            result = not result
    return result


def check_poly(original, poly_dir, outdir, max_nodes):
    polygons = [ring for path in sorted(glob.glob(os.path.join(poly_dir, "*.poly"))) for _, ring in read_poly(path)]
    areas = read_poly(os.path.join(outdir, "areas.poly"))
    if not areas:
        fault("areas.poly holds no area")
    boxes = [(min(p[0] for p in r), min(p[1] for p in r), max(p[0] for p in r), max(p[1] for p in r))
             for _, r in areas]

    def holding(x, y):
        return [k for k, (_, ring) in enumerate(areas)
                if boxes[k][0] <= x <= boxes[k][2] and boxes[k][1] <= y <= boxes[k][3] and inside(ring, x, y)]

    counts = [0] * len(areas)
    for nid, (x, y, _) in original.nodes.items():
        holders = holding(x, y)
        for k in holders:
            counts[k] += 1
        # Corners are rounded to 1e-7 degree: gaps of one unit between neighbours.
        if (any(inside(ring, x, y) for ring in polygons) and not holders and
                not any(holding(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))):
            fault(f"node {nid} lies in a polygon but in no area")
    for (name, _), count in zip(areas, counts):
        if count > max_nodes * 1.005:  # nodes right at a rounded border may change sides
            fault(f"area {name} holds {count} nodes, more than {max_nodes}")
    try:
        placemarks = [e for e in ET.parse(os.path.join(outdir, "areas.kml")).iter() if e.tag.endswith("Placemark")]
        if len(placemarks) != len(areas):
            fault(f"areas.kml has {len(placemarks)} placemarks for {len(areas)} areas")
    except (OSError, ET.ParseError) as e:
        fault(f"areas.kml: {e}")
    print(f"areas.poly: {len(areas)} areas over {len(polygons)} polygons")


def ring_area(ring):
    # Small rings: a plane at their mean latitude will do. Edges run the short
    # way round, so rings across 180 degrees are measured in one piece.
    pts = []
    for p in ring:
        pts.append((p.lon if not pts else pts[-1][0] + (p.lon - pts[-1][0] + 180) % 360 - 180, p.lat))
    if len(pts) < 3:
        return 0.0
    c = math.cos(math.radians(sum(p[1] for p in pts) / len(pts)))
    a = sum(x1 * y2 - x2 * y1 for (x1, y1), (x2, y2) in zip(pts, pts[1:] + pts[:1]))
    return abs(a) / 2 * c * math.radians(1) ** 2 * EARTH * EARTH


class Areas(osmium.SimpleHandler):
    def __init__(self):
        super().__init__()
        self.sizes = {}  # multipolygon id -> m^2
        self.bounds = {}  # multipolygon id -> (west, south, east, north)
        self.relations = set()
        self.members = {}  # relation id -> way ids
        self.way_nodes = {}

    def relation(self, r):
        if r.tags.get("type") == "multipolygon":
            self.relations.add(r.id)
            self.members[r.id] = [m.ref for m in r.members if m.type == "w"]

    def way(self, w):
        self.way_nodes[w.id] = [n.ref for n in w.nodes]

    def area(self, a):
        if a.from_way():
            return
        total, xs, ys = 0.0, [], []
        for outer in a.outer_rings():
            xs += [p.lon for p in outer]
            ys += [p.lat for p in outer]
            total += ring_area(outer) - sum(ring_area(inner) for inner in a.inner_rings(outer))
        self.sizes[a.orig_id()] = total
        if xs:
            self.bounds[a.orig_id()] = (min(xs), min(ys), max(xs), max(ys))


def assemble(path):
    h = Areas()
    h.apply_file(path, locations=True, idx="flex_mem")
    return h


def rings_join_by_ids(h, rid):
    """Whether the member ways form rings joined at their end nodes only.

    Assemblers that join rings by position accept rings whose ways meet at
    two nodes of one position, or rings that touch; joining by node ids, as
    the split does, cannot close the first, and cutting the second along a
    border gives rings that share a stretch of it."""
    ways = [h.way_nodes[w] for w in h.members.get(rid, []) if w in h.way_nodes]
    ends = defaultdict(int)
    for nodes in ways:
        if nodes and nodes[0] != nodes[-1]:
            ends[nodes[0]] += 1
            ends[nodes[-1]] += 1
    if any(count % 2 for count in ends.values()):
        return False
    interior = [set(nodes[1:-1]) for nodes in ways]
    return not any(i != j and inner & set(nodes) for i, inner in enumerate(interior) for j, nodes in enumerate(ways))


def area_rectangles(outdir):
    """The areas of areas.list by output file name (the area number)."""
    rects, number = {}, None
    for line in open(os.path.join(outdir, "areas.list")):
        if line[:1].isdigit():
            number = str(int(line.split(":")[0]))
        elif line.startswith("#       :") and number is not None:
            s, w, n, e = [float(v) for v in line.split(":", 1)[1].replace(" to ", ",").split(",")]
            rects[number] = (w, s, e, n)
    return rects


def gdal_rows(path):
    """[(kind, id, name, valid, area)] of GDAL's multipolygons layer."""
    sql = ("SELECT osm_id, osm_way_id, name, ST_IsValid(geometry) AS valid, ST_Area(geometry) AS area "
           "FROM multipolygons")
    r = run("ogr2ogr", "-f", "CSV", "/vsistdout/", "-dialect", "SQLite", "-sql", sql, path)
    if r.returncode != 0:
        raise RuntimeError(f"ogr2ogr {path}: {r.stderr.strip()}")
    return [(("r", int(row["osm_id"])) if row["osm_id"] else ("w", int(row["osm_way_id"]))) +
            (row["name"], row["valid"] == "1", float(row["area"] or 0)) for row in csv.DictReader(r.stdout.splitlines())]


def check_areas(source, files, outdir, uncut, by_name, new_base):
    """Multipolygons assembled with pyosmium: valid areas in the input stay
    valid in every output holding a copy and, where every tile their bounding
    box meets holds a copy, their copies add up to their area within 0.1 %.
    Then GDAL: no area feature (closed way or multipolygon) valid in the input
    may be invalid in an output; a new way or relation stands for the input
    way whose nodes it holds. Positions are kept in units of 2^-23 degree,
    coarser than the input's: the uncut outputs count as the input."""
    original = assemble(source)
    sums, holders, checked = defaultdict(float), defaultdict(set), 0
    outs = {}
    for path in files:
        out = outs[path] = assemble(path)
        for rid in out.relations:
            holders[rid].add(os.path.basename(path).split(".")[0].lstrip("0") or "0")
            if rid not in original.sizes:
                continue  # not a valid area in the input either
            checked += 1
            if rid not in out.sizes:
                fault(f"{os.path.basename(path)}: multipolygon {rid} is no valid area")
            else:
                sums[rid] += out.sizes[rid]
    reference = {}  # areas after the rounding of positions alone
    for path in uncut:
        reference.update(assemble(path).sizes)
    rects = area_rectangles(outdir)
    for rid, total in sums.items():
        if rid not in original.bounds or not rings_join_by_ids(original, rid):
            continue
        w, s, e, n = original.bounds[rid]
        # Tiles wholly inside a polygon hold none of its members.
        if not {k for k, (x0, y0, x1, y1) in rects.items() if x0 <= e and x1 >= w and y0 <= n and y1 >= s} <= holders[rid]:
            continue
        expected = reference.get(rid, original.sizes[rid])
        if expected > 0 and abs(total - expected) > 0.001 * expected:
            fault(f"multipolygon {rid}: pieces add up to {total:.1f} m2, the input has {expected:.1f} m2")

    invalid = set()
    for path in [source] + uncut:
        invalid |= {(kind, id_) for kind, id_, _, valid, _ in gdal_rows(path) if not valid}
    names = defaultdict(float)
    for path in files:
        out = outs[path]
        for kind, id_, name, valid, area in gdal_rows(path):
            names[name] += area
            if valid or (kind, id_) in invalid:
                continue
            if id_ >= new_base:
                ways = out.members.get(id_, []) if kind == "r" else [id_]
                nodes = {n for w in ways for n in out.way_nodes.get(w, []) if n < new_base}
                if nodes and any(("w", w) in invalid for w, refs in original.way_nodes.items() if nodes <= set(refs)):
                    continue
            fault(f"{os.path.basename(path)}: {'relation' if kind == 'r' else 'way'} {id_} is no valid polygon")
    if by_name is not None:
        for kind, id_, name, valid, area in gdal_rows(source):
            if valid and abs(names[name] - area) > by_name * area:
                fault(f"{name}: pieces add up to {names[name]:.9f}, the input has {area:.9f}")
    print(f"areas: {checked} multipolygon copies")


STEP = 0.703125  # the grid, 2^15 split-file units: exact in 1e-7 degrees and in map units
CELL = STEP / 8  # case coordinates are in eighths of a tile
COLUMNS = 6


def square(x0, y0, x1, y1, clockwise=True):
    ring = [(x0, y0), (x0, y1), (x1, y1), (x1, y0)]
    return ring if clockwise else ring[::-1]


# name: [(role, [ways of the ring, each a list of (x, y)])]; a ring of one way
# is closed by repeating its first point. Role None: a closed way. Each case
# lies around a corner of the grid; coordinates of 0 lie on a border.
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


def write_grid_cases(out):
    nodes, ways, relations = [], [], []
    for index, (name, rings) in enumerate(CASES.items()):
        cx, cy = (2 * (index % COLUMNS) + 1) * STEP, (2 * (index // COLUMNS) + 1) * STEP
        ids, members = {}, []
        for role, parts in rings:
            for part in parts:
                refs = []
                for p in part:
                    if p not in ids:
                        ids[p] = len(nodes) + 1
                        nodes.append((ids[p], cx + p[0] * CELL, cy + p[1] * CELL))
                    refs.append(ids[p])
                refs += refs[:1] if len(parts) == 1 else []
                ways.append((len(ways) + 1, refs, {"building": "yes", "name": name} if role is None else {}))
                members.append((ways[-1][0], role))
        if rings[0][0] is not None:
            relations.append((len(relations) + 1, members, {"type": "multipolygon", "landuse": "grass", "name": name}))

    def tags(t):
        return "".join(f'<tag k="{k}" v="{v}"/>' for k, v in t.items())

    with open(os.path.join(out, "cases.osm"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<osm version="0.6" generator="grid_cases">\n')
        for i, x, y in nodes:
            f.write(f'<node id="{i}" version="1" lat="{y:.7f}" lon="{x:.7f}"/>\n')
        for i, refs, t in ways:
            f.write(f'<way id="{i}" version="1">' + "".join(f'<nd ref="{r}"/>' for r in refs) + tags(t) + "</way>\n")
        for i, members, t in relations:
            f.write(f'<relation id="{i}" version="1">' +
                    "".join(f'<member type="way" ref="{r}" role="{role}"/>' for r, role in members) + tags(t) +
                    "</relation>\n")
        f.write("</osm>\n")
    rows, unit = (len(CASES) + COLUMNS - 1) // COLUMNS, 1 << 15  # STEP in split-file units
    with open(os.path.join(out, "grid.list"), "w") as f:
        for k in range(2 * rows * 2 * COLUMNS):
            row, column = divmod(k, 2 * COLUMNS)
            f.write(f"{k + 1:08d}: {row * unit},{column * unit} to {(row + 1) * unit},{(column + 1) * unit}\n")


def main():
    if sys.argv[1] == "--grid-cases":
        return write_grid_cases(sys.argv[2])
    source, outdir = sys.argv[1], sys.argv[2]
    options = dict((a[2:] + "=").split("=")[:2] for a in sys.argv[3:])
    files = sorted(glob.glob(os.path.join(outdir, "*.osm")) + glob.glob(os.path.join(outdir, "*.osm.pbf")))
    if not files:
        fault("no output files")
    outputs = {}
    for path in files:
        check_readable(os.path.basename(path), path)
        if "split" in options:
            outputs[os.path.basename(path)] = read(path)
    original = read(source)
    new_base = max(FIRST_NEW_ID, max([0] + list(original.nodes) + list(original.ways) + list(original.relations)) + 1)
    if "split" in options:
        check_split(original, outputs, new_base, int(options["max-nodes"]), "relations" in options, "partial" in options)
    if "list" in options:
        check_list(original, os.path.join(outdir, "areas.list"), int(options["max-nodes"]))
    if "poly" in options:
        check_poly(original, options["poly"], outdir, int(options["max-nodes"]))
    if "areas" in options:
        uncut = sorted(glob.glob(os.path.join(options["uncut"], "*.osm*"))) if options.get("uncut") else []
        check_areas(source, files, outdir, uncut, float(options["by-name"]) if "by-name" in options else None, new_base)
    if faults:
        print(f"{len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
