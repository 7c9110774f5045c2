"""The many-writers corpus: files of every kind Morrow carves, made at bench time by the programs
that write those kinds in the field, never taken from tests/data.

Writers: ffmpeg (several muxers and codecs), GStreamer's own muxers, MEncoder, LibreOffice
(Writer, Calc, Impress), ImageMagick, libjpeg-turbo's cjpeg, netpbm, Ghostscript, qpdf, Info-ZIP's
zip, 7-Zip, pydoc and enscript, small writers in Python's standard library (PNG, GIF, BMP, TIFF,
PSD, PDF and its incremental updates, HTML, zipfile), and real photographs shipped in Debian's
wallpaper packages (mate-backgrounds: camera files with Exif, Canon, Sony, Konica Minolta;
lomiri-wallpapers-16.04 and ukui-wallpapers: photographs saved by photo editors).

Every writer group is seeded (random.Random of the corpus seed and the group's name) and writes
its files under CORPUS/files/KIND/WRITER-NN-VARIANT.EXT; a group that ran leaves a marker with its
entries, so an interrupted build goes on where it stopped. manifest.tsv (name, kind, writer,
variant, size, sha256) is written last: a corpus folder with a manifest is complete.

    build_corpus(folder, seed) -> list of manifest rows
"""
import base64
import hashlib
import importlib
import json
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import time
import zipfile
import zlib

IM = "/usr/bin/convert"  # /usr/local/bin/convert may be a stand-in
ICC = "/usr/share/color/icc/ghostscript/srgb.icc"

# Commands and the Debian packages that bring them.
TOOLS = {
    "ffmpeg": ["ffmpeg"], IM: ["imagemagick"], "cjpeg": ["libjpeg-turbo-progs"], "gs": ["ghostscript"],
    "qpdf": ["qpdf"], "zip": ["zip"], "7z": ["p7zip-full"], "pnmtopng": ["netpbm"], "enscript": ["enscript"],
    "mencoder": ["mencoder"], "gsf": ["libgsf-bin"],
    "soffice": ["libreoffice-writer-nogui", "libreoffice-calc-nogui", "libreoffice-impress-nogui"],
    "gst-launch-1.0": ["gstreamer1.0-tools", "gstreamer1.0-plugins-good", "gstreamer1.0-plugins-bad",
                       "gstreamer1.0-libav"],
}
# Real photographs: package -> files in it (under /usr/share/backgrounds) and the writer they count as.
PHOTOS = {
    "mate-backgrounds": [
        ("mate/abstract/Elephants_3840x2160.jpg", "camera"),  # Sony DSC-RX100M4
        ("mate/nature/Blinds.jpg", "camera"),  # Canon EOS 350D
        ("mate/nature/Dune.jpg", "camera"),  # Canon EOS Digital Rebel
        ("mate/nature/Storm.jpg", "camera"),  # Canon EOS 400D
        ("mate/nature/Wood.jpg", "camera"),  # Konica Minolta DiMAGE Z5
        ("mate/nature/RainDrops.jpg", "photo-editor"),
        ("mate/nature/TwoWings.jpg", "photo-editor"),
    ],
    "lomiri-wallpapers-16.04": [
        ("Dragonfly_by_Bolly.jpg", "photo-editor"),
        ("seeding_by_Clements_Engelhardt.jpg", "photo-editor"),
        ("Bridge_by_Sander_Klootwijk.jpg", "photo-editor"),
    ],
    "ukui-wallpapers": [
        ("string.jpg", "photo-editor"),  # Adobe Photoshop CC 2019
        ("firstgeneration.jpg", "photo-editor"),
    ],
}
MP = {0.3: (640, 480), 0.5: (800, 600), 1: (1152, 864), 2: (1632, 1224), 3: (2048, 1536),
      5: (2592, 1944), 8: (3264, 2448), 12: (4000, 3000)}
WORDS = ("evidence sector carve offset cluster volume header footer marker stream chunk member "
         "archive picture movie frame index table record journal inode extent partition device "
         "examiner report case witness ledger invoice river mountain harbour window garden lantern "
         "copper violet orange silent rapid gentle ancient modern hidden narrow broad").split()


def nice(cmd):
    return ["nice", "-n", "10"] + cmd


