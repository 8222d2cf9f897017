"""Summarises an OSM PBF file with an independent reader, for PBFReaderTest.

Prints one `name value` line per figure. Positions are converted to map units
(2^23 per degree) the way the reader under test converts granularity-100
coordinates, so that both sides agree bit for bit. `digest` sums the CRC-32 of
a canonical text of every entity: ids, metadata, tags, positions, refs and
members all take part.
"""
import math
import sys
import zlib

import osmium

SEP = "\x1f"
MASK = (1 << 64) - 1


def units(fixed7):
    u = math.floor(1e-9 * float(100 * fixed7) * 8388608 + 0.5)
    return 0x59FFFFFF if u == 0x5A000000 else u


class Summary(osmium.SimpleHandler):
    def __init__(self):
        super().__init__()
        self.figures = dict.fromkeys(
            ["nodes", "ways", "relations", "node_id_sum", "tags", "refs", "members", "digest"], 0)
        self.box = None

    def add(self, text):
        self.figures["digest"] = (self.figures["digest"] + zlib.crc32(text.encode("utf-8"))) & MASK

    def head(self, kind, o):
        tags = o.tags
        count = len(tags)
        self.figures["tags"] += count
        fields = [kind, str(o.id), str(o.version), str(int(o.timestamp.timestamp())), str(o.changeset),
                  str(o.uid), o.user]
        if count:  # most nodes have none, and iterating is costly
            fields += [t.k + "=" + t.v for t in tags]
        return fields

    def node(self, n):
        f = self.figures
        f["nodes"] += 1
        f["node_id_sum"] = (f["node_id_sum"] + n.id) & MASK
        x, y = units(n.location.x), units(n.location.y)
        if self.box is None:
            self.box = [x, y, x, y]
        else:
            b = self.box
            b[:] = [min(b[0], x), min(b[1], y), max(b[2], x), max(b[3], y)]
        self.add(SEP.join(self.head("n", n) + [str(x), str(y)]))

    def way(self, w):
        self.figures["ways"] += 1
        refs = [str(r.ref) for r in w.nodes]
        self.figures["refs"] += len(refs)
        self.add(SEP.join(self.head("w", w) + refs))

    def relation(self, r):
        self.figures["relations"] += 1
        members = [m.type + str(m.ref) + "@" + m.role for m in r.members]
        self.figures["members"] += len(members)
        self.add(SEP.join(self.head("r", r) + members))


def main():
    summary = Summary()
    summary.apply_file(sys.argv[1])
    for name, value in summary.figures.items():
        print(name, value)
    for name, value in zip(["min_x", "min_y", "max_x", "max_y"], summary.box or [0, 0, 0, 0]):
        print(name, value)


if __name__ == "__main__":
    main()
