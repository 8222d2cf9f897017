#!/usr/bin/python3
"""Writes COPIES shifted, renumbered copies of an extract into one sorted PBF.

usage: make_copies.py INPUT.pbf COPIES OUTPUT.pbf

Copy k is moved k steps east (a step is the input's width plus a margin,
wrapping into rows northwards past 180 degrees) and every id is raised by
k * 2^34, so the copies neither overlap nor share ids, and the output stays
sorted by type, then id.
"""
import sys

import osmium

SHIFT = 1 << 34


def main():
    source, copies, target = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    box = osmium.io.Reader(source).header().box()
    if not box.valid():
        sys.exit(f"{source}: no bounding box in the header")
    width = box.top_right.lon - box.bottom_left.lon + 0.1
    height = box.top_right.lat - box.bottom_left.lat + 0.1
    per_row = max(1, int(300 // width))

    def offset(k):
        return (k % per_row) * width, (k // per_row) * height

    writer = osmium.SimpleWriter(target)
    for kind in ("n", "w", "r"):
        for k in range(copies):
            dx, dy = offset(k)
            base = k * SHIFT

            def refs(nodes):
                return [n.ref + base for n in nodes]

            class Copy(osmium.SimpleHandler):
                def node(self, n):
                    if kind == "n":
                        loc = osmium.osm.Location(n.location.lon + dx, n.location.lat + dy)
                        writer.add_node(n.replace(id=n.id + base, location=loc))

                def way(self, w):
                    if kind == "w":
                        writer.add_way(w.replace(id=w.id + base, nodes=refs(w.nodes)))

                def relation(self, r):
                    if kind == "r":
                        members = [(m.type, m.ref + base, m.role) for m in r.members]
                        writer.add_relation(r.replace(id=r.id + base, members=members))

            Copy().apply_file(source)
    writer.close()


if __name__ == "__main__":
    main()