def run(cmd, cwd=None, stdout=None):
    """Runs a writer (niced: the machine is shared); its stdout goes to the file object given or
    is returned."""
    r = subprocess.run(nice(cmd), cwd=cwd, stdout=stdout or subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        raise RuntimeError(f"{os.path.basename(cmd[0])} failed ({r.returncode}): "
                           f"{r.stderr.decode(errors='replace')[-400:]}")
    return r.stdout


def ensure_tools():
    """Installs (as root, with apt-get) the packages of missing writers; returns the commands
    still missing."""
    missing = [c for c in TOOLS if not shutil.which(c)]
    if shutil.which("gst-launch-1.0"):
        for element in ("asfmux", "avenc_wmv2", "avimux", "qtmux", "jpegenc"):
            if subprocess.run(["gst-inspect-1.0", element], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode != 0:
                missing.append("gst-launch-1.0")
                break
    packages = sorted({p for c in missing for p in TOOLS[c]})
    if packages and os.geteuid() == 0:
        print(f"installing {' '.join(packages)}", flush=True)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        cmd = ["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + packages
        if subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["apt-get", "update", "-qq"], env=env)
            subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL)
    return [c for c in TOOLS if not shutil.which(c)]


def words(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


class Corpus:
    """Where the writers put their files, and the scratch material they share."""

    def __init__(self, folder, seed):
        self.folder = folder
        self.seed = seed
        self.files = os.path.join(folder, "files")
        self.scratch = os.path.join(folder, "scratch")
        os.makedirs(self.scratch, exist_ok=True)
        self.entries = []

    def rng(self, name):
        return random.Random(f"{self.seed}:{name}")

    def out(self, kind, writer, variant, ext):
        """The path for the next file of a writer, recorded in the group's entries."""
        n = sum(1 for e in self.entries if e[1] == kind and e[2] == writer)
        name = f"{kind}/{writer}-{n:02d}-{variant}.{ext}"
        os.makedirs(os.path.join(self.files, kind), exist_ok=True)
        self.entries.append((name, kind, writer, variant))
        return os.path.join(self.files, name)

    def tmp(self, name):
        return os.path.join(self.scratch, name)

    def scene(self, w, h, n):
        """A picture to encode, as PPM: plasma fractals (photo-like texture), smooth plasma
        gradients, or flat shapes over a gradient (what a drawing or a screen shot holds)."""
        path = self.tmp(f"scene-{w}x{h}-{n}.ppm")
        if os.path.exists(path):
            return path
        rng = random.Random(f"{self.seed}:scene:{w}:{h}:{n}")
        style = n % 3
        if style == 0:
            src = ["-size", f"{w}x{h}", "-seed", str(rng.randrange(1 << 30)), "plasma:fractal"]
        elif style == 1:
            a, b = rng.sample(["red", "navy", "gold", "teal", "white", "olive", "purple", "black"], 2)
            src = ["-size", f"{w}x{h}", "-seed", str(rng.randrange(1 << 30)), f"plasma:{a}-{b}"]
        else:
            a, b = rng.sample(["skyblue", "wheat", "gray30", "salmon", "khaki", "plum"], 2)
            draw = []
            for _ in range(rng.randint(4, 12)):
                x, y = rng.randrange(w), rng.randrange(h)
                r = rng.randint(5, max(6, min(w, h) // 4))
                color = rng.choice(["red", "green", "blue", "yellow", "black", "white", "orange"])
                shape = f"circle {x},{y} {x + r},{y}" if rng.random() < 0.5 else f"rectangle {x},{y} {x + r},{y + r // 2}"
                draw += ["-fill", color, "-draw", shape]
            src = ["-size", f"{w}x{h}", f"gradient:{a}-{b}"] + draw
        run([IM] + src + ["-depth", "8", "ppm:" + path + ".part"])
        os.replace(path + ".part", path)
        return path

    def postscript(self, n, rng, large=False):
        """A PostScript document of text pages and, for odd n, a picture (netpbm's pnmtops), of
        up to 3 megapixels when large."""
        path = self.tmp(f"doc-{n}.ps")
        if os.path.exists(path):
            return path
        if n % 2 and shutil.which("pnmtops"):
            sizes = [(1024, 768), (1632, 1224), (2048, 1536)] if large else [(400, 300), (800, 600), (1024, 768)]
            ppm = self.scene(*rng.choice(sizes), n)
            with open(path, "wb") as f:
                run(["pnmtops", "-noturn", "-rle", ppm], stdout=f)
            return path
        lines = ["%!PS-Adobe-3.0", "/Helvetica findfont 11 scalefont setfont"]
        for page in range(rng.randint(1, 12)):
            lines.append(f"{rng.random():.2f} {rng.random():.2f} {rng.random():.2f} setrgbcolor")
            lines.append(f"{rng.randint(40, 300)} {rng.randint(40, 300)} {rng.randint(50, 250)} {rng.randint(50, 250)} rectfill")
            lines.append("0 setgray")
            for row in range(rng.randint(10, 55)):
                text = words(rng, rng.randint(4, 12)).replace("(", "").replace(")", "")
                lines.append(f"50 {760 - row * 13} moveto ({text}) show")
            lines.append("showpage")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        return path


# ---- Python's own writers -------------------------------------------------------------------


def read_ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos + 1:pos + 1 + w * h * 3]


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def write_png(path, w, h, rgb, gray=False, idat=65536, level=6, text=None, up_rows=0.5, rng=None):
    """A PNG written chunk by chunk: filter None or Up per row, the zlib stream cut into IDATs of
    `idat` bytes."""
    bpp = 1 if gray else 3
    rows = []
    prev = bytes(w * bpp)
    for y in range(h):
        row = rgb[y * w * 3:(y + 1) * w * 3]
        if gray:
            row = row[1::3]
        if rng and rng.random() < up_rows:
            rows.append(b"\x02" + bytes((a - b) & 255 for a, b in zip(row, prev)))
        else:
            rows.append(b"\x00" + row)
        prev = row
    stream = zlib.compress(b"".join(rows), level)
    out = [b"\x89PNG\r\n\x1a\n", png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0 if gray else 2, 0, 0, 0))]
    if text:
        out.append(png_chunk(b"tEXt", b"Comment\0" + text.encode()))
    for i in range(0, len(stream), idat):
        out.append(png_chunk(b"IDAT", stream[i:i + idat]))
    out.append(png_chunk(b"IEND", b""))
    open(path, "wb").write(b"".join(out))


def write_bmp(path, w, h, rgb, header=40, bits=24, top_down=False):
    """A BMP with a version 3 (40), 4 (108) or 5 (124) header, 24 or 32 bits, or 8 bits with a
    palette of grays."""
    rows = []
    for y in range(h):
        row = rgb[y * w * 3:(y + 1) * w * 3]
        if bits == 24:
            px = bytearray(row)
            px[0::3], px[2::3] = row[2::3], row[0::3]
        elif bits == 32:
            px = bytearray(w * 4)
            px[0::4], px[1::4], px[2::4], px[3::4] = row[2::3], row[1::3], row[0::3], b"\xff" * w
        else:
            px = bytearray(row[1::3])
        px += bytes(-len(px) % 4)
        rows.append(bytes(px))
    if not top_down:
        rows.reverse()
    pixels = b"".join(rows)
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256)) if bits == 8 else b""
    offset = 14 + header + palette.__len__()
    info = struct.pack("<IiiHHIIiiII", header, w, -h if top_down else h, 1, bits, 3 if bits == 32 and header > 40 else 0,
                       len(pixels), 2835, 2835, 256 if bits == 8 else 0, 0)
    if header > 40:
        masks = struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000) if bits == 32 else bytes(16)
        info += masks + b"BGRs" + bytes(36) + bytes(12)
    if header > 108:
        info += struct.pack("<IIII", 4, 0, 0, 0)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    open(path, "wb").write(head + info + palette + pixels)


def write_tiff(path, w, h, rgb, big_endian=False, rows_per_strip=16, ifd_first=True):
    """An uncompressed RGB TIFF in strips, its IFD before or after the pixels."""
    e = ">" if big_endian else "<"
    strips = [rgb[y * w * 3:min(h, y + rows_per_strip) * w * 3] for y in range(0, h, rows_per_strip)]
    n_tags = 12
    ifd_size = 2 + 12 * n_tags + 4
    extra = 8 * 2 + 6 + 8 * len(strips)  # resolutions, bits per sample, offsets and counts
    if ifd_first:
        ifd_at, extra_at = 8, 8 + ifd_size
        data_at = extra_at + extra
    else:
        data_at = 8
        ifd_at = 8 + len(rgb) + (len(rgb) & 1)
        extra_at = ifd_at + ifd_size
    offsets, pos = [], data_at
    for s in strips:
        offsets.append(pos)
        pos += len(s)
    xres_at, yres_at, bps_at = extra_at, extra_at + 8, extra_at + 16
    off_at, cnt_at = extra_at + 22, extra_at + 22 + 4 * len(strips)
    tags = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 3, bps_at), (259, 3, 1, 1), (262, 3, 1, 2),
            (273, 4, len(strips), off_at if len(strips) > 1 else offsets[0]), (277, 3, 1, 3),
            (278, 4, 1, rows_per_strip), (279, 4, len(strips), cnt_at if len(strips) > 1 else len(strips[0])),
            (282, 5, 1, xres_at), (283, 5, 1, yres_at), (296, 3, 1, 2)]
    ifd = struct.pack(e + "H", n_tags)
    for tag, typ, count, value in tags:
        if typ == 3 and count == 1:
            ifd += struct.pack(e + "HHIHH", tag, typ, count, value, 0)
        else:
            ifd += struct.pack(e + "HHII", tag, typ, count, value)
    ifd += struct.pack(e + "I", 0)
    extra_bytes = struct.pack(e + "IIIIHHH", 72, 1, 72, 1, 8, 8, 8)
    extra_bytes += b"".join(struct.pack(e + "I", o) for o in offsets)
    extra_bytes += b"".join(struct.pack(e + "I", len(s)) for s in strips)
    head = (b"MM" if big_endian else b"II") + struct.pack(e + "HI", 42, ifd_at)
    with open(path, "wb") as f:
        if ifd_first:
            f.write(head + ifd + extra_bytes + b"".join(strips))
        else:
            f.write(head + b"".join(strips) + bytes(len(rgb) & 1) + ifd + extra_bytes)


def packbits(row):
    out, i = bytearray(), 0
    while i < len(row):
        j = i
        while j + 1 < len(row) and row[j + 1] == row[i] and j - i < 127:
            j += 1
        if j > i:
            out += bytes((257 - (j - i + 1), row[i]))
            i = j + 1
            continue
        j = i
        while j < len(row) and j - i < 128 and not (j + 1 < len(row) and row[j + 1] == row[j]):
            j += 1
        j = max(j, i + 1)
        out += bytes((j - i - 1,)) + row[i:j]
        i = j
    return bytes(out)


def write_psd(path, w, h, rgb, rle=False, gray=False, resources=True):
    """A flat Photoshop file: header, no colour table, a resolution resource, no layers, the
    image data planar, raw or PackBits by row."""
    planes = [rgb[1::3]] if gray else [rgb[0::3], rgb[1::3], rgb[2::3]]
    head = b"8BPS" + struct.pack(">H6xHIIHH", 1, len(planes), h, w, 8, 1 if gray else 3)
    res = b""
    if resources:
        body = struct.pack(">IHHIHH", 72 << 16, 1, 1, 72 << 16, 1, 1)
        res = b"8BIM" + struct.pack(">H", 0x03ED) + b"\0\0" + struct.pack(">I", len(body)) + body
    parts = [head, struct.pack(">I", 0), struct.pack(">I", len(res)) + res, struct.pack(">I", 0)]
    if rle:
        rows = [packbits(p[y * w:(y + 1) * w]) for p in planes for y in range(h)]
        parts.append(struct.pack(">H", 1) + b"".join(struct.pack(">H", len(r)) for r in rows) + b"".join(rows))
    else:
        parts.append(struct.pack(">H", 0) + b"".join(planes))
    open(path, "wb").write(b"".join(parts))


