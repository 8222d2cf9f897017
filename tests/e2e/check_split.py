#!/usr/bin/python3
"""Checks a split against its input with an independent reader.

usage: check_split.py INPUT.pbf OUTPUT_DIR MAX_NODES [--relations] [--partial]

With --partial the areas need not cover the input (polygon files), so
nodes in no output are no fault.

Every output file is read with pyosmium and must be ordered by type and id. Prints one line per fault and
exits 1 when there is any; prints a summary and exits 0 otherwise.
"""
import glob
import os
import subprocess
import sys
from collections import defaultdict

import osmium

from faults import Faults

FIRST_NEW_ID = 10000000000


class Collector(osmium.SimpleHandler):
    def __init__(self):
        super().__init__()
        self.nodes = {}  # id -> (lon, lat, has extnode tag)
        self.ways = {}  # id -> (node refs, tags)
        self.relations = {}  # id -> list of (type, ref, role)
        self.duplicates = []

    def node(self, n):
        if n.id in self.nodes:
            self.duplicates.append(("node", n.id))
        self.nodes[n.id] = (n.location.lon, n.location.lat, n.tags.get("garmin:extnode") == "yes")

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


def is_run(refs, original, nodes):
    """Whether refs is a run of the original refs between nodes the input
    lacks; a closed way's runs go on across its closing node."""
    if all(r in nodes for r in original):
        return False
    ring = original[:-1] * 2 if len(original) > 2 and original[0] == original[-1] else original
    n = len(refs)
    return any(ring[k:k + n] == refs for k in range(len(ring) - n + 1))


def main():
    source, outdir, max_nodes = sys.argv[1], sys.argv[2], int(sys.argv[3])
    check_relations = "--relations" in sys.argv[4:]
    partial = "--partial" in sys.argv[4:]
    fault = Faults()

    original = read(source)
    max_id = max([0] + list(original.nodes) + list(original.ways) + list(original.relations))
    new_base = max(FIRST_NEW_ID, max_id + 1)

    files = sorted(glob.glob(os.path.join(outdir, "*.osm")) + glob.glob(os.path.join(outdir, "*.osm.pbf")))
    if not files:
        fault("no output files")
    node_file = {}
    way_files = defaultdict(set)  # input way id -> files holding it whole
    outputs = {}
    for path in files:
        name = os.path.basename(path)
        out = read(path)
        outputs[name] = out
        check = subprocess.run(["osmium", "check-refs", "--no-progress", path], capture_output=True, text=True)
        if check.returncode != 0:
            fault(f"{name}: osmium check-refs: {check.stdout.strip()} {check.stderr.strip()}")
        info = subprocess.run(["osmium", "fileinfo", "-e", "--no-progress", path], capture_output=True, text=True)
        if "Objects ordered (by type and id): yes" not in info.stdout:
            fault(f"{name}: not ordered by type and id")
        for kind, id_ in out.duplicates:
            fault(f"{name}: {kind} {id_} written twice")
        inputs = 0
        for nid, (lon, lat, ext) in out.nodes.items():
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
        referenced = defaultdict(list)  # node -> ways of this file through it
        for wid, (refs, tags) in out.ways.items():
            if wid < new_base:
                if wid not in original.ways:
                    fault(f"{name}: way {wid} is not in the input")
                    continue
                if refs != original.ways[wid][0] and not is_run(refs, original.ways[wid][0], original.nodes):
                    fault(f"{name}: way {wid} written with other nodes")
                way_files[wid].add(name)
            for r in refs:
                referenced[r].append(wid)
        out.referenced = referenced
        # Where a highway was cut, its new end node is a border node (unless it
        # was made for another way through the same place).
        for wid, (refs, tags) in out.ways.items():
            if wid < new_base or "highway" not in tags or not refs:
                continue
            for r in {refs[0], refs[-1]}:
                if r < new_base or out.nodes.get(r, (0, 0, True))[2]:
                    continue
                if all("highway" in out.ways[w][1] for w in referenced[r]):
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
            # A node whose neighbours the input lacks is a run of its own.
            if all(refs[k] not in original.nodes for k in (i - 1, i + 1) if 0 <= k < len(refs)):
                continue
            # A way that only touches an area at one border node has no piece there.
            neighbours = [refs[k] for k in (i - 1, i + 1) if 0 <= k < len(refs)]
            if outputs[name].nodes[r][2] and all(node_file.get(n) != name for n in neighbours):
                continue
            if not any(w >= new_base for w in outputs[name].referenced.get(r, [])):
                missing_ways += 1
                if missing_ways <= 20:
                    fault(f"way {wid} does not reach {name} through node {r}")
                break

    if check_relations:
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

    return fault.verdict(f"ok: {len(files)} files, {len(node_file)} nodes, {len(original.ways)} ways, "
                         f"{len(original.relations)} relations")


if __name__ == "__main__":
    sys.exit(main())
