#!/usr/bin/python3
"""Checks a run of the program with independent readers.

usage: check.py PROGRAM ARGUMENTS LOG [CHECK...]   (the checks: see main)
       check.py --make=WHAT [SOURCE]                (the inputs: see make)
PROGRAM ran here with ARGUMENTS (one string: -o=DIR among them, the input last)
and printed LOG. Prints the faults and exits 1 when there is any."""
import filecmp
import glob
import os
import re
import subprocess
import sys
from collections import defaultdict
from pathlib import Path

import osmium
from osgeo import gdal, ogr

FIRST_NEW_ID = 10000000000
CONTRIB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../contrib/")
gdal.PushErrorHandler("CPLQuietErrorHandler")  # the verdict is in the faults
faults = []


def fault(text):
    if len(faults) < 50:
        print(text)
    faults.append(text)


def call(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


class Run:
    """The program's run: its command, arguments and output directory."""

    def __init__(self, program, arguments, log):
        self.program, self.arguments, self.log = program, arguments, log
        words = arguments.split()
        self.source, self.outdir = words[-1], next(w[3:] for w in words if w.startswith("-o="))
        self.max_nodes = int(next((w[12:] for w in words if w.startswith("--max-nodes=")), 1600000))

    def again(self, name, options="", program=None, source=None):
        """Runs it again into OUTDIR-name, options first (of an option given
        twice the first counts), on another input if given; returns that
        directory and what it printed."""
        outdir = self.outdir.rstrip("/") + "-" + name
        arguments = self.arguments.rsplit(" ", 1)[0] + " " + source if source else self.arguments
        again = call("sh", "-c", f"{program or self.program} -o={outdir} {options} {arguments}")
        if again.returncode != 0:
            fault(f"{name} run: exit code {again.returncode}: {again.stdout}")
        return outdir, again.stdout


class Collector(osmium.SimpleHandler):
    """nodes: id -> (x, y in 1e-7 degrees, has the border node tag); ways: id
    -> (node refs, tags); relations: id -> ([(type, ref, role)], tags)."""

    def __init__(self, path):
        super().__init__()
        self.nodes, self.ways, self.relations = {}, {}, {}
        self.apply_file(path, locations=False)

    def node(self, n):
        self.nodes[n.id] = (n.location.x, n.location.y, n.tags.get("garmin:extnode") == "yes")

    def way(self, w):
        self.ways[w.id] = ([r.ref for r in w.nodes], dict(w.tags))

    def relation(self, r):
        self.relations[r.id] = ([(m.type, m.ref, m.role) for m in r.members], dict(r.tags))


def tiles(outdir):
    return sorted(glob.glob(os.path.join(outdir, "*.osm")) + glob.glob(os.path.join(outdir, "*.osm.pbf")))


def check_readable(path):
    """xmllint, osmium check-refs and fileinfo read it whole: sorted by type and id, each once."""
    if not path.endswith(".pbf") and call("xmllint", "--noout", path).returncode != 0:
        fault(f"{path}: not well-formed XML")
    check = call("osmium", "check-refs", "--no-progress", path)
    if check.returncode != 0:
        fault(f"{path}: osmium check-refs: {check.stdout.strip()} {check.stderr.strip()}")
    info = call("osmium", "fileinfo", "-e", "--no-progress", path).stdout
    if "Objects ordered (by type and id): yes" not in info or "Multiple versions of same object: no" not in info:
        fault(f"{path}: not sorted by type and id, or an object written twice")


def same_files(first, second):
    diff = call("diff", "-r", first, second)
    if diff.returncode != 0:
        fault(f"{first} and {second} differ: {diff.stdout[:2000]}{diff.stderr}")


def is_run(refs, original, nodes):
    """Whether refs is a run of the original refs between nodes the input
    lacks; a closed way's runs go on across its closing node."""
    if all(r in nodes for r in original):
        return False
    ring = original[:-1] * 2 if len(original) > 2 and original[0] == original[-1] else original
    return any(ring[k:k + len(refs)] == refs for k in range(len(ring) - len(refs) + 1))


def check_split(original, outputs, new_base, max_nodes, partial):
    """Every input node in exactly one output (partial: at most one), none with
    more than max_nodes input nodes, ways whole or cut into runs through every
    output that holds their nodes, highway pieces ending in border nodes,
    relations in every output that holds a member. Returns node -> output."""
    node_file, way_files, holders = {}, defaultdict(set), defaultdict(set)  # node -> output; way, relation -> outputs
    for name, out in outputs.items():
        for rid in out.relations:
            holders[rid].add(name)
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
                want = original.ways.get(wid, (None,))[0]
                if want is None or refs != want and not is_run(refs, want, original.nodes):
                    fault(f"{name}: way {wid} is not in the input, or written with other nodes")
                way_files[wid].add(name)
            for r in refs:
                out.referenced[r].append(wid)
        # Pieces of one road in one file meet at one node: no two new nodes
        # at a place end pieces of roads tagged alike.
        ends = defaultdict(set)
        for wid, (refs, tags) in out.ways.items():
            if wid >= new_base and "highway" in tags and refs:
                for r in {refs[0], refs[-1]} & {n for n in refs if n >= new_base and n in out.nodes}:
                    ends[(out.nodes[r][:2], frozenset(tags.items()))].add(r)
        for (place, _), made in ends.items():
            if len(made) > 1:
                fault(f"{name}: road pieces end at nodes {sorted(made)} of one place {place}")
        # A cut highway ends in a border node, unless that node was made for
        # another way through the same place.
        for wid, (refs, tags) in out.ways.items():
            if wid < new_base or "highway" not in tags or not refs:
                continue
            for r in {refs[0], refs[-1]}:
                if r >= new_base and not out.nodes.get(r, (0, 0, True))[2] and \
                        all("highway" in out.ways[w][1] for w in out.referenced[r]):
                    fault(f"{name}: new node {r} of highway piece {wid} lacks garmin:extnode")

    for nid in [] if partial else original.nodes:
        if nid not in node_file:
            fault(f"node {nid} is in no output")

    # Every way reaches every output holding one of its nodes, whole or as a
    # piece through that node.
    for wid, (refs, _) in original.ways.items():
        for i, r in enumerate(refs if len(refs) > 1 else []):
            name = node_file.get(r)
            if name is None or name in way_files[wid]:
                continue
            # A node whose neighbours the input lacks is a run of its own, and
            # a way that touches an area at a border node only has no piece there.
            neighbours = [refs[k] for k in (i - 1, i + 1) if 0 <= k < len(refs)]
            if all(n not in original.nodes for n in neighbours) or \
                    outputs[name].nodes[r][2] and all(node_file.get(n) != name for n in neighbours):
                continue
            if not any(w >= new_base for w in outputs[name].referenced.get(r, [])):
                fault(f"way {wid} does not reach {name} through node {r}")
                break

    for rid, (members, _) in original.relations.items():
        for kind, ref, _ in members:
            places = {node_file[ref]} if kind == "n" and ref in node_file else way_files[ref] if kind == "w" else set()
            for name in places - holders[rid]:
                fault(f"relation {rid} with member {kind}{ref} is missing from {name}")
    return node_file


def read_list(path):
    """The rectangles of areas.list by area number: (west, south, east, north)
    in degrees, from the degree line under each area's line."""
    found = re.findall(r"^(\d+):.*\n# +: (\S+),(\S+) to (\S+),(\S+)", open(path, encoding="latin-1").read(), re.M)
    return {int(area): (float(w), float(s), float(e), float(n)) for area, s, w, n, e in found}


def check_list(outputs, rects, new_base):
    """The rectangles of areas.list do not overlap and hold the nodes of their
    tiles. Longitudes count from 0 to 360 degrees when an area crosses 180."""
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
        w, s, e, n = boxes.get(int(name.split(".")[0]), (0, 0, -1, -1))
        outside = [nid for nid, (x, y, _) in out.nodes.items()
                   if nid < new_base and not (w - 2e-6 <= lon(x / 1e7) <= e + 2e-6 and s - 2e-6 <= y / 1e7 <= n + 2e-6)]
        if outside:
            fault(f"{name}: {len(outside)} nodes outside its area in areas.list, node {outside[0]} first")


def read_poly(path):
    """The sections of a polygon file: [(name, [(x, y), ...])] in 1e-7 degrees."""
    sections, points = [], None
    with open(path, encoding="latin-1") as f:
        for line in list(f)[1:]:  # the first line is the file's title
            if line.strip() == "END":
                points = None
            elif points is None:
                sections.append((line.strip(), points := []))
            else:
                points.append(tuple(round(float(v) * 1e7) for v in line.split()))
    return sections


def inside(ring, x, y):
    """Crossing-number test; half-open, so areas sharing an edge part its points."""
    result = False
    for (x1, y1), (x2, y2) in zip(ring, ring[1:] + ring[:1]):
        if (y1 > y) != (y2 > y) and ((x - x1) * (y2 - y1) < (y - y1) * (x2 - x1)) == (y2 > y1):
            result = not result
    return result


def check_poly(original, node_file, poly_dir):
    """Every node inside the polygons of DIR's .poly files, by more than the
    unit of 1e-7 degree the program rounds them to, is in an output."""
    polygons = [ring for path in sorted(glob.glob(os.path.join(poly_dir, "*.poly"))) for _, ring in read_poly(path)]
    near = ((0, 0), (1, 0), (-1, 0), (0, 1), (0, -1))
    for nid, (x, y, _) in original.nodes.items():
        if nid not in node_file and any(all(inside(ring, x + dx, y + dy) for dx, dy in near) for ring in polygons):
            fault(f"node {nid} lies in a polygon but in no output")


def ring_area(points):
    """In square degrees, the edges running the short way round, so that the
    pieces of a ring across 180 degrees add up to it."""
    xs, ys = [points[0][0]], [p[1] for p in points]
    for p in points[1:]:
        xs.append(xs[-1] + (p[0] - xs[-1] + 180) % 360 - 180)
    return abs(sum(xs[k - 1] * ys[k] - xs[k] * ys[k - 1] for k in range(len(xs)))) / 2


def gdal_areas(path):
    """GDAL's area features: {(kind, id): (valid, size, (west, east, south, north), name, perimeter)}."""
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
        perimeter = sum(p.GetGeometryRef(k).Length() for p in (g.GetGeometryRef(i) for i in range(g.GetGeometryCount()))
                        for k in range(p.GetGeometryCount()))
        features[key] = (g.IsValid(), size, g.GetEnvelope(), f["name"], perimeter)
    if gdal.GetLastErrorType() >= gdal.CE_Failure:
        fault(f"{os.path.basename(path)}: GDAL: {gdal.GetLastErrorMsg()}")
    return features


def area_groups(path, ways, relations, new_base):
    """GDAL's area features of a file by what they stand for: a relation of
    the input by its id; a closed way, or a multipolygon made of a cut one,
    by its tags. Returns {group: [(valid, size, perimeter, label)]}."""
    groups = defaultdict(list)
    for (kind, id_), (valid, size, _, _, perimeter) in gdal_areas(path).items():
        if kind == "r" and id_ < new_base:
            key = ("r", id_)
        else:
            tags = dict((ways if kind == "w" else relations).get(id_, (None, {}))[1])
            if kind == "r":
                tags.pop("type", None)
            key = ("t", frozenset(tags.items()))
        # A way written whole is invalid only where rounding to map units moved its nodes.
        valid = valid or kind == "w" and id_ < new_base
        groups[key].append((valid, size, perimeter, f"{'relation' if kind == 'r' else 'way'} {id_}"))
    return groups


# Natural features that are lines even when closed; GDAL takes any closed natural=* way for an area.
LINES = {("natural", v) for v in ("coastline", "cliff", "ridge", "arete", "tree_row", "earth_bank")}


def check_areas(source, outdir, original, outputs, new_base):
    """Every polygon that GDAL builds valid from the input is built valid from
    the tiles, in pieces that add up to its area: a relation by its id, closed
    ways by their tags (their pieces get new ids). Not compared: closed ways
    of a relation whose members the input lacks, which GDAL takes for the
    relation once its copy lists only what a tile holds; and coastlines and
    other LINES, which GDAL takes for areas when closed."""
    # GDAL refuses blobs that inflate more than a hundredfold, as those of made inputs do.
    plain = outdir.rstrip("/") + "-input.osm.pbf"
    call("osmium", "cat", "--no-progress", "-f", "pbf,pbf_compression=none", "-o", plain, source)
    inputs = area_groups(plain, original.ways, original.relations, new_base)
    skipped = {("t", frozenset(original.ways[ref][1].items())) for members, _ in original.relations.values()
               if any(t == "w" and ref not in original.ways for t, ref, _ in members)
               for t, ref, _ in members if t == "w" and ref in original.ways}
    skipped |= {key for key in inputs if key[0] == "t" and key[1] & LINES}
    sums = defaultdict(float)
    for name, out in outputs.items():
        for key, pieces in area_groups(os.path.join(outdir, name), out.ways, out.relations, new_base).items():
            if key not in inputs or key in skipped or not all(valid for valid, *_ in inputs[key]):
                continue
            for valid, size, _, label in pieces:
                sums[key] += size
                if not valid:
                    fault(f"{name}: {label} is no valid polygon")
    for key, polygons in inputs.items():
        want = sum(size for _, size, _, _ in polygons)
        # Rounding to map units moves a node by up to half a unit, 2^-24 degree, each way.
        rounding = sum(1e-10 + 1e-7 * perimeter for _, _, perimeter, _ in polygons)
        if key not in skipped and all(valid for valid, *_ in polygons) and abs(sums[key] - want) > 0.001 * want + rounding:
            fault(f"{polygons[0][3] if key[0] == 'r' else dict(key[1])}: pieces add up to {sums[key]:.10f}, "
                  f"the input has {want:.10f}")


def same_tiles(first, second, name):
    """The tiles of FIRST are those of SECOND, byte for byte, where each is
    named name(its name in FIRST)."""
    if sorted(name(os.path.basename(path)) for path in tiles(first)) != [os.path.basename(p) for p in tiles(second)]:
        fault(f"{second} holds other tiles than {first}")
    for path in tiles(first):
        other = os.path.join(second, name(os.path.basename(path)))
        if os.path.exists(other) and not filecmp.cmp(path, other, shallow=False):
            fault(f"{path} differs from {other}")


def by_number(name):
    """The name a split file gives the tile of the automatic split named NAME."""
    number, dot, extension = name.partition(".")
    return str(int(number)) + dot + extension


def check_again(first, options):
    """A run on the areas the first one wrote (OPTIONS name its areas.list or
    areas.poly) writes the same areas: those of areas.list; or areas.poly, but
    for the "Areas_" its title puts before every name. Its tiles are the
    first run's under those names. Returns the directory of that run."""
    outdir, _ = first.again("again", options)
    written = os.path.join(first.outdir, "areas.poly")
    if os.path.exists(written):
        if read_poly(os.path.join(outdir, "areas.poly")) != [("Areas_" + n, ring) for n, ring in read_poly(written)]:
            fault("areas.poly loads back as other areas")
        same_tiles(first.outdir, outdir, lambda name: "Areas_" + name)
    else:
        same_files(os.path.join(first.outdir, "areas.list"), os.path.join(outdir, "areas.list"))
        same_tiles(first.outdir, outdir, by_number)
    return outdir


def check_jobs(first):
    """A first job settles the areas and writes their descriptions, those of
    the first run; jobs of uneven area ranges from splitter-ranges load its
    areas.list, two at a time into one fresh directory, and write the files of
    a single run on that file: the first run's tiles under its names."""
    areas, _ = first.again("areas", "--ar=none")
    described = [path for path in glob.glob(os.path.join(first.outdir, "*")) if path not in tiles(first.outdir)]
    if sorted(map(os.path.basename, described)) != sorted(os.listdir(areas)):
        fault(f"{areas} holds other files than the descriptions of {first.outdir}")
    for path in described:
        same_files(path, os.path.join(areas, os.path.basename(path)))
    listed = os.path.join(areas, "areas.list")
    ranges = call(CONTRIB + "splitter-ranges", listed, str(len(read_list(listed)) // 3)).stdout.split()
    jobs = f"printf '%s\\n' {' '.join(ranges)} | parallel --will-cite -j2 --halt now,fail=1 {first.program} -s={listed}"
    outdir = first.again("jobs", "--ar={}", jobs)[0]
    same_files(first.again("listed", "-s=" + listed)[0], outdir)
    same_tiles(first.outdir, outdir, by_number)


def check_package(first, build):
    """The package of the build depends on the libraries the program links,
    and installs a program that writes the same files and a manual page that
    reads without a warning."""
    root = os.path.abspath("deb") + "/"
    pack = call("cpack", "-G", "DEB", "-B", root, cwd=build)
    debs = glob.glob(root + "splitter64_*_amd64.deb")
    if pack.returncode != 0 or not debs:
        return fault(f"cpack: {pack.stdout}{pack.stderr}")
    call("dpkg-deb", "-x", debs[0], root)
    depends = call("dpkg-deb", "-f", debs[0], "Depends").stdout
    if any(lib not in depends for lib in ("libprotobuf-lite32", "libdeflate0", "libzstd1", "liblz4-1")):
        fault(f"the package depends on {depends}")
    same_files(first.outdir, first.again("installed", program=root + "usr/bin/splitter64")[0])
    page = root + "usr/share/man/man1/splitter64.1"
    man = call("sh", "-c", f"MANWIDTH=80 man -l {page} >/dev/null && groff -ww -man -z {page}")
    if man.returncode != 0 or man.stdout + man.stderr:
        fault(f"manual page: {man.stdout}{man.stderr}")


def write_osm(path, nodes, ways=(), relations=()):
    """nodes (id, lon, lat); ways (id, refs, tags); relations (id, [(type, ref, role)], tags)."""
    writer, mutable = osmium.SimpleWriter(path), osmium.osm.mutable
    for i, x, y in nodes:
        writer.add_node(mutable.Node(id=i, version=1, location=(x, y)))
    for i, refs, tags in ways:
        writer.add_way(mutable.Way(id=i, version=1, nodes=refs, tags=tags))
    for i, members, tags in relations:
        writer.add_relation(mutable.Relation(id=i, version=1, members=members, tags=tags))
    writer.close()


def write_poly(path, sections, title=None):
    """sections: "name:x,y x,y ...|..." in degrees ("!" before a name marks a
    hole); the title is the file's name unless given."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    lines = [title or os.path.basename(path).removesuffix(".poly")]
    for section in sections.split("|"):
        name, points = section.split(":")
        lines += [name] + [point.replace(",", "   ") for point in points.split()] + ["END"]
    with open(path, "w") as f:
        f.write("\n".join(lines + ["END", ""]))


POLYGONS = {
    # Liechtenstein in two: a rectangle, and north of it a concave U whose notch holds Vaduz.
    "liechtenstein": {
        "south": "1:9.47,47.04 9.56,47.04 9.56,47.15 9.47,47.15 9.47,47.04",
        "north": "1:9.50,47.15 9.64,47.15 9.64,47.27 9.58,47.27 9.58,47.20 9.54,47.20 9.54,47.27 9.50,47.27"},
    # West has an exclave inside east and a hole of its own; the two overlap
    # in a band and run along the same parallel at 47.04.
    "overlap0": {
        "west": "1:9.47,47.04 9.47,47.20 9.56,47.20 9.56,47.04|2:9.58,47.22 9.58,47.25 9.62,47.25 9.62,47.22|"
                "!3:9.50,47.10 9.50,47.12 9.52,47.12 9.52,47.10",
        "east": "1:9.53,47.04 9.53,47.27 9.64,47.27 9.64,47.04"},
    # A node in a sliver that rounded crossings open between areas.
    "overlap1": {
        "f0": "1:9.5850352,47.046009 9.5904205,47.0511269 9.6113237,47.0621264 9.5730899,47.056922 "
              "9.583375,47.071573 9.5720935,47.0661382 9.565917,47.0734629 9.5584473,47.0804875 "
              "9.5534648,47.0837253 9.5319205,47.0871953 9.5399187,47.0615077 9.5359395,47.0628955 "
              "9.5221444,47.0608766 9.5002981,47.0683831 9.5075011,47.0574126 9.5233033,47.0477168 "
              "9.4913659,47.0432005 9.5165207,47.0403633 9.5255547,47.0365114 9.5015545,47.0212031 "
              "9.5177419,47.0197049 9.534414,47.0240593 9.5347474,47.0167716 9.5448932,47.022074 "
              "9.5517318,47.0219557 9.5565367,47.0020916 9.5692527,47.0149371 9.5695768,47.0209006 "
              "9.5838874,47.0150286 9.5755402,47.0286569 9.5814537,47.0323453 9.6096229,47.0322709 "
              "9.5980152,47.0415695|2:9.5660538,47.0423223 9.5433588,47.0558965 9.5178839,47.0453714 "
              "9.5207565,47.0374009 9.551667,47.0255136 9.5567973,47.0364553",
        "f1": "1:9.6480366,47.0725223 9.671318,47.0792371 9.6424842,47.0769699 9.6549664,47.0834764 "
              "9.6408686,47.0813016 9.6454495,47.0891286 9.6373656,47.0936148 9.6340661,47.0934379 "
              "9.6285334,47.0946985 9.6214436,47.1046922 9.6164794,47.0941427 9.6063782,47.1029675 "
              "9.6109824,47.0887566 9.5969351,47.0939131 9.5940956,47.0891576 9.592586,47.0837849 "
              "9.5763393,47.0840198 9.5776661,47.0798026 9.5751965,47.0731695 9.57437,47.0709924 "
              "9.5747944,47.0616101 9.5967984,47.0618762 9.602216,47.0615244 9.5871788,47.0480906 "
              "9.6022746,47.054808 9.6085204,47.0556776 9.6139577,47.0560851 9.6179505,47.0381332 "
              "9.6220691,47.04105 9.6293846,47.0462207 9.6351072,47.0441173 9.6362251,47.0536759 "
              "9.6460534,47.0489014 9.6425564,47.0586739 9.6623139,47.0534069 9.6602984,47.0611151 "
              "9.6542877,47.0638815 9.6444703,47.0688845|2:9.55,47.21 9.6,47.21 9.6,47.26 9.55,47.26"},
}


def write_across_180():
    """From 175E to 175W: 120 columns x 50 rows of nodes, a road along every
    row, a node on 180W and a lake from 178.5E to 178.5W of two ways; and split
    files, by degrees, of tiles meeting at 180 and of three, the middle one across it."""
    lons = [lon - 360 if lon >= 180 else lon for lon in (175 + 10 * i / 119 for i in range(120))]
    nodes = [(120 * j + i + 1, lon, 10 + 0.5 * j) for j in range(50) for i, lon in enumerate(lons)]
    ways = [(j + 1, list(range(120 * j + 1, 120 * j + 121)), {"highway": "track"}) for j in range(50)]
    nodes.append((len(nodes) + 1, -180, 10))
    lake = len(nodes) + 1
    nodes += [(lake + k, x, y) for k, (x, y) in enumerate([(178.5, 41), (-178.5, 41), (-178.5, 40), (178.5, 40)])]
    ways += [(100, [lake, lake + 1, lake + 2], {}), (101, [lake + 2, lake + 3, lake], {})]
    write_osm("in.osm.pbf", nodes, ways,
              [(1, [("w", 100, "outer"), ("w", 101, "outer")], {"type": "multipolygon", "natural": "water"})])
    meeting, across = [(170, 180), (-180, -170)], [(165, 175), (175, -175), (-175, -165)]
    for name, columns in {"meeting": meeting, "across": across}.items():
        areas = (f"{k + 1}: 0,0 to 0,0\n# : 0,{w} to 60,{e}\n\n" for k, (w, e) in enumerate(columns))
        Path(name + ".list").write_text("".join(areas))


def write_failure_inputs():
    """Inputs of runs that fail or are refused, and outputs in their way."""
    for name, west, east in (("a", 7.40, 7.42), ("b", 7.42, 7.44)):
        write_poly(f"polys/{name}.poly", f"1:{west},43.72 {east},43.72 {east},43.76 {west},43.76", "none")
    write_poly("hostile.poly", "1:7.40,43.72 7.44,43.72 7.44,43.76", "../../escaped")
    # Monaco in two halves, at 7.42 degrees east.
    Path("halves.list").write_text("1: 2003944,279620 to 2097152,345797\n2: 2003944,345797 to 2097152,372827\n")
    for name, count, label in (("one", 1, 7), ("two", 2, 0), ("group", 32769, 0), ("many", 1200, 0), ("empty", 0, 0)):
        areas = "".join(f"{label or k + 1}: 0,{k * 10} to 10,{k * 10 + 10}\n" for k in range(count))
        Path(name + ".list").write_text("# made for a test\n" + areas)
    # Two blobs of nodes, the second cut short.
    write_osm("whole.pbf", [(k + 1, 7.4 + k / 1e6, 43.7) for k in range(10000)])
    Path("cut.pbf").write_bytes(Path("whole.pbf").read_bytes()[:-10])
    for blocked in ("two/2.osm", "d3/relations.txt", "full"):
        os.makedirs(blocked)
    os.symlink("/dev/full", "full/7.osm")


# Multipolygons and buildings, each around a corner of a grid of tiles, in
# eighths of a tile (0 lies on a border): rings "role x,y x,y ...", apart by
# ";", the ways of a ring apart by "/" (a ring of one way closes on its first
# point). Role "-": a building, a closed way; "_": a member of no role.
CASES = """
inner_at_corner: outer -6,-6 -6,6 6,6 6,-6; inner 3,-3 3,3 -3,3 -3,-3
inner_cut_once: outer 6,-6 6,6 -6,6 -6,-6; inner 1,-3 1,3 5,3 5,-3
two_inners: outer -6,-6 -6,6 6,6 6,-6; inner 1,-3 1,3 5,3 5,-3; inner -5,1 -5,4 -2,4 -2,1
inner_touches_outer_on_border: outer -6,-6 -6,6 6,6 6,0 6,-6; inner 6,0 2,-3 2,3
two_outers: outer -6,-5 -6,5 -1,5 -1,-5; outer 6,-5 6,5 1,5 1,-5
outers_touch_on_border: outer -5,-5 -5,5 0,3 -1,-5; outer 0,3 5,5 5,-5 1,-5
outer_along_border: outer 0,-5 0,5 5,5 5,-5; inner 1,-2 1,2 3,2 3,-2
inner_along_border: outer -6,-6 -6,6 6,6 6,-6; inner 0,-3 0,3 3,3 3,-3
inner_along_border_from_corner: outer 0,-1 -3,-2 -2,0 1,2; inner 0,0 -1,-1 -1,0 0,1
inner_meets_outer_on_border: outer 2,-2 -5,-1 4,2; inner 2,1 -2,0 1,-1
inner_touches_border: outer -6,-6 -6,6 6,6 6,-6; inner 0,2 3,4 3,1
island_in_hole: outer -6,-6 -6,6 6,6 6,-6; inner -4,-4 -4,4 4,4 4,-4; outer -2,-2 -2,2 2,2 2,-2
rings_of_two_ways: outer -6,-6 -6,6 6,6 / 6,6 6,-6 -6,-6; inner -3,-3 3,-3 3,3 / -3,-3 -3,3 3,3
u_shape: outer -5,-4 5,-4 5,4 3,4 3,-2 -3,-2 -3,4 -5,4
building_at_corner: - -3,-3 -3,3 3,3 3,-3
building_vertices_on_borders: - 0,-4 4,0 0,4 -4,0
building_along_border: - 3,-3 3,3 0,3 0,-3
u_building: - -5,-4 5,-4 5,4 3,4 3,-2 -3,-2 -3,4 -5,4
building_touching_border: - -3,1 2,1 2,2 0,3 2,4 2,5 -3,5
building_touching_border_west: - 3,1 -2,1 -2,2 0,3 -2,4 -2,5 3,5
inner_touches_outer_cut: outer -6,-6 -6,0 -6,6 6,6 6,-6; inner -6,0 3,2 3,-2
inner_vertex_on_corner: outer -6,-6 -6,6 6,6 6,-6; inner 0,0 4,2 2,4
inners_touch_at_a_point: outer -6,-6 -6,6 6,6 6,-6; inner -4,-4 -1,1 -4,1; inner -1,1 2,4 2,1; inner -1,1 -1,4 -3,4
inners_of_no_role_touch: outer -6,-6 -6,6 6,6 6,-6; _ -4,-4 -1,1 -4,1; _ -1,1 2,4 2,1; _ -1,1 -1,4 -3,4
""".strip().splitlines()


def write_grid_cases():
    """The CASES, in cases.osm.pbf, and the split file of the grid, grid.list."""
    step, columns = 0.703125, 6  # 2^15 split-file units: exact in 1e-7 degrees and in map units
    nodes, ways, relations = {}, [], []  # nodes: position -> id
    for index, case in enumerate(CASES):
        name, rings = case.split(": ")
        cx, cy, members = (2 * (index % columns) + 1) * step, (2 * (index // columns) + 1) * step, []
        for ring in rings.split("; "):
            role, parts = ring.split(" ", 1)
            for part in parts.split(" / "):
                points = [[int(v) for v in p.split(",")] for p in part.split()]
                refs = [nodes.setdefault((cx + x * step / 8, cy + y * step / 8), len(nodes) + 1) for x, y in points]
                ways.append((len(ways) + 1, refs + (refs[:1] if "/" not in parts else []),
                             {"building": "yes", "name": name} if role == "-" else {}))
                members.append(("w", ways[-1][0], "" if role == "_" else role))
        if role != "-":
            relations.append((len(relations) + 1, members, {"type": "multipolygon", "landuse": "grass", "name": name}))
    write_osm("cases.osm.pbf", [(i, x, y) for (x, y), i in nodes.items()], ways, relations)
    rows, unit = (len(CASES) + columns - 1) // columns, 1 << 15
    grid = (divmod(k, 2 * columns) for k in range(2 * rows * 2 * columns))
    Path("grid.list").write_text("".join(f"{row * 2 * columns + column + 1:08d}: {row * unit},{column * unit} to "
                                         f"{(row + 1) * unit},{(column + 1) * unit}\n" for row, column in grid))


def write_versions(source):
    """in.osm.pbf: two overlapping extracts of SOURCE merged, the objects of
    the second a version later and its ways reversed, so that the objects
    they share follow each other at two versions."""
    for name, box in (("a", "7.40,43.72,7.425,43.76"), ("b", "7.415,43.72,7.45,43.76")):
        call("osmium", "extract", "--no-progress", "-b", box, "-o", name + ".osm.pbf", source)
    writer = osmium.SimpleWriter("later.osm.pbf")
    handler = osmium.make_simple_handler(
        node=lambda n: writer.add_node(n.replace(version=n.version + 1)),
        way=lambda w: writer.add_way(w.replace(version=w.version + 1, nodes=[r.ref for r in w.nodes][::-1])),
        relation=lambda r: writer.add_relation(r.replace(version=r.version + 1)))
    handler.apply_file("b.osm.pbf")
    writer.close()
    call("osmium", "merge", "--no-progress", "-o", "in.osm.pbf", "a.osm.pbf", "later.osm.pbf")


def make(what, source=None):
    """Polygon files of POLYGONS[what] in polys/, or the inputs a writer makes."""
    if what in POLYGONS:
        for name, sections in POLYGONS[what].items():
            write_poly(f"polys/{name}.poly", sections)
    elif what == "versions":
        write_versions(source)
    else:
        {"grid": write_grid_cases, "across180": write_across_180, "failures": write_failure_inputs}[what]()


def main():
    if sys.argv[1].startswith("--make="):
        return make(sys.argv[1][len("--make="):], *sys.argv[2:])
    first = Run(*sys.argv[1:4])
    options = dict(a[2:].partition("=")[::2] for a in sys.argv[4:])
    # Files the run leaves, or not: comma-separated paths.
    for key, wanted, problem in (("present", True, "is missing"), ("absent", False, "is left behind")):
        for path in filter(None, options.get(key, "").split(",")):
            if os.path.exists(path) != wanted:
                fault(f"{path} {problem}")
    for path in glob.glob(os.path.join(first.outdir, "*.tmp")):
        fault(f"{path} is left behind")
    # Reruns that write the same files: with other options; by another build,
    # which must print the same too; on the input that the one given was
    # made from; as jobs of area ranges; from the package.
    if options.keys() & {"same", "reference", "same-input"}:
        outdir, printed = first.again("same", options.get("same", ""), options.get("reference"),
                                      options.get("same-input"))
        same_files(first.outdir, outdir)
        if "reference" in options and printed != open(first.log).read():
            fault(f"{options['reference']} prints otherwise:\n{printed}")
    if "jobs" in options:
        check_jobs(first)
    if "package" in options:
        check_package(first, options["package"])
    outdir, max_nodes = first.outdir, first.max_nodes
    if "again" in options:
        outdir = check_again(first, options["again"])
    if options.keys() & {"split", "list", "poly", "areas"}:
        files = tiles(outdir)
        if not files:
            fault("no output files")
        for path in files:
            check_readable(path)
        outputs = {os.path.basename(path): Collector(path) for path in files}
        original = Collector(options.get("source", first.source))  # what the input was made from
        new_base = max(FIRST_NEW_ID, max([0, *original.nodes, *original.ways, *original.relations]) + 1)
        listed = os.path.join(outdir, "areas.list")
        rects = read_list(listed) if os.path.exists(listed) else {}
        node_file = check_split(original, outputs, new_base, max_nodes, "partial" in options) \
            if "split" in options else {}
        if "list" in options:
            check_list(outputs, rects, new_base)
        if "poly" in options:
            check_poly(original, node_file, options["poly"])
        if "areas" in options:
            check_areas(first.source, outdir, original, outputs, new_base)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