def lzw_gif_data(indices, min_code=8):
    """GIF's LZW: variable-width codes from min_code+1 bits up to 12, a clear code when the
    table is full; packed into sub-blocks of up to 255 bytes."""
    clear, end = 1 << min_code, (1 << min_code) + 1
    table = {bytes((i,)): i for i in range(clear)}
    nxt, width = end + 1, min_code + 1
    bits = nbits = 0
    out = bytearray()

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 255)
            bits >>= 8
            nbits -= 8

    emit(clear)
    prefix = b""
    for i in indices:
        s = prefix + bytes((i,))
        if s in table:
            prefix = s
            continue
        emit(table[prefix])
        if nxt < 4096:
            table[s] = nxt
            nxt += 1
            if nxt > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear)
            table = {bytes((k,)): k for k in range(clear)}
            nxt, width = end + 1, min_code + 1
        prefix = bytes((i,))
    if prefix:
        emit(table[prefix])
    emit(end)
    if nbits:
        out.append(bits & 255)
    blocks = b"".join(bytes((len(out[i:i + 255]),)) + out[i:i + 255] for i in range(0, len(out), 255))
    return bytes((min_code,)) + blocks + b"\0"


def write_gif(path, w, h, frames, version=b"89a"):
    """A GIF of 3-3-2 colour frames (each a w*h RGB buffer), looping when there are several."""
    palette = b"".join(bytes((((i >> 5) & 7) * 255 // 7, ((i >> 2) & 7) * 255 // 7, (i & 3) * 85)) for i in range(256))
    out = bytearray(b"GIF" + version + struct.pack("<HHBBB", w, h, 0xF7, 0, 0) + palette)
    if len(frames) > 1 and version == b"89a":
        out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    for rgb in frames:
        if version == b"89a":
            out += b"\x21\xf9\x04\x04" + struct.pack("<H", 10) + b"\x00\x00"
        idx = bytes(((r >> 5) << 5) | ((g >> 5) << 2) | (b >> 6) for r, g, b in zip(rgb[0::3], rgb[1::3], rgb[2::3]))
        out += b"\x2c" + struct.pack("<HHHHB", 0, 0, w, h, 0) + lzw_gif_data(idx)
    out += b"\x3b"
    open(path, "wb").write(bytes(out))


def pdf_bytes(rng, pages):
    """A small PDF written object by object, with its cross-reference table."""
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>", None, b"<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"]
    kids = []
    for p in range(pages):
        lines = [f"BT /F1 12 Tf 60 {740 - 16 * i} Td ({words(rng, rng.randint(5, 11))}) Tj ET" for i in range(rng.randint(5, 40))]
        stream = zlib.compress("\n".join(lines).encode()) if p % 2 else "\n".join(lines).encode()
        filt = b" /Filter /FlateDecode" if p % 2 else b""
        objs.append(b"<< /Length %d%s >>\nstream\n" % (len(stream), filt) + stream + b"\nendstream")
        objs.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents %d 0 R >>" % len(objs))
        kids.append(len(objs))
    objs[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids))
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return bytes(out)


def incremental_update(data, rng):
    """Appends a revision to a PDF, as an editor saving in place does: a new Info dictionary
    and a cross-reference section whose trailer points back (/Prev) at the last one."""
    start = data.rindex(b"startxref")
    prev = int(data[start + 9:].split()[0])
    size_at = data.rfind(b"/Size")
    if size_at < 0:
        raise RuntimeError("no /Size in the last trailer")
    size = int(data[size_at + 5:].split()[0].rstrip(b"/>]"))
    root_at = data.rfind(b"/Root")
    root = b" ".join(data[root_at + 5:].split()[:3])
    out = bytearray(data if data.endswith(b"\n") else data + b"\n")
    obj_at = len(out)
    out += b"%d 0 obj\n<< /Title (%s) /Producer (Morrow bench incremental update) >>\nendobj\n" % (
        size, words(rng, 4).encode())
    xref = len(out)
    out += b"xref\n0 1\n0000000000 65535 f \n%d 1\n%010d 00000 n \n" % (size, obj_at)
    out += b"trailer\n<< /Size %d /Root %s /Info %d 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (
        size + 1, root, size, prev, xref)
    return bytes(out)


def write_compound(path, streams):
    """A compound file (version 3, 512-byte sectors) holding the given streams, each at least
    4096 bytes so that all live in the regular sectors: the streams, then the directory, then the
    allocation table."""
    free, end, fat_mark, none = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF
    names = sorted(streams, key=lambda n: (len(n), n.upper()))  # the order the directory's tree wants
    chains, body, sector = [], bytearray(), 0
    for name in names:
        data = streams[name]
        count = (len(data) + 511) // 512
        chains.append((sector, count))
        body += data + bytes(-len(data) % 512)
        sector += count
    dir_count = (len(names) + 1 + 3) // 4
    dir_start = sector
    fat_count = 1
    while fat_count * 128 < sector + dir_count + fat_count:
        fat_count += 1
    fat = []
    for start, count in chains + [(dir_start, dir_count)]:
        fat += [start + k + 1 for k in range(count - 1)] + [end]
    fat += [fat_mark] * fat_count
    fat += [free] * (fat_count * 128 - len(fat))

    def entry(name, kind, child=none, right=none, start=end, size=0):
        raw = name.encode("utf-16-le") + b"\0\0"
        return (raw.ljust(64, b"\0") + struct.pack("<HBBIII", len(raw), kind, 1, none, right, child) + bytes(16)
                + bytes(4) + bytes(16) + struct.pack("<IQ", start, size))

    entries = [entry("Root Entry", 5, child=1 if names else none)]
    for i, (name, (start, _)) in enumerate(zip(names, chains)):
        entries.append(entry(name, 2, right=i + 2 if i + 1 < len(names) else none, start=start, size=len(streams[name])))
    while len(entries) % 4:
        entries.append(bytes(64) + struct.pack("<HBBIII", 0, 0, 0, none, none, none) + bytes(48))
    difat = [dir_start + dir_count + k for k in range(fat_count)] + [free] * (109 - fat_count)
    header = (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + bytes(16) + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + bytes(6)
              + struct.pack("<IIIIIIIII", 0, fat_count, dir_start, 0, 4096, end, 0, end, 0)
              + struct.pack("<109I", *difat))
    with open(path, "wb") as f:
        f.write(header + body + b"".join(entries) + struct.pack(f"<{len(fat)}I", *fat))


def html_page(rng, paragraphs):
    rows = "".join(f"<tr><td>{i}</td><td>{words(rng, 3)}</td><td>{rng.random() * 1000:.2f}</td></tr>\n"
                   for i in range(rng.randint(0, 60)))
    body = "".join(f"<h2>{words(rng, 3).title()}</h2>\n<p>{words(rng, rng.randint(20, 120))} \u00e9t\u00e9 \u2013 {i}</p>\n"
                   for i in range(paragraphs))
    return (f"<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>{words(rng, 4)}</title>\n"
            f"<style>body {{ font-family: serif; margin: 2em }} td {{ padding: 2px 8px }}</style>\n</head>\n<body>\n"
            f"<h1>{words(rng, 5).title()}</h1>\n{body}<table>\n{rows}</table>\n</body>\n</html>\n")


# ---- Writer groups -----------------------------------------------------------------------------
# Each takes the corpus and its own rng and writes its files through c.out().


def pictures_imagemagick(c, rng):
    for i, (mp, q, extra) in enumerate([(0.3, 80, []), (1, 90, ["-sampling-factor", "1x1"]), (3, 85, []),
                                        (5, 92, ["-sampling-factor", "2x1"]), (12, 88, [])]):
        run([IM, c.scene(*MP[mp], i), "-quality", str(q)] + extra + [c.out("jpeg", "imagemagick", f"baseline-{mp}mp", "jpg")])
    for i, (mp, q) in enumerate([(0.5, 75), (1, 85), (2, 90), (8, 86)]):
        run([IM, c.scene(*MP[mp], i + 10), "-quality", str(q), "-interlace", "Plane",
             c.out("jpeg", "imagemagick", f"progressive-{mp}mp", "jpg")])
    png = [("PNG24", (800, 600), []), ("PNG8", (640, 480), []), ("PNG32", (700, 500), ["-alpha", "set", "-channel", "A", "-evaluate", "set", "70%", "+channel"]),
           ("PNG48", (500, 400), ["-depth", "16"]), ("PNG24", (1024, 768), ["-interlace", "PNG"]),
           ("PNG24", (900, 700), ["-define", "png:compression-level=1"])]
    for i, (fmt, size, extra) in enumerate(png):
        run([IM, c.scene(*size, i + 20)] + extra + [f"{fmt}:" + c.out("png", "imagemagick", fmt.lower(), "png")])
    for i, size in enumerate([(640, 480), (800, 600), (320, 240)]):
        run([IM, c.scene(*size, i + 32), "-colors", str(rng.choice([32, 64, 256])), c.out("gif", "imagemagick", "89a-still", "gif")])
    for i in range(2):
        frames = [c.scene(320, 240, 40 + i * 5 + k) for k in range(rng.randint(3, 6))]
        run([IM, "-delay", "20", "-loop", "0"] + frames + ["-colors", "128", c.out("gif", "imagemagick", "89a-animated", "gif")])
    for i, size in enumerate([(400, 300), (640, 480), (800, 600), (256, 256)]):
        run([IM, c.scene(*size, i + 50), "-colors", "200", "GIF87:" + c.out("gif", "imagemagick", "87a", "gif")])
    bmp = [("BMP3", (640, 480), []), ("BMP3", (800, 600), ["-type", "Palette", "-colors", "200"]),
           ("BMP", (500, 375), []), ("BMP", (400, 300), ["-alpha", "set"]),
           ("BMP3", (300, 200), ["-profile", ICC]), ("BMP", (320, 240), ["-profile", ICC]), ("BMP2", (256, 192), [])]
    for i, (fmt, size, extra) in enumerate(bmp):
        variant = fmt.lower() + ("-icc" if ICC in extra else "-alpha" if "-alpha" in extra else "-pal" if "-colors" in extra else "")
        run([IM, c.scene(*size, i + 60)] + extra + [f"{fmt}:" + c.out("bmp", "imagemagick", variant, "bmp")])
    tiff = [("strips-none", ["-compress", "None"]), ("strips-lzw", ["-compress", "LZW"]), ("strips-zip", ["-compress", "Zip"]),
            ("strips-jpeg", ["-compress", "JPEG"]), ("strips-packbits", ["-compress", "RLE"]),
            ("strips-msb", ["-compress", "None", "-endian", "MSB"]),
            ("tiles-none", ["-compress", "None", "-define", "tiff:tile-geometry=256x256"]),
            ("tiles-lzw", ["-compress", "LZW", "-define", "tiff:tile-geometry=128x128"]),
            ("tiles-zip", ["-compress", "Zip", "-define", "tiff:tile-geometry=256x256"])]
    for i, (variant, extra) in enumerate(tiff):
        run([IM, c.scene(*rng.choice([(640, 480), (800, 600), (1024, 768), (500, 500)]), i + 70)] + extra
            + ["TIFF:" + c.out("tiff", "imagemagick", variant, "tif")])
    pages = [c.scene(400, 300, 80 + k) for k in range(3)]
    run([IM] + pages + ["-compress", "LZW", "TIFF:" + c.out("tiff", "imagemagick", "multipage", "tif")])
    psd = [((640, 480), []), ((800, 600), []), ((1024, 768), []), ((300, 200), []), ((500, 400), ["-depth", "16"]),
           ((400, 300), ["-depth", "16"]), ((640, 480), ["-colorspace", "Gray"]), ((700, 500), ["-colorspace", "Gray"]),
           ((640, 480), ["-compress", "None"]), ((320, 240), ["-compress", "None"])]
    for i, (size, extra) in enumerate(psd):
        variant = "16bit" if "-depth" in extra else "gray" if "Gray" in extra else "raw" if "None" in extra else "rle"
        run([IM, c.scene(*size, i + 90)] + extra + ["PSD:" + c.out("psd", "imagemagick", variant, "psd")])
    for i in range(2):
        layers = [c.scene(400, 300, 100 + i * 4 + k) for k in range(3)]
        run([IM] + layers + ["PSD:" + c.out("psd", "imagemagick", "layered", "psd")])


def pictures_cjpeg(c, rng):
    options = [(1, ["-quality", "85"], "baseline"), (2, ["-progressive", "-quality", "90"], "progressive"),
               (0.5, ["-optimize", "-quality", "80"], "optimized"), (3, ["-restart", "4", "-quality", "88"], "restart"),
               (1, ["-grayscale", "-quality", "85"], "gray"), (5, ["-sample", "1x1", "-dct", "float", "-quality", "92"], "444")]
    for i, (mp, opts, variant) in enumerate(options):
        with open(c.out("jpeg", "cjpeg", f"{variant}-{mp}mp", "jpg"), "wb") as f:
            run(["cjpeg"] + opts + [c.scene(*MP[mp], 110 + i)], stdout=f)


def pictures_netpbm(c, rng):
    for i, (size, opts) in enumerate([((640, 480), []), ((800, 600), ["-interlace"]), ((1024, 768), ["-compression", "9"]),
                                      ((500, 400), ["-force"])]):
        with open(c.out("png", "netpbm", "interlaced" if opts == ["-interlace"] else "plain", "png"), "wb") as f:
            run(["pnmtopng"] + opts + [c.scene(*size, 120 + i)], stdout=f)
    for i, size in enumerate([(320, 240), (640, 480), (800, 600), (400, 400)]):
        quant = run(["pnmquant", "256", c.scene(*size, 130 + i)])
        gif = subprocess.run(nice(["pamtogif"] + (["-interlace"] if i % 2 else [])), input=quant,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout
        open(c.out("gif", "netpbm", "interlaced" if i % 2 else "plain", "gif"), "wb").write(gif)
    for i, (size, opts, variant) in enumerate([((640, 480), ["-windows"], "windows"), ((400, 300), ["-os2"], "os2"),
                                               ((800, 600), ["-windows", "-bpp", "24"], "windows-24")]):
        with open(c.out("bmp", "netpbm", variant, "bmp"), "wb") as f:
            run(["ppmtobmp"] + opts + [c.scene(*size, 140 + i)], stdout=f)
    for i, (size, opts, variant) in enumerate([((640, 480), ["-lzw"], "lzw"), ((800, 600), ["-packbits"], "packbits"),
                                               ((500, 500), ["-none"], "none")]):
        with open(c.out("tiff", "netpbm", variant, "tif"), "wb") as f:
            run(["pnmtotiff"] + opts + [c.scene(*size, 150 + i)], stdout=f)


def pictures_python(c, rng):
    for i, (size, gray, idat, level) in enumerate([((640, 480), False, 8192, 6), ((800, 600), False, 65536, 9),
                                                   ((500, 400), True, 32768, 6), ((320, 240), False, 1 << 20, 1),
                                                   ((1024, 768), False, 65536, 6)]):
        w, h, rgb = read_ppm(c.scene(*size, 160 + i))
        write_png(c.out("png", "python", "gray" if gray else "rgb", "png"), w, h, rgb, gray=gray, idat=idat, level=level,
                  text=words(rng, 6) if i % 2 else None, rng=rng)
    for i, (size, n, version) in enumerate([((320, 240), 1, b"87a"), ((400, 300), 1, b"89a"), ((200, 150), 4, b"89a"),
                                            ((640, 480), 1, b"87a")]):
        frames = [read_ppm(c.scene(*size, 170 + i * 5 + k))[2] for k in range(n)]
        write_gif(c.out("gif", "python", version.decode() + ("-animated" if n > 1 else ""), "gif"), *size, frames, version)
    for i, (size, header, bits, top) in enumerate([((640, 480), 40, 24, False), ((500, 375), 40, 8, False),
                                                   ((400, 300), 108, 32, False), ((600, 400), 124, 24, False),
                                                   ((320, 240), 40, 24, True)]):
        w, h, rgb = read_ppm(c.scene(*size, 180 + i))
        write_bmp(c.out("bmp", "python", f"v{ {40: 3, 108: 4, 124: 5}[header]}-{bits}bit" + ("-topdown" if top else ""), "bmp"),
                  w, h, rgb, header=header, bits=bits, top_down=top)
    for i, (size, be, rps, first) in enumerate([((640, 480), False, 16, True), ((500, 400), True, 8, True),
                                                ((800, 600), False, 64, False)]):
        w, h, rgb = read_ppm(c.scene(*size, 190 + i))
        write_tiff(c.out("tiff", "python", ("be" if be else "le") + ("-ifd-first" if first else "-ifd-last"), "tif"),
                   w, h, rgb, big_endian=be, rows_per_strip=rps, ifd_first=first)
    for i, (size, rle, gray) in enumerate([((640, 480), False, False), ((800, 600), True, False), ((300, 200), False, False),
                                           ((500, 400), True, False), ((400, 300), False, True), ((1024, 768), True, False),
                                           ((256, 256), True, True), ((700, 500), False, False)]):
        w, h, rgb = read_ppm(c.scene(*size, 200 + i))
        write_psd(c.out("psd", "python", ("rle" if rle else "raw") + ("-gray" if gray else ""), "psd"), w, h, rgb,
                  rle=rle, gray=gray, resources=i % 3 != 2)


def pictures_ffmpeg(c, rng):
    sources = ["mandelbrot=size={s}", "testsrc2=size={s}", "cellauto=size={s}:rule=30", "life=size={s}:mold=10:ratio=0.3",
               "smptehdbars=size={s}", "rgbtestsrc=size={s}"]

    def frame(src, size, out, args, skip=None):
        skip = rng.randint(2, 40) if skip is None else skip
        run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", src.format(s=size),
             "-vf", f"select=gte(n\\,{skip}),noise=alls={rng.randint(0, 12)}:allf=t", "-frames:v", "1"] + args + [out])

    for i, (size, args) in enumerate([("1280x720", ["-q:v", "3"]), ("1920x1080", ["-q:v", "2"]),
                                      ("640x480", ["-q:v", "6", "-pix_fmt", "yuvj444p"]), ("1024x768", ["-q:v", "4"])]):
        frame(sources[i % 2], size, c.out("jpeg", "ffmpeg", "mjpeg", "jpg"), args)
    for i, fmt in enumerate(["rgb24", "rgba", "rgb48be", "gray"]):
        frame(sources[i], rng.choice(["640x480", "800x600", "1024x768"]), c.out("png", "ffmpeg", fmt, "png"), ["-pix_fmt", fmt])
    for i, pal in enumerate([False, True, False, True]):
        out = c.out("gif", "ffmpeg", "animated-palette" if pal else "animated", "gif")
        vf = "split[a][b];[a]palettegen[p];[b][p]paletteuse" if pal else "format=rgb8"
        # The duration bounds the source itself: palettegen holds every frame until its input ends.
        run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-t", str(rng.randint(1, 3)), "-f", "lavfi", "-i",
             sources[i].format(s=rng.choice(["320x240", "400x300", "240x180"])) + ":rate=8", "-vf", vf, out])
    for i, fmt in enumerate(["bgr24", "bgra", "rgb565le", "pal8"]):
        args = ["-pix_fmt", fmt] if fmt != "pal8" else ["-vf", "format=rgb8", "-pix_fmt", "pal8"]
        frame(sources[i + 1], rng.choice(["320x240", "640x480", "800x600"]), c.out("bmp", "ffmpeg", fmt, "bmp"), args)
    for i, algo in enumerate(["packbits", "lzw", "deflate"]):
        frame(sources[i + 2], rng.choice(["640x480", "800x600"]), c.out("tiff", "ffmpeg", algo, "tif"), ["-compression_algo", algo])


