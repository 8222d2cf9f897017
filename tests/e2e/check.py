#!/usr/bin/python3
"""Checks a split against its input with independent readers.

usage: check.py INPUT OUTPUT_DIR [--max-nodes=N] [--split] [--partial] [--list]
                [--poly=DIR] [--areas] [--uncut=DIR] [--by-name=TOL]
       check.py --grid-cases DIR

Every output is read whole by xmllint, osmium check-refs and osmium fileinfo
-e (sorted by type and id). --split: every input node in exactly one output
(--partial: at most one), none with more than N input nodes, ways whole or cut
into runs through every output that holds their nodes, highway pieces ending
in border nodes, relations in every output that holds a member. --list: the
rectangles of areas.list do not overlap and hold the nodes of their tiles.
--poly, with --split: every node inside the polygons of DIR's .poly files is in
an output; areas.kml has a placemark per area. --areas: GDAL area features
valid in the input stay valid, and the copies of a multipolygon add up to it
(to its copy in the outputs of --uncut, a split into one area: rounding moves
positions). --by-name: the features summed by name add up within TOL.
--grid-cases writes multipolygons around the corners of a grid and the split
file of that grid: DIR/cases.osm.pbf and DIR/grid.list.
Prints the faults and exits 1 when there is any.
"""
import glob
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from collections import defaultdict

import osmium
from osgeo import gdal, ogr

FIRST_NEW_ID = 10000000000
gdal.PushErrorHandler("CPLQuietErrorHandler")  # the verdict is in the faults
faults = []


def fault(text):
    if len(faults) < 50:
        print(text)
    faults.append(text)


class Collector(osmium.SimpleHandler):
    def __init__(self):
        super().__init__()
        self.nodes = {}  # id -> (x, y in 1e-7 degrees, has the border node tag)
        self.ways = {}  # id -> (node refs, tags)
        self.relations = {}  # id -> ([(type, ref, role)], tags)
        self.duplicates = []

    def keep(self, kind, table, id_, value):
        if id_ in table:
            self.duplicates.append((kind, id_))
        table[id_] = value

    def node(self, n):
        self.keep("node", self.nodes, n.id, (n.location.x, n.location.y, n.tags.get("garmin:extnode") == "yes"))

    def way(self, w):
        self.keep("way", self.ways, w.id, ([r.ref for r in w.nodes], dict(w.tags)))

    def relation(self, r):
        self.keep("relation", self.relations, r.id, ([(m.type, m.ref, m.role) for m in r.members], dict(r.tags)))


def read(path):
    c = Collector()
    c.apply_file(path, locations=False)
    return c


def run(*command):
    return subprocess.run(command, capture_output=True, text=True)


def check_readable(path):
    name = os.path.basename(path)
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
    return any(ring[k:k + len(refs)] == refs for k in range(len(ring) - len(refs) + 1))


def check_split(original, outputs, new_base, max_nodes, partial):
    node_file = {}
    way_files = defaultdict(set)  # input way -> outputs holding it under its id
    for name, out in outputs.items():
        for kind, id_ in out.duplicates:
            fault(f"{name}: {kind} {id_} written twice")
        inputs = [n for n in out.nodes if n < new_base]
        if len(inputs) > max_nodes:
            fault(f"{name}: {len(inputs)} input nodes, more than {max_nodes}")
        for nid in inputs:
            if nid not in original.nodes:
                fault(f"{name}: node {nid} is not in the input")
            elif nid in node_file:
                fault(f"node {nid} in {node_file[nid]} and {name}")
            node_file[nid] = name
        out.referenced = defaultdict(list)  # node -> ways of this output through it
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
        # A cut highway ends in a border node, unless that node was made for
        # another way through the same place.
        for wid, (refs, tags) in out.ways.items():
            if wid < new_base or "highway" not in tags or not refs:
                continue
            for r in {refs[0], refs[-1]}:
                if r >= new_base and not out.nodes.get(r, (0, 0, True))[2] and \
                        all("highway" in out.ways[w][1] for w in out.referenced[r]):
                    fault(f"{name}: new node {r} of highway piece {wid} lacks garmin:extnode")

    lost = [] if partial else [n for n in original.nodes if n not in node_file]
    for nid in lost[:20]:
        fault(f"node {nid} is in no output")
    if lost:
        fault(f"{len(lost)} input nodes in no output")

    # Every way reaches every output holding one of its nodes, whole or as a
    # piece through that node.
    missing = 0
    for wid, (refs, _) in original.ways.items():
        for i, r in enumerate(refs if len(refs) > 1 else []):
            name = node_file.get(r)
            if name is None or name in way_files[wid]:
                continue
            neighbours = [refs[k] for k in (i - 1, i + 1) if 0 <= k < len(refs)]
            # A node whose neighbours the input lacks is a run of its own, and
            # a way that touches an area at a border node only has no piece there.
            if all(n not in original.nodes for n in neighbours) or \
                    outputs[name].nodes[r][2] and all(node_file.get(n) != name for n in neighbours):
                continue
            if not any(w >= new_base for w in outputs[name].referenced.get(r, [])):
                missing += 1
                if missing <= 20:
                    fault(f"way {wid} does not reach {name} through node {r}")
                break

    holders = defaultdict(set)
    for name, out in outputs.items():
        for rid in out.relations:
            holders[rid].add(name)
    for rid, (members, _) in original.relations.items():
        for kind, ref, _ in members:
            places = {node_file[ref]} if kind == "n" and ref in node_file else way_files[ref] if kind == "w" else set()
            for name in places - holders[rid]:
                fault(f"relation {rid} with member {kind}{ref} is missing from {name}")
    print(f"split: {len(outputs)} files, {len(node_file)} nodes, {len(original.ways)} ways")
    return node_file


