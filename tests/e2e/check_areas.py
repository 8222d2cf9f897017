#!/usr/bin/python3
"""Checks that areas (closed ways and multipolygons) survive a split.

usage: check_areas.py INPUT.pbf OUTPUT_DIR [--uncut=DIR] [--by-name=TOLERANCE]

Assembles areas with pyosmium in the input and in every output. Every
multipolygon relation that is a valid area in the input must be a valid
area again in every output that holds a copy of it, and, where every tile
its bounding box meets holds a copy, the areas of its copies must add up to
its own area within 0.1 %.

Then reads every file with GDAL's OSM driver: no area feature (closed way or
multipolygon) that is valid in the input may be invalid in an output. A new
way or relation stands for the input way whose nodes it holds. Positions are
kept in units of 2^-23 degree, coarser than the input's 1e-7, and that
rounding alone can make a feature invalid or change its area: --uncut names
the outputs of a split into one area, whose invalid features count as
invalid in the input and whose areas are the ones to add up to.
With --by-name the GDAL areas of every input feature's pieces, summed by
their "name" tag, must add up to the feature's own within TOLERANCE (a
fraction). Prints faults and exits 1 when there is any.
"""
import csv
import glob
import math
import os
import subprocess
import sys
from collections import defaultdict

import osmium

from faults import Faults

EARTH = 6371008.8


def ring_area(ring):
    # Spherical excess would be overkill: the rings are small. Edges run the
    # short way round, so rings across 180 degrees are measured in one piece.
    pts = []
    for p in ring:
        x = p.lon if not pts else pts[-1][0] + (p.lon - pts[-1][0] + 180) % 360 - 180
        pts.append((x, p.lat))
    if len(pts) < 3:
        return 0.0
    lat0 = math.radians(sum(p[1] for p in pts) / len(pts))
    a = 0.0
    for (x1, y1), (x2, y2) in zip(pts, pts[1:] + pts[:1]):
        a += math.radians(x1) * math.cos(lat0) * math.radians(y2) - math.radians(x2) * math.cos(lat0) * math.radians(y1)
    return abs(a) / 2 * EARTH * EARTH


class Areas(osmium.SimpleHandler):
    def __init__(self):
        super().__init__()
        self.relation_area = {}  # relation id -> m^2
        self.relation_bounds = {}  # relation id -> (west, south, east, north)
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
        total = 0.0
        xs, ys = [], []
        for outer in a.outer_rings():
            xs += [p.lon for p in outer]
            ys += [p.lat for p in outer]
            total += ring_area(outer)
            for inner in a.inner_rings(outer):
                total -= ring_area(inner)
        self.relation_area[a.orig_id()] = total
        if xs:
            self.relation_bounds[a.orig_id()] = (min(xs), min(ys), max(xs), max(ys))


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
    for i, inner in enumerate(interior):
        for j, nodes in enumerate(ways):
            if i != j and inner & set(nodes):
                return False
    return True


def area_rectangles(outdir):
    """The areas of areas.list by output file name (the area number)."""
    rects = {}
    number = None
    for line in open(os.path.join(outdir, "areas.list")):
        if line[:1].isdigit():
            number = str(int(line.split(":")[0]))
        elif line.startswith("#       :") and number is not None:
            s, w, n, e = [float(v) for v in line.split(":", 1)[1].replace(" to ", ",").split(",")]
            rects[number] = (w, s, e, n)
    return rects


FIRST_NEW_ID = 10000000000