def pictures_ghostscript(c, rng):
    for i, (dev, res) in enumerate([("jpeg", 100), ("jpeg", 150), ("jpeggray", 120)]):
        run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", f"-sDEVICE={dev}", f"-r{res}", "-dFirstPage=1", "-dLastPage=1",
             f"-dJPEGQ={rng.randint(70, 95)}", "-o", c.out("jpeg", "ghostscript", dev, "jpg"), c.postscript(i, rng)])
    for i, (dev, res) in enumerate([("png16m", 72), ("pnggray", 100), ("pngalpha", 60)]):
        run(["gs", "-q", "-dSAFER", f"-sDEVICE={dev}", f"-r{res}", "-dFirstPage=1", "-dLastPage=1",
             "-o", c.out("png", "ghostscript", dev, "png"), c.postscript(i + 3, rng)])
    for i, (dev, res) in enumerate([("bmp16m", 60), ("bmp256", 80)]):
        run(["gs", "-q", "-dSAFER", f"-sDEVICE={dev}", f"-r{res}", "-dFirstPage=1", "-dLastPage=1",
             "-o", c.out("bmp", "ghostscript", dev, "bmp"), c.postscript(i + 6, rng)])
    for i, (dev, res) in enumerate([("tiff24nc", 72), ("tifflzw", 100), ("tiffg4", 150), ("tiffgray", 80)]):
        run(["gs", "-q", "-dSAFER", f"-sDEVICE={dev}", f"-r{res}", "-dFirstPage=1", "-dLastPage=1",
             "-o", c.out("tiff", "ghostscript", dev, "tif"), c.postscript(i + 8, rng)])


