#!/usr/bin/python3
"""Writes the inputs of bench/algorithms.sh into DIR.

usage: make_algorithm_inputs.py rings N DIR
       make_algorithm_inputs.py overlap N DIR

rings: DIR/input.osm.pbf holds one multipolygon relation whose outer ring is
a circle of N two-node ways, listed in shuffled order (fixed seed), and
DIR/areas/ two .poly halves that the circle crosses.

overlap: DIR/adjacent/ and DIR/overlap/ each hold two .poly areas of about
N vertices, a west of a zigzag border of N vertices and b east of it: in
"adjacent" they touch along it, in "overlap" b reaches a tenth of a degree
into a, along the same zigzag moved west. DIR/input.osm.pbf holds a few
nodes.
"""
import math
import os
import random
import sys

import osmium
from osmium.osm.mutable import Node, Relation, Way


def write_poly(path, name, points):
    with open(path, "w") as f:
        f.write(f"{name}\n1\n")
        for lon, lat in points:
            f.write(f"   {lon:.7f}   {lat:.7f}\n")
        f.write("END\nEND\n")


def write_nodes(path, points, ways=(), relations=()):
    if os.path.exists(path):
        os.remove(path)
    writer = osmium.SimpleWriter(path)
    for i, (lon, lat) in enumerate(points, 1):
        writer.add_node(Node(id=i, location=(lon, lat), version=1))
    for way in ways:
        writer.add_way(way)
    for relation in relations:
        writer.add_relation(relation)
    writer.close()


def rings(n, directory):
    points = [(7.5 + 0.4 * math.cos(2 * math.pi * i / n), 43.5 + 0.4 * math.sin(2 * math.pi * i / n))
              for i in range(n)]
    ways = [Way(id=i + 1, nodes=[i + 1, (i + 1) % n + 1], tags={"natural": "water"}, version=1) for i in range(n)]
    members = [("w", i + 1, "outer") for i in range(n)]
    random.Random(n).shuffle(members)
    relation = Relation(id=1, members=members, tags={"type": "multipolygon", "natural": "water"}, version=1)
    write_nodes(os.path.join(directory, "input.osm.pbf"), points, ways, [relation])
    os.makedirs(os.path.join(directory, "areas"), exist_ok=True)
    write_poly(os.path.join(directory, "areas", "west.poly"), "west",
               [(7.0, 43.0), (7.0, 44.0), (7.5, 44.0), (7.5, 43.0), (7.0, 43.0)])
    write_poly(os.path.join(directory, "areas", "east.poly"), "east",
               [(7.5, 43.0), (7.5, 44.0), (8.0, 44.0), (8.0, 43.0), (7.5, 43.0)])


def overlap(n, directory):
    # The shared boundary, south to north: a zigzag between 8.0 and 8.001.
    zigzag = [(8.0 + 0.001 * (i % 2), 43.0 + i / (n - 1)) for i in range(n)]
    west = [(7.0, 43.0), (7.0, 44.0)] + zigzag[::-1] + [(7.0, 43.0)]
    east = zigzag + [(9.0, 44.0), (9.0, 43.0), zigzag[0]]
    moved = [(lon - 0.1, lat) for lon, lat in zigzag]
    reaching = moved + [(9.0, 44.0), (9.0, 43.0), moved[0]]
    for name, first, second in (("adjacent", west, east), ("overlap", west, reaching)):
        os.makedirs(os.path.join(directory, name), exist_ok=True)
        write_poly(os.path.join(directory, name, "a.poly"), "a", first)
        write_poly(os.path.join(directory, name, "b.poly"), "b", second)
    write_nodes(os.path.join(directory, "input.osm.pbf"), [(7.5, 43.5), (8.5, 43.5), (7.95, 43.5)])


def main():
    kind, n, directory = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    os.makedirs(directory, exist_ok=True)
    {"rings": rings, "overlap": overlap}[kind](n, directory)


if __name__ == "__main__":
    main()
