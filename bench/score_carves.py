#!/usr/bin/env python3
"""Scores a carving run against the layout of a benchmark or demo image.

For every placed sample (IMAGE.layout: byte offset, tab, sample name) it asks whether a carved
file that starts at its offset holds exactly the sample's bytes. Morrow's report gives each file's
offset; foremost and PhotoRec name their files after the sector they start at. Carved files that are no placed sample are split into embedded ones (they lie
inside a placed sample: a thumbnail, a frame, a file stored in a ZIP) and false ones.

  bench/score_carves.py --layout IMAGE.layout --samples tests/data (--report REPORT.xls | --folder DIR)
prints one line per kind: placed, whole, carved, embedded, false. bench/compare-peers imports it.
"""
import argparse
import bisect
import collections
import hashlib
import os
import re
import sys

KINDS = {
    ".bmp": "bmp", ".gif": "gif", ".jpg": "jpeg", ".jpeg": "jpeg", ".tif": "tiff", ".tiff": "tiff",
    ".png": "png", ".psd": "psd", ".psb": "psd", ".doc": "cdoc", ".xls": "cdoc", ".ppt": "cdoc",
    ".db": "cdoc", ".ukn": "cdoc", ".pdf": "pdf", ".html": "html", ".htm": "html", ".zip": "zip",
    ".avi": "video", ".dat": "video", ".mp4": "video", ".mov": "video", ".3gp": "video", ".wmv": "video",
    # The names foremost and PhotoRec give the same kinds.
    ".ole": "cdoc", ".htm": "html", ".riff": "video", ".mpg": "video", ".m4v": "video", ".asf": "video",
    ".docx": "zip", ".xlsx": "zip", ".pptx": "zip", ".odt": "zip", ".jar": "zip",
    # Archives named by their content (Morrow's exact mode, PhotoRec).
    ".ods": "zip", ".odp": "zip", ".odg": "zip", ".epub": "zip", ".apk": "zip", ".sxw": "zip",
}


def kind_of(name):
    return KINDS.get(os.path.splitext(name)[1].lower(), "other")


def digest(data):
    return hashlib.sha256(data).hexdigest()


def sector_from_name(name):
    """A peer's carved file names its start: foremost's 00012345.jpg, PhotoRec's f0012345.jpg, both
    in 512-byte sectors."""
    digits = re.search(r"(\d+)", os.path.basename(name))
    return int(digits.group(1)) * 512 if digits else None


def score(layout, samples, report=None, folder=None):
    """Per kind: placed samples, those carved whole at their offset, files carved, embedded ones
    (starting inside a placed sample) and false ones (starting anywhere else)."""
    placed = []
    sample_digest = {}
    for line in open(layout):
        offset, name = line.rstrip("\n").split("\t")
        if name not in sample_digest:
            with open(os.path.join(samples, name), "rb") as fh:
                sample_digest[name] = (digest(fh.read()), os.path.getsize(os.path.join(samples, name)))
        placed.append((int(offset), name))
    spans = sorted((o, o + sample_digest[n][1]) for o, n in placed)
    starts = [s for s, _ in spans]

    def inside_placed(offset):
        i = bisect.bisect_right(starts, offset) - 1
        return i >= 0 and spans[i][0] <= offset < spans[i][1]

    carved = []  # (offset, digest, kind)
    if report:
        base = os.path.dirname(report)
        for row in open(report, "rb").read().split(b"\r\n")[1:]:
            fields = row.split(b"\t")
            path = fields[0].decode("latin-1")
            with open(os.path.join(base, os.path.basename(path)), "rb") as fh:
                carved.append((int(fields[1]), digest(fh.read()), kind_of(path)))
    else:
        for root, _, files in os.walk(folder):
            for f in files:
                k = kind_of(f)
                if k == "other":
                    continue  # a kind Morrow does not carve: not scored
                with open(os.path.join(root, f), "rb") as fh:
                    carved.append((sector_from_name(f), digest(fh.read()), k))

    at = collections.defaultdict(set)
    for offset, d, _ in carved:
        at[offset].add(d)
    per = collections.defaultdict(collections.Counter)
    placed_offsets = set()
    for offset, name in placed:
        k = kind_of(name)
        placed_offsets.add(offset)
        per[k]["placed"] += 1
        if sample_digest[name][0] in at.get(offset, ()):
            per[k]["whole"] += 1
    for offset, _, k in carved:
        per[k]["carved"] += 1
        if offset in placed_offsets:
            continue
        per[k]["embedded" if offset is not None and inside_placed(offset) else "false"] += 1
    return per


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--layout", required=True)
    ap.add_argument("--samples", required=True)
    ap.add_argument("--report", help="Morrow's report: carved files with their offsets")
    ap.add_argument("--folder", help="a peer's output folder: offsets read from the file names")
    a = ap.parse_args()
    per = score(a.layout, a.samples, report=a.report, folder=a.folder)
    total = collections.Counter()
    print(f"{'kind':<7}{'placed':>8}{'whole':>8}{'carved':>8}{'embedded':>10}{'false':>7}")
    for k in sorted(per):
        c = per[k]
        total.update(c)
        print(f"{k:<7}{c['placed']:>8}{c['whole']:>8}{c['carved']:>8}{c['embedded']:>10}{c['false']:>7}")
    print(f"{'all':<7}{total['placed']:>8}{total['whole']:>8}{total['carved']:>8}{total['embedded']:>10}{total['false']:>7}")


if __name__ == "__main__":
    sys.exit(main())