def photos_debian(c, rng):
    """Real photographs from Debian's wallpaper packages, fetched with apt-get download."""
    debs = os.path.join(os.path.dirname(c.folder), "debs")
    os.makedirs(debs, exist_ok=True)
    for package, files in PHOTOS.items():
        tree = os.path.join(debs, package)
        if not os.path.isdir(tree):
            if not any(n.startswith(package + "_") for n in os.listdir(debs)):
                if subprocess.run(["apt-get", "download", package], cwd=debs, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode != 0:
                    subprocess.run(["apt-get", "update", "-qq"], stdout=subprocess.DEVNULL)
                    subprocess.run(["apt-get", "download", package], cwd=debs, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
            deb = [n for n in os.listdir(debs) if n.startswith(package + "_") and n.endswith(".deb")]
            if not deb:
                print(f"corpus: could not fetch {package}; its photos are left out", file=sys.stderr)
                continue
            run(["dpkg-deb", "-x", os.path.join(debs, deb[0]), tree + ".part"])
            os.replace(tree + ".part", tree)
        for name, writer in files:
            src = os.path.join(tree, "usr", "share", "backgrounds", name)
            if os.path.exists(src):
                shutil.copyfile(src, c.out("jpeg", writer, package, "jpg"))


def documents_ghostscript_qpdf(c, rng):
    made = []
    for i in range(6):
        level = rng.choice(["1.4", "1.5", "1.7"])
        out = c.out("pdf", "ghostscript", f"ps2pdf-{level}", "pdf")
        run(["ps2pdf", f"-dCompatibilityLevel={level}", c.postscript(20 + i, rng, large=True), out])
        made.append(out)
    for i, src in enumerate(made[:3]):
        run(["qpdf", "--deterministic-id", "--linearize", src, c.out("pdf", "qpdf", "linearized", "pdf")])
    for i, src in enumerate(made[2:5]):
        run(["qpdf", "--deterministic-id", "--object-streams=generate", src, c.out("pdf", "qpdf", "object-streams", "pdf")])
    run(["qpdf", "--deterministic-id", "--qdf", made[5], c.out("pdf", "qpdf", "qdf", "pdf")])
    run(["qpdf", "--deterministic-id", "--empty", "--pages", made[0], made[1], "--", c.out("pdf", "qpdf", "merged", "pdf")])
    for i, src in enumerate([made[3], made[4]]):
        data = open(src, "rb").read()
        for _ in range(i + 1):
            data = incremental_update(data, rng)
        open(c.out("pdf", "python", f"incremental-{i + 1}", "pdf"), "wb").write(data)
    for i in range(3):
        data = pdf_bytes(rng, rng.randint(1, 20))
        if i == 2:
            data = incremental_update(data, rng)
        open(c.out("pdf", "python", "handwritten" + ("-incremental" if i == 2 else ""), "pdf"), "wb").write(data)


def documents_html(c, rng):
    for i in range(6):
        open(c.out("html", "python", "page", "html"), "w", encoding="utf-8").write(html_page(rng, rng.randint(1, 80)))
    for module in ["json", "zipfile", "textwrap", "difflib", "argparse", "tarfile"]:
        run([sys.executable, "-m", "pydoc", "-w", module], cwd=c.scratch)
        shutil.move(os.path.join(c.scratch, module + ".html"), c.out("html", "pydoc", module, "html"))
    for module in ["argparse", "difflib", "textwrap", "zipfile"]:
        source = importlib.import_module(module).__file__
        run(["enscript", "-q", "--language=html", "--color", "-Epython", "-o", c.out("html", "enscript", module, "html"), source])


def archives(c, rng):
    """Archives of text, incompressible bytes and pictures, by Info-ZIP, Python's zipfile and 7-Zip."""
    def fill(folder, n):
        os.makedirs(folder, exist_ok=True)
        for k in range(n):
            kind = rng.random()
            path = os.path.join(folder, f"item{k:02d}")
            if kind < 0.5:
                open(path + ".txt", "w").write("\n".join(words(rng, 12) for _ in range(rng.randint(10, 3000))))
            elif kind < 0.75:
                open(path + ".bin", "wb").write(rng.randbytes(rng.randint(1000, 200000)))
            else:
                shutil.copyfile(c.scene(*rng.choice([(320, 240), (640, 480)]), 250 + k), path + ".ppm")
        return folder

    for i, (opts, variant) in enumerate([(["-0"], "stored"), (["-9"], "deflated"), (["-6", "-fz"], "zip64"),
                                          (["-1"], "deflated-fast"), (["-9", "-z"], "comment"), (["-0", "-fz"], "zip64-stored")]):
        src = fill(c.tmp(f"zipsrc-{i}"), rng.randint(3, 15))
        out = c.out("zip", "info-zip", variant, "zip")
        # -z reads the archive's comment from standard input.
        subprocess.run(nice(["zip", "-q", "-r", "-X"] + opts + [out, "."]), cwd=src, input=b"an archive comment\n.\n",
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    methods = [(zipfile.ZIP_STORED, False, "stored"), (zipfile.ZIP_DEFLATED, False, "deflated"),
               (zipfile.ZIP_BZIP2, False, "bzip2"), (zipfile.ZIP_LZMA, False, "lzma"),
               (zipfile.ZIP_DEFLATED, True, "zip64"), (zipfile.ZIP_STORED, True, "zip64-stored")]
    for i, (method, z64, variant) in enumerate(methods):
        src = fill(c.tmp(f"pyzipsrc-{i}"), rng.randint(3, 15))
        with zipfile.ZipFile(c.out("zip", "python", variant, "zip"), "w", method) as z:
            if i % 2:
                z.comment = words(rng, 5).encode()
            for name in sorted(os.listdir(src)):
                info = zipfile.ZipInfo(name, date_time=(2020, 1 + i, 1 + i, 12, 0, 0))
                info.compress_type = method
                with open(os.path.join(src, name), "rb") as fh, z.open(info, "w", force_zip64=z64) as dst:
                    shutil.copyfileobj(fh, dst)
    for i, (method, variant) in enumerate([("Deflate", "deflate"), ("Copy", "stored"), ("Deflate64", "deflate64"),
                                           ("Deflate", "deflate-ultra")]):
        src = fill(c.tmp(f"7zsrc-{i}"), rng.randint(3, 15))
        opts = ["-mx=9"] if "ultra" in variant else []
        run(["7z", "a", "-bd", "-tzip", f"-mm={method}"] + opts + [c.out("zip", "7-zip", variant, "zip"), "."], cwd=src)


def compound_files(c, rng):
    """Compound files by libgsf (gsf createole) and by Python, and ZIPs by libgsf (gsf createzip)."""
    def streams():
        out = {}
        for k in range(rng.randint(1, 6)):
            if rng.random() < 0.5:
                data = "\n".join(words(rng, 10) for _ in range(rng.randint(60, 3000))).encode()
            else:
                data = rng.randbytes(rng.randint(4096, 300000))
            out[f"{rng.choice(['Contents', 'Data', 'Stream', 'Table', 'Pictures'])}{k}"] = data
        return out

    for i in range(6):
        folder = c.tmp(f"gsf-{i}")
        os.makedirs(folder, exist_ok=True)
        members = streams()
        for name, data in members.items():
            open(os.path.join(folder, name), "wb").write(data)
        run(["gsf", "createole", c.out("cdoc", "libgsf", "createole", "ole")] + sorted(members), cwd=folder)
        if i < 4:
            run(["gsf", "createzip", c.out("zip", "libgsf", "createzip", "zip")] + sorted(members), cwd=folder)
    for i in range(6):
        write_compound(c.out("cdoc", "python", "v3", "ole"), streams())


# LibreOffice: flat ODF sources made here, converted in one soffice call per target format.
ODF_NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
          'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
          'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
          'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
          'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
          'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
          'xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" '
          'xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3"')


def odf_picture(c, rng, n, w_cm, h_cm):
    size = rng.choice([(320, 240), (640, 480), (1024, 768)])
    path = c.tmp(f"odfpic-{n}.jpg" if n % 2 else f"odfpic-{n}.png")
    if not os.path.exists(path):
        run([IM, c.scene(*size, 300 + n), "-quality", "85", path])
    data = base64.b64encode(open(path, "rb").read()).decode()
    return (f'<draw:frame svg:width="{w_cm}cm" svg:height="{h_cm}cm" text:anchor-type="paragraph">'
            f'<draw:image><office:binary-data>{data}</office:binary-data></draw:image></draw:frame>')


def fodt(c, rng, n):
    parts = []
    for p in range(rng.choice([3, 10, 40, 150, 400])):
        if p % 9 == 0:
            parts.append(f'<text:h text:outline-level="1">{words(rng, 4).title()}</text:h>')
        parts.append(f"<text:p>{words(rng, rng.randint(15, 90))}</text:p>")
        if p % 25 == 7:
            cells = "".join(f'<table:table-row>{"".join(f"<table:table-cell><text:p>{words(rng, 2)}</text:p></table:table-cell>" for _ in range(4))}</table:table-row>'
                            for _ in range(rng.randint(3, 20)))
            parts.append(f'<table:table table:name="T{p}"><table:table-column table:number-columns-repeated="4"/>{cells}</table:table>')
    for k in range(rng.choice([0, 0, 1, 2, 3])):
        parts.insert(rng.randrange(len(parts) + 1), f"<text:p>{odf_picture(c, rng, n * 10 + k, 12, 9)}</text:p>")
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document {ODF_NS} '
            f'office:mimetype="application/vnd.oasis.opendocument.text"><office:body><office:text>'
            + "\n".join(parts) + "</office:text></office:body></office:document>\n")


def fods(c, rng, n):
    sheets = []
    for s in range(rng.randint(1, 3)):
        rows = []
        for r in range(rng.choice([10, 50, 300, 1500])):
            cells = [f'<table:table-cell office:value-type="float" office:value="{rng.random() * 1e4:.3f}"/>' for _ in range(rng.randint(2, 10))]
            cells.append(f'<table:table-cell office:value-type="string"><text:p>{words(rng, 3)}</text:p></table:table-cell>')
            rows.append("<table:table-row>" + "".join(cells) + "</table:table-row>")
        sheets.append(f'<table:table table:name="Sheet{s + 1}">' + "".join(rows) + "</table:table>")
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document {ODF_NS} '
            f'office:mimetype="application/vnd.oasis.opendocument.spreadsheet"><office:body><office:spreadsheet>'
            + "".join(sheets) + "</office:spreadsheet></office:body></office:document>\n")