def number(name):
    return int(name.split(".")[0])


def read_list(path):
    """The rectangles of areas.list by area number: (west, south, east, north)
    in degrees, from the degree line under each area's line."""
    rects, area = {}, None
    for line in open(path, encoding="latin-1"):
        if line[:1].isdigit():
            area = int(line.split(":")[0])
        elif line.startswith("#       :") and area is not None:
            s, w, n, e = (float(v) for v in line.split(":", 1)[1].replace(" to ", ",").split(","))
            rects[area], area = (w, s, e, n), None
    return rects


def check_list(outputs, rects, new_base):
    """Longitudes count from 0 to 360 degrees when an area crosses 180. The
    degree lines round edges to 1e-6 degree, outward on the outer border."""
    if not rects:
        return fault("areas.list: no areas")
    across = any(w > e for w, _, e, _ in rects.values())

    def lon(x):
        return x + 360 if across and x < 0 else x

    boxes = {k: (lon(w), s, lon(e) + (360 if lon(e) < lon(w) else 0), n) for k, (w, s, e, n) in rects.items()}
    for a, (w, s, e, n) in boxes.items():
        for b, (w2, s2, e2, n2) in boxes.items():
            if a < b and w < e2 and w2 < e and s < n2 and s2 < n:
                fault(f"areas {a} and {b} overlap")
    for name, out in outputs.items():
        w, s, e, n = boxes.get(number(name), (0, 0, -1, -1))
        outside = [nid for nid, (x, y, _) in out.nodes.items()
                   if nid < new_base and not (w - 2e-6 <= lon(x / 1e7) <= e + 2e-6 and s - 2e-6 <= y / 1e7 <= n + 2e-6)]
        if outside:
            fault(f"{name}: {len(outside)} nodes outside its area in areas.list, node {outside[0]} first")
    print(f"areas.list: {len(rects)} areas")


def read_poly(path):
    """The sections of a polygon file: (name, [(x, y), ...]) in 1e-7 degrees."""
    with open(path, encoding="latin-1") as f:
        lines = [line.strip() for line in f]
    sections, i = [], 1  # the first line is the file's title
    while i < len(lines) and lines[i] != "END":
        sections.append((lines[i], []))
        for i in range(i + 1, len(lines)):
            if lines[i] == "END":
                break
            sections[-1][1].append(tuple(round(float(v) * 1e7) for v in lines[i].split()))
        i += 1
    return sections


def inside(ring, x, y):
    """Crossing-number test; half-open, so areas sharing an edge part its points."""
    result = False
    for (x1, y1), (x2, y2) in zip(ring, ring[1:] + ring[:1]):
        if (y1 > y) != (y2 > y) and ((x - x1) * (y2 - y1) < (y - y1) * (x2 - x1)) == (y2 > y1):
            result = not result
    return result