def gdal_areas(path):
    """[(kind, id, name, valid, area)] of GDAL's multipolygons layer."""
    sql = ("SELECT osm_id, osm_way_id, name, ST_IsValid(geometry) AS valid, ST_Area(geometry) AS area "
           "FROM multipolygons")
    run = subprocess.run(["ogr2ogr", "-f", "CSV", "/vsistdout/", "-dialect", "SQLite", "-sql", sql, path],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError(f"ogr2ogr {path}: {run.stderr.strip()}")
    rows = []
    for r in csv.DictReader(run.stdout.splitlines()):
        kind, id_ = ("r", int(r["osm_id"])) if r["osm_id"] else ("w", int(r["osm_way_id"]))
        rows.append((kind, id_, r["name"], r["valid"] == "1", float(r["area"] or 0)))
    return rows


def input_ways_of(out, original, kind, id_, new_base):
    """The input ways that hold every input node of an output feature."""
    ways = out.members.get(id_, []) if kind == "r" else [id_]
    nodes = {n for w in ways for n in out.way_nodes.get(w, []) if n < new_base}
    if not nodes:
        return []
    return [w for w, refs in original.way_nodes.items() if nodes <= set(refs)]


def check_validity(source, original, files, uncut, by_name, fault):
    invalid = set()
    for path in [source] + uncut:
        invalid |= {(kind, id_) for kind, id_, _, valid, _ in gdal_areas(path) if not valid}
    new_base = max(FIRST_NEW_ID, max(list(original.way_nodes) + list(original.relations) + [0]) + 1)
    sums = defaultdict(float)
    for path in files:
        out = None
        for kind, id_, name, valid, area in gdal_areas(path):
            sums[name] += area
            if valid or (kind, id_) in invalid:
                continue
            if id_ >= new_base:
                out = out or assemble(path)
                if any(("w", w) in invalid for w in input_ways_of(out, original, kind, id_, new_base)):
                    continue
            fault(f"{os.path.basename(path)}: {'relation' if kind == 'r' else 'way'} {id_} is no valid polygon")
    if by_name is not None:
        for kind, id_, name, valid, area in gdal_areas(source):
            if valid and abs(sums[name] - area) > by_name * area:
                fault(f"{name}: pieces add up to {sums[name]:.9f}, the input has {area:.9f}")


def main():
    source, outdir = sys.argv[1], sys.argv[2]
    options = dict(a[2:].split("=", 1) for a in sys.argv[3:] if a.startswith("--") and "=" in a)
    original = assemble(source)
    fault = Faults(shown=40)
    sums = defaultdict(float)
    files = sorted(glob.glob(os.path.join(outdir, "*.osm")) + glob.glob(os.path.join(outdir, "*.osm.pbf")))
    checked = 0
    holders = defaultdict(set)
    for path in files:
        out = assemble(path)
        for rid in out.relations:
            holders[rid].add(os.path.basename(path).split(".")[0].lstrip("0") or "0")
            if rid not in original.relation_area:
                continue  # not a valid area in the input either
            checked += 1
            if rid not in out.relation_area:
                fault(f"{os.path.basename(path)}: multipolygon {rid} is no valid area")
            else:
                sums[rid] += out.relation_area[rid]
    uncut = sorted(glob.glob(os.path.join(options["uncut"], "*.osm*"))) if "uncut" in options else []
    reference = {}  # areas after the rounding of positions alone
    for path in uncut:
        reference.update(assemble(path).relation_area)
    rects = area_rectangles(outdir)
    for rid, total in sums.items():
        # Tiles wholly inside a polygon hold none of its members, so only
        # polygons whose every tile holds a copy can add up.
        if rid not in original.relation_bounds:
            continue  # no outer ring in the input
        w, s, e, n = original.relation_bounds[rid]
        tiles = {k for k, (x0, y0, x1, y1) in rects.items() if x0 <= e and x1 >= w and y0 <= n and y1 >= s}
        if not tiles <= holders[rid]:
            continue
        if not rings_join_by_ids(original, rid):
            continue
        expected = reference.get(rid, original.relation_area[rid])
        if expected > 0 and abs(total - expected) > 0.001 * expected:
            fault(f"multipolygon {rid}: pieces add up to {total:.1f} m2, the input has {expected:.1f} m2")
    by_name = float(options["by-name"]) if "by-name" in options else None
    check_validity(source, original, files, uncut, by_name, fault)
    return fault.verdict(f"ok: {checked} multipolygon copies")


if __name__ == "__main__":
    sys.exit(main())