def fodp(c, rng, n):
    pages = []
    for p in range(rng.randint(1, 12)):
        body = "".join(f"<text:p>{words(rng, rng.randint(4, 14))}</text:p>" for _ in range(rng.randint(2, 7)))
        pic = ""
        if rng.random() < 0.3:
            pic = odf_picture(c, rng, 500 + n * 20 + p, 10, 7.5).replace(' text:anchor-type="paragraph"', ' svg:x="16cm" svg:y="6cm"')
        pages.append(f'<draw:page draw:name="p{p + 1}" draw:master-page-name="Default">'
                     f'<draw:frame svg:x="1.5cm" svg:y="1.5cm" svg:width="24cm" svg:height="12cm"><draw:text-box>{body}</draw:text-box></draw:frame>'
                     f"{pic}</draw:page>")
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document {ODF_NS} '
            f'office:mimetype="application/vnd.oasis.opendocument.presentation">'
            f'<office:automatic-styles><style:page-layout style:name="PM1"><style:page-layout-properties fo:page-width="28cm" fo:page-height="15.75cm"/></style:page-layout></office:automatic-styles>'
            f'<office:master-styles><style:master-page style:name="Default" style:page-layout-name="PM1"/></office:master-styles>'
            f'<office:body><office:presentation>' + "".join(pages) + "</office:presentation></office:body></office:document>\n")