def check_poly(original, node_file, poly_dir, outdir):
    """Every node inside the polygons by more than the unit of 1e-7 degree
    that the program rounds them to is in an output."""
    polygons = [ring for path in sorted(glob.glob(os.path.join(poly_dir, "*.poly"))) for _, ring in read_poly(path)]
    near = ((0, 0), (1, 0), (-1, 0), (0, 1), (0, -1))
    for nid, (x, y, _) in original.nodes.items():
        if nid not in node_file and any(all(inside(ring, x + dx, y + dy) for dx, dy in near) for ring in polygons):
            fault(f"node {nid} lies in a polygon but in no output")
    areas = read_poly(os.path.join(outdir, "areas.poly"))
    try:
        placemarks = [e for e in ET.parse(os.path.join(outdir, "areas.kml")).iter() if e.tag.endswith("Placemark")]
        if len(placemarks) != len(areas):
            fault(f"areas.kml has {len(placemarks)} placemarks for {len(areas)} areas")
    except (OSError, ET.ParseError) as e:
        fault(f"areas.kml: {e}")
    print(f"areas.poly: {len(areas)} areas over {len(polygons)} polygons")


def ring_area(points):
    """In square degrees, the edges running the short way round, so that the
    pieces of a ring across 180 degrees add up to it."""
    xs, ys = [points[0][0]], [p[1] for p in points]
    for p in points[1:]:
        xs.append(xs[-1] + (p[0] - xs[-1] + 180) % 360 - 180)
    return abs(sum(xs[k - 1] * ys[k] - xs[k] * ys[k - 1] for k in range(len(xs)))) / 2


def gdal_areas(path):
    """GDAL's area features: {(kind, id): (name, valid, size, (west, east, south, north))}."""
    gdal.ErrorReset()
    features, source = {}, ogr.Open(path)  # the layer lives only as long as its source
    for f in source.GetLayerByName("multipolygons"):
        g = f.GetGeometryRef()
        if g is None:
            continue
        size = sum(ring_area(p.GetGeometryRef(0).GetPoints()) -
                   sum(ring_area(p.GetGeometryRef(k).GetPoints()) for k in range(1, p.GetGeometryCount()))
                   for p in (g.GetGeometryRef(i) for i in range(g.GetGeometryCount())))
        key = ("r", int(f["osm_id"])) if f["osm_id"] else ("w", int(f["osm_way_id"]))
        features[key] = (f["name"], g.IsValid(), size, g.GetEnvelope())
    if gdal.GetLastErrorType() >= gdal.CE_Failure:
        fault(f"{os.path.basename(path)}: GDAL: {gdal.GetLastErrorMsg()}")
    return features


def rings_join_by_ids(original, rid):
    """Whether the member ways form rings joined at their end nodes only.

    Assemblers that join rings by position accept rings whose ways meet at
    two nodes of one position, or rings that touch; joining by node ids, as
    the split does, cannot close the first, and cutting the second along a
    border gives rings that share a stretch of it."""
    ways = [original.ways[ref][0] for kind, ref, _ in original.relations[rid][0]
            if kind == "w" and ref in original.ways]
    ends = defaultdict(int)
    for nodes in ways:
        if nodes and nodes[0] != nodes[-1]:
            ends[nodes[0]] += 1
            ends[nodes[-1]] += 1
    interior = [set(nodes[1:-1]) for nodes in ways]
    return not any(count % 2 for count in ends.values()) and \
        not any(i != j and inner & set(nodes) for i, inner in enumerate(interior) for j, nodes in enumerate(ways))