def office_libreoffice(c, rng):
    """Writer, Calc and Impress documents: sources of varied size, some with pictures, each
    converted in one soffice call per target format."""
    # app: source maker, ext, count, then (target filter, kind, how many of the sources)
    apps = [("writer", fodt, "fodt", 8, [("doc:MS Word 97", "cdoc", 8), ("docx:MS Word 2007 XML", "zip", 3),
                                         ("odt", "zip", 2), ("pdf:writer_pdf_Export", "pdf", 4),
                                         ("html:HTML (StarWriter)", "html", 5)]),
            ("calc", fods, "fods", 7, [("xls:MS Excel 97", "cdoc", 7), ("xlsx:Calc MS Excel 2007 XML", "zip", 2),
                                       ("ods", "zip", 1), ("pdf:calc_pdf_Export", "pdf", 2),
                                       ("html:HTML (StarCalc)", "html", 2)]),
            ("impress", fodp, "fodp", 7, [("ppt:MS PowerPoint 97", "cdoc", 7),
                                          ("pptx:Impress MS PowerPoint 2007 XML", "zip", 2), ("odp", "zip", 1),
                                          ("pdf:impress_pdf_Export", "pdf", 3)])]
    profile = "file://" + c.tmp("lo-profile")
    for app, maker, ext, count, targets in apps:
        sources = []
        for i in range(count):
            path = c.tmp(f"{app}-{i:02d}.{ext}")
            open(path, "w", encoding="utf-8").write(maker(c, rng, i))
            sources.append(path)
        for target, kind, n in targets:
            fmt = target.split(":")[0]
            outdir = c.tmp(f"lo-{app}-{fmt}")
            shutil.rmtree(outdir, ignore_errors=True)
            run(["soffice", f"-env:UserInstallation={profile}", "--headless", "--convert-to", target,
                 "--outdir", outdir] + sources[:n])
            for src in sources[:n]:
                made = os.path.join(outdir, os.path.splitext(os.path.basename(src))[0] + "." + fmt)
                shutil.move(made, c.out(kind, f"libreoffice-{app}", fmt, fmt))


def movie_bytes(rng):
    """A movie's target size: 100 KB to 5 MB, spread evenly on a log scale."""
    return int(math.exp(rng.uniform(math.log(100e3), math.log(5e6))))


def movies_ffmpeg(c, rng):
    sources = ["testsrc2=size={s}:rate={r}", "mandelbrot=size={s}:rate={r}", "smptehdbars=size={s}:rate={r}",
               "cellauto=size={s}:rate={r}:rule=110", "life=size={s}:rate={r}:mold=5", "rgbtestsrc=size={s}:rate={r}"]

    def movie(out, size, vcodec, extra=(), audio=None, fmt=None):
        """A movie of a test source with noise, its bit rate set for the target size."""
        seconds = rng.randint(2, 10)
        bitrate = movie_bytes(rng) * 8 // seconds
        src = rng.choice(sources).format(s=size, r=15)
        cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-t", str(seconds), "-f", "lavfi", "-i", src]
        if audio:
            cmd += ["-t", str(seconds), "-f", "lavfi", "-i", f"sine=frequency={rng.randint(200, 900)}:sample_rate=44100"]
        cmd += ["-vf", f"noise=alls={rng.randint(2, 25)}:allf=t+u", "-c:v", vcodec, "-b:v", str(bitrate),
                "-maxrate", str(bitrate), "-bufsize", str(bitrate)] + list(extra)
        if audio:
            cmd += ["-c:a", audio]
        cmd += (["-f", fmt] if fmt else []) + [out]
        run(cmd)

    mov = [("mp4", "libx264", [], "h264"), ("mp4", "libx264", ["-movflags", "+faststart"], "h264-faststart"),
           ("mp4", "mpeg4", [], "mpeg4"), ("mp4", "mpeg4", ["-movflags", "+faststart"], "mpeg4-faststart"),
           ("mov", "mjpeg", [], "mjpeg"), ("mov", "mjpeg", ["-movflags", "+faststart"], "mjpeg-faststart"),
           ("mov", "libx264", ["-movflags", "+faststart"], "h264-faststart-aac"), ("mp4", "libx264", ["-preset", "veryfast"], "h264-aac"),
           ("3gp", "h263", [], "h263"), ("3gp", "h263", ["-movflags", "+faststart"], "h263-faststart"),
           ("3gp", "h263", ["-s", "352x288"], "h263-cif"), ("mp4", "libx264", ["-movflags", "frag_keyframe+empty_moov"], "h264-fragmented"),
           ("mov", "mpeg4", [], "mpeg4-pcm"), ("mp4", "libx264", ["-movflags", "+faststart"], "h264-faststart")]
    for ext, vcodec, extra, variant in mov:
        size = "176x144" if vcodec == "h263" else rng.choice(["320x240", "640x360", "640x480", "1280x720"])
        audio = "aac" if variant.endswith("aac") else "pcm_s16le" if variant.endswith("pcm") else None
        movie(c.out("mov", f"ffmpeg-{ext}", variant, ext), size, vcodec, extra, audio)
    avi = [("mjpeg", [], None), ("mjpeg", [], None), ("mjpeg", [], "pcm_s16le"), ("mpeg4", [], None),
           ("mpeg4", ["-vtag", "XVID"], None), ("mpeg4", [], "libmp3lame"), ("msmpeg4", [], None), ("msmpeg4v2", [], None),
           ("libx264", [], None), ("mjpeg", [], None), ("mpeg4", [], None)]
    for vcodec, extra, audio in avi:
        variant = vcodec + ("-" + audio if audio else "")
        movie(c.out("avi", "ffmpeg", variant, "avi"), rng.choice(["320x240", "640x480", "480x360"]), vcodec, extra, audio)
    wmv = [("wmv1", None)] * 5 + [("wmv2", None)] * 6 + [("wmv2", "wmav2"), ("wmv1", "wmav2"), ("wmv2", "wmav1")]
    for vcodec, audio in wmv:
        movie(c.out("wmv", "ffmpeg", vcodec + ("-" + audio if audio else ""), "wmv"), rng.choice(["320x240", "640x480", "480x360"]),
              vcodec, [], audio, fmt="asf")


def movies_gstreamer(c, rng):
    patterns = ["smpte", "ball", "snow", "circular", "zone-plate", "pinwheel", "spokes", "gamut", "chroma-zone-plate"]

    def pipeline(out, encoder, muxer, frames, size):
        w, h = size
        src = (f"videotestsrc num-buffers={frames} pattern={rng.choice(patterns)} ! "
               f"video/x-raw,width={w},height={h},framerate=15/1 ! videoconvert ! ")
        run(["gst-launch-1.0", "-q"] + (src + f"{encoder} ! {muxer} ! filesink location={out}").split())

    sizes = [(320, 240), (640, 480), (352, 288)]
    for enc, mux, ext, variant in [
            ("avenc_mpeg4 bitrate={b}", "mp4mux", "mp4", "mpeg4"), ("avenc_mpeg4 bitrate={b}", "mp4mux faststart=true", "mp4", "mpeg4-faststart"),
            ("jpegenc quality={q}", "qtmux", "mov", "mjpeg"), ("jpegenc quality={q}", "qtmux faststart=true", "mov", "mjpeg-faststart"),
            ("avenc_h263 bitrate={b}", "3gppmux", "3gp", "h263"), ("avenc_mpeg4 bitrate={b}", "qtmux", "mov", "mpeg4")]:
        size = (352, 288) if "h263" in enc else rng.choice(sizes)
        frames = rng.randint(30, 150)
        enc = enc.format(b=movie_bytes(rng) * 8 * 15 // frames, q=rng.randint(30, 90))
        pipeline(c.out("mov", f"gstreamer-{ext}", variant, ext), enc, mux, frames, size)
    for enc, variant in [("jpegenc quality={q}", "mjpeg"), ("jpegenc quality={q}", "mjpeg"), ("jpegenc quality={q}", "mjpeg"),
                         ("avenc_mpeg4 bitrate={b}", "mpeg4"), ("avenc_mpeg4 bitrate={b}", "mpeg4")]:
        frames = rng.randint(20, 100)
        enc = enc.format(b=movie_bytes(rng) * 8 * 15 // frames, q=rng.randint(30, 90))
        pipeline(c.out("avi", "gstreamer", variant, "avi"), enc, "avimux", frames, rng.choice(sizes))
    for codec in ["avenc_wmv1", "avenc_wmv2"] * 3:
        frames = rng.randint(30, 150)
        pipeline(c.out("wmv", "gstreamer", codec[6:], "wmv"), f"{codec} bitrate={movie_bytes(rng) * 8 * 15 // frames}",
                 "asfmux", frames, rng.choice(sizes))


def movies_mencoder(c, rng):
    for i, (codec, extra) in enumerate([("mpeg4", ":vbitrate=600"), ("mpeg4", ":vqscale=6"), ("mjpeg", ":vbitrate=2000"),
                                        ("mjpeg", ":vqscale=8")]):
        w, h = rng.choice([(320, 240), (640, 480)])
        raw = c.tmp(f"mencoder-{i}.yuv")
        run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-t", str(rng.randint(2, 6)), "-f", "lavfi", "-i",
             f"testsrc2=size={w}x{h}:rate=15", "-vf", f"noise=alls={rng.randint(3, 20)}:allf=t",
             "-f", "rawvideo", "-pix_fmt", "yuv420p", raw])
        run(["mencoder", "-really-quiet", raw, "-demuxer", "rawvideo", "-rawvideo", f"w={w}:h={h}:fps=15",
             "-ovc", "lavc", "-lavcopts", f"vcodec={codec}{extra}", "-o", c.out("avi", "mencoder", codec, "avi")])
        os.remove(raw)


GROUPS = [("photos-debian", photos_debian, None), ("pictures-imagemagick", pictures_imagemagick, IM),
          ("pictures-cjpeg", pictures_cjpeg, "cjpeg"), ("pictures-netpbm", pictures_netpbm, "pnmtopng"),
          ("pictures-python", pictures_python, None), ("pictures-ffmpeg", pictures_ffmpeg, "ffmpeg"),
          ("pictures-ghostscript", pictures_ghostscript, "gs"), ("documents-pdf", documents_ghostscript_qpdf, "qpdf"),
          ("documents-html", documents_html, "enscript"), ("archives", archives, "7z"),
          ("compound-files", compound_files, "gsf"),
          ("office-libreoffice", office_libreoffice, "soffice"), ("movies-ffmpeg", movies_ffmpeg, "ffmpeg"),
          ("movies-gstreamer", movies_gstreamer, "gst-launch-1.0"), ("movies-mencoder", movies_mencoder, "mencoder")]


def corpus_stamp(seed):
    """What the corpus is made from: this file and the seed."""
    with open(__file__, "rb") as fh:
        return hashlib.sha256(fh.read() + f"seed={seed}".encode()).hexdigest()[:12]


def build_corpus(folder, seed, log=print):
    """Makes (or finishes) the corpus in folder; returns its manifest rows
    (name, kind, writer, variant, size, sha256)."""
    manifest = os.path.join(folder, "manifest.tsv")
    if os.path.exists(manifest):
        return read_manifest(manifest)
    os.makedirs(folder, exist_ok=True)
    missing = ensure_tools()
    if missing:
        log(f"corpus: missing writers, their files are left out: {' '.join(missing)}")
    c = Corpus(folder, seed)
    for name, group, tool in GROUPS:
        marker = os.path.join(folder, f".done-{name}")
        if os.path.exists(marker):
            c.entries += [tuple(e) for e in json.load(open(marker))]
            continue
        if tool and not shutil.which(tool):
            continue
        before = len(c.entries)
        started = time.monotonic()
        try:
            group(c, c.rng(name))
        except (RuntimeError, OSError, subprocess.CalledProcessError) as e:
            log(f"corpus: {name} stopped: {e}")
            del c.entries[before:]
            continue
        json.dump(c.entries[before:], open(marker, "w"))
        log(f"corpus: {name}: {len(c.entries) - before} files in {time.monotonic() - started:.0f} s")
    rows, seen = [], set()
    for name, kind, writer, variant in c.entries:
        path = os.path.join(c.files, name)
        if not os.path.exists(path) or os.path.getsize(path) == 0:
            log(f"corpus: {name} was not written")
            continue
        with open(path, "rb") as fh:
            sha = hashlib.sha256(fh.read()).hexdigest()
        if sha in seen:  # the same bytes twice would blur the scores
            log(f"corpus: {name} repeats another file; left out")
            continue
        seen.add(sha)
        rows.append((name, kind, writer, variant, os.path.getsize(path), sha))
    with open(manifest + ".part", "w") as f:
        f.write("name\tkind\twriter\tvariant\tsize\tsha256\n")
        for row in rows:
            f.write("\t".join(map(str, row)) + "\n")
    os.replace(manifest + ".part", manifest)
    shutil.rmtree(c.scratch, ignore_errors=True)
    return rows


def read_manifest(path):
    rows = []
    for line in open(path).read().splitlines()[1:]:
        name, kind, writer, variant, size, sha = line.split("\t")
        rows.append((name, kind, writer, variant, int(size), sha))
    return rows