def check_areas(original, outputs, source, files, rects, uncut, by_name, new_base):
    with tempfile.TemporaryDirectory() as temp:
        # GDAL refuses blobs that inflate more than a hundredfold, as those of made inputs do.
        plain = os.path.join(temp, "input.osm.pbf")
        run("osmium", "cat", "--no-progress", "-f", "pbf,pbf_compression=none", "-o", plain, source)
        inputs = gdal_areas(plain)
    invalid, expected = {k for k, v in inputs.items() if not v[1]}, {k: v[2] for k, v in inputs.items()}
    for path in uncut:
        for key, (_, valid, size, _) in gdal_areas(path).items():
            expected[key] = size
            if not valid:
                invalid.add(key)
    sums, holders, names = defaultdict(float), defaultdict(set), defaultdict(float)
    for path in files:
        name, out, found = os.path.basename(path), outputs[os.path.basename(path)], gdal_areas(path)
        for rid, (_, tags) in out.relations.items():
            holders[rid].add(number(name))
            if tags.get("type") == "multipolygon" and ("r", rid) in inputs and ("r", rid) not in invalid and \
                    rings_join_by_ids(original, rid):
                if found.get(("r", rid), (0, False))[1]:
                    sums[rid] += found[("r", rid)][2]
                else:
                    fault(f"{name}: multipolygon {rid} is no valid area")
        for (kind, id_), (label, valid, size, _) in found.items():
            names[label] += size
            if valid or (kind, id_) in invalid:
                continue
            # A new way or relation stands for the input way whose nodes it holds.
            if id_ >= new_base:
                ways = [ref for t, ref, _ in out.relations[id_][0] if t == "w"] if kind == "r" else [id_]
                nodes = {n for w in ways for n in out.ways.get(w, ([], {}))[0] if n < new_base}
                if nodes and any(("w", w) in invalid for w, (refs, _) in original.ways.items() if nodes <= set(refs)):
                    continue
            fault(f"{name}: {'relation' if kind == 'r' else 'way'} {id_} is no valid polygon")
    for rid, total in sums.items():
        west, east, south, north = inputs[("r", rid)][3]
        # Tiles wholly inside a polygon hold none of its members.
        meeting = {k for k, (w, s, e, n) in rects.items() if w <= east and e >= west and s <= north and n >= south}
        want = expected[("r", rid)]
        if meeting <= holders[rid] and abs(total - want) > 0.001 * want:
            fault(f"multipolygon {rid}: pieces add up to {total:.9f}, the input has {want:.9f}")
    for label, valid, size, _ in inputs.values() if by_name is not None else []:
        if valid and abs(names[label] - size) > by_name * size:
            fault(f"{label}: pieces add up to {names[label]:.9f}, the input has {size:.9f}")
    print(f"areas: {len(sums)} multipolygons in pieces")


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

    writer, mutable = osmium.SimpleWriter(os.path.join(out, "cases.osm.pbf")), osmium.osm.mutable
    for i, x, y in nodes:
        writer.add_node(mutable.Node(id=i, version=1, location=(x, y)))
    for i, refs, tags in ways:
        writer.add_way(mutable.Way(id=i, version=1, nodes=refs, tags=tags))
    for i, members, tags in relations:
        members = [("w", r, role) for r, role in members]
        writer.add_relation(mutable.Relation(id=i, version=1, members=members, tags=tags))
    writer.close()
    rows, unit = (len(CASES) + COLUMNS - 1) // COLUMNS, 1 << 15  # STEP in split-file units
    with open(os.path.join(out, "grid.list"), "w") as f:
        for k in range(2 * rows * 2 * COLUMNS):
            row, column = divmod(k, 2 * COLUMNS)
            f.write(f"{k + 1:08d}: {row * unit},{column * unit} to {(row + 1) * unit},{(column + 1) * unit}\n")



def main():
    if sys.argv[1] == "--grid-cases":
        return write_grid_cases(sys.argv[2])
    source, outdir = sys.argv[1:3]
    options = dict((a[2:] + "=").split("=")[:2] for a in sys.argv[3:])
    files = sorted(glob.glob(os.path.join(outdir, "*.osm")) + glob.glob(os.path.join(outdir, "*.osm.pbf")))
    if not files:
        fault("no output files")
    for path in files:
        check_readable(path)
    outputs = {os.path.basename(path): read(path) for path in files}
    original = read(source)
    new_base = max(FIRST_NEW_ID, max([0] + list(original.nodes) + list(original.ways) + list(original.relations)) + 1)
    listed = os.path.join(outdir, "areas.list")
    rects = read_list(listed) if os.path.exists(listed) else {}
    node_file = check_split(original, outputs, new_base, int(options["max-nodes"]), "partial" in options) \
        if "split" in options else {}
    if "list" in options:
        check_list(outputs, rects, new_base)
    if "poly" in options:
        check_poly(original, node_file, options["poly"], outdir)
    if "areas" in options:
        uncut = sorted(glob.glob(os.path.join(options["uncut"], "*.osm*"))) if options.get("uncut") else []
        by_name = float(options["by-name"]) if "by-name" in options else None
        check_areas(original, outputs, source, files, rects, uncut, by_name, new_base)
    if faults:
        print(f"{len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
