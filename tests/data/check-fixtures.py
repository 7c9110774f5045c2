#!/usr/bin/env python3
"""Prints the structural facts of the sample files in this folder that the
carver's tests rely on, and fails (exit 1) when one of them does not hold.

Usage: python3 tests/data/check-fixtures.py [folder]
"""
import os
import re
import struct
import sys
import zlib

HERE = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
failures = []


def read(name):
    with open(os.path.join(HERE, name), 'rb') as f:
        return f.read()


def check(name, cond, what):
    if not cond:
        failures.append(f'{name}: {what}')
        print(f'  FAIL: {what}')


def report(name, *facts):
    print(f'{name} ({len(read(name))} bytes)')
    for f in facts:
        print(f'  {f}')


# ------------------------------------------------------------------ JPEG
def jpeg_eoi_positions(d):
    return [m.start() for m in re.finditer(b'\xff\xd9', d)]


for name in ('photo-jfif.jpg', 'photo-exif.jpg'):
    d = read(name)
    eoi = jpeg_eoi_positions(d)
    soi = [m.start() for m in re.finditer(b'\xff\xd8\xff', d)]
    report(name, f'starts {d[:4].hex(" ")}', f'FF D8 FF at {soi}', f'FF D9 at {eoi}')
    check(name, d.endswith(b'\xff\xd9'), 'ends with FF D9')
    if name == 'photo-jfif.jpg':
        check(name, d[:4] == b'\xff\xd8\xff\xe0', 'starts FF D8 FF E0')
        check(name, eoi == [len(d) - 2], 'only FF D9 is the last two bytes')
    else:
        check(name, d[:4] == b'\xff\xd8\xff\xe1', 'starts FF D8 FF E1')
        check(name, d[6:12] == b'Exif\0\0', 'APP1 Exif')
        seglen = struct.unpack('>H', d[4:6])[0]
        print(f'  APP1 length field {seglen} (segment ends at {4 + seglen})')
        check(name, len(soi) == 2 and len(eoi) >= 2 and eoi[0] < 4 + seglen,
              'thumbnail SOI/EOI inside APP1')



def jpeg_walk(d):
    """Top-level marker codes from SOI on: segments by their lengths, scan data to the next
    marker that is neither a stuffed 00 nor RSTm. Returns (codes, offset after EOI)."""
    p, codes = 2, []
    while d[p] == 0xFF:
        c = d[p + 1]
        codes.append(c)
        if c == 0xD9:
            return codes, p + 2
        p += 2 + struct.unpack('>H', d[p + 2:p + 4])[0]
        if c == 0xDA:
            while True:
                q = d.index(b'\xff', p)
                if d[q + 1] == 0 or 0xD0 <= d[q + 1] <= 0xD7:
                    p = q + 2
                else:
                    p = q
                    break
    return codes, p


for name, scans in (('photo-large.jpg', 1), ('photo-progressive.jpg', 10), ('photo-progressive-q60.jpg', 10)):
    d = read(name)
    codes, end = jpeg_walk(d)
    rst = len(re.findall(b'\xff[\xd0-\xd7]', d))
    report(name, 'markers ' + ' '.join(f'{c:02X}' for c in codes), f'walk ends at {end}', f'RSTm markers {rst}')
    check(name, end == len(d), 'the marker walk ends with EOI at the end of the file')
    check(name, codes.count(0xDA) == scans, f'{scans} scan(s)')
    if name == 'photo-large.jpg':
        check(name, len(d) > 1 << 20, 'over 1 MiB')
        check(name, 0xDD in codes and rst == 760, 'DRI segment and 760 restart markers')
    else:
        check(name, 0xC2 in codes, 'progressive frame (SOF2)')

# ------------------------------------------------------------------ GIF
for name, ver in (('image89a.gif', b'GIF89a'), ('image87a.gif', b'GIF87a')):
    d = read(name)
    report(name, f'header {d[:6].decode()}', f'last bytes {d[-2:].hex(" ")}')
    check(name, d[:6] == ver, f'header {ver.decode()}')
    check(name, d.endswith(b'\x00\x3b'), 'ends 00 3B')



def gif_blocks(d):
    """(introducer, start of its sub-blocks, end) for each block, and the trailer's offset."""
    p = 13 + (3 << ((d[10] & 7) + 1) if d[10] & 0x80 else 0)
    blocks = []
    while d[p] != 0x3B:
        kind = d[p]
        if kind == 0x21:
            data = p + 2
        else:
            data = p + 10 + (3 << ((d[p + 9] & 7) + 1) if d[p + 9] & 0x80 else 0) + 1
        q = data
        while d[q]:
            q += 1 + d[q]
        blocks.append((kind, data, q + 1))
        p = q + 1
    return blocks, p


for name in ('image-00-3b.gif', 'image-animated.gif'):
    d = read(name)
    blocks, trailer = gif_blocks(d)
    inner = [i for k, b, e in blocks if k == 0x2C for i in range(b, e - 1) if d[i:i + 2] == b'\x00\x3b']
    report(name, f'blocks {" ".join(f"{k:02X}" for k, _, _ in blocks)}', f'trailer at {trailer}',
           f'00 3B inside image data at {inner}')
    check(name, trailer == len(d) - 1, 'the block walk ends with the trailer at the end')
    if name == 'image-00-3b.gif':
        check(name, len(inner) > 0, '00 3B inside the image data')
    else:
        check(name, b'NETSCAPE2.0' in d and sum(k == 0x2C for k, _, _ in blocks) == 3,
              'looping animation of three images')

# ------------------------------------------------------------------ PNG
d = read('image.png')
report('image.png', f'last 12 bytes {d[-12:].hex(" ")}')
check('image.png', d[:8] == b'\x89PNG\r\n\x1a\n', 'PNG signature')
check('image.png', d[-12:] == bytes.fromhex('0000000049454e44ae426082'), 'ends with IEND + CRC')

d = read('image-large.png')
p, chunks = 8, []
while p < len(d):
    n = struct.unpack('>I', d[p:p + 4])[0]
    crc_ok = zlib.crc32(d[p + 4:p + 8 + n]) == struct.unpack('>I', d[p + 8 + n:p + 12 + n])[0]
    chunks.append((d[p + 4:p + 8].decode('latin-1'), n, crc_ok))
    p += 12 + n
report('image-large.png', f'chunks {len(chunks)}: {chunks[0][0]} ... {chunks[-1][0]}',
       f'IDAT lengths {sorted(set(n for t, n, _ in chunks if t == "IDAT"))}')
check('image-large.png', len(d) > 1 << 20, 'over 1 MiB')
check('image-large.png', p == len(d) and chunks[0][0] == 'IHDR' and chunks[-1][0] == 'IEND',
      'chunks from IHDR to IEND cover the file')
check('image-large.png', all(ok for _, _, ok in chunks), 'every CRC holds')

# ------------------------------------------------------------------ TIFF
for name, magic in (('image.tif', b'II*\0'), ('image-be.tif', b'MM\0*')):
    d = read(name)
    report(name, f'header {d[:4].hex(" ")}')
    check(name, d[:4] == magic, f'header {magic!r}')

# ------------------------------------------------------------------ BMP
for name, hdr in (('bitmap40.bmp', 40), ('bitmap12.bmp', 12), ('bitmap124.bmp', 124), ('bitmap-rle8.bmp', 40)):
    d = read(name)
    fsize = struct.unpack('<I', d[2:6])[0]
    report(name, f'info header size (offset 14) {d[14]}', f'file size field {fsize}')
    check(name, d[:2] == b'BM', 'BM')
    check(name, struct.unpack('<I', d[14:18])[0] == hdr, f'info header {hdr}')
    check(name, fsize == len(d), 'size field equals file size')
    if hdr >= 40:
        offset, bits, compression, image = struct.unpack('<I', d[10:14])[0], *struct.unpack('<HII', d[28:38])
        print(f'  pixels at {offset}, {bits} bits, compression {compression}, image size field {image}')
        if name == 'bitmap-rle8.bmp':
            check(name, compression == 1 and offset + image == len(d), 'RLE8 image ends the file')
        if name == 'bitmap124.bmp':
            check(name, compression == 3 and bits == 32, '32 bits with bit fields')

# ------------------------------------------------------------------ PSD
d = read('image.psd')
report('image.psd', f'header {d[:6].hex(" ")}')
check('image.psd', d[:6] == b'8BPS\0\1', '8BPS version 1')

# ------------------------------------------------------------------ HTML
for name, head in (('page.html', b'<!DOCTYPE'), ('page-lower.html', b'<html>')):
    d = read(name)
    start = 2 * len(head)
    window = d[start:start + 16]
    report(name, f'bytes {start}..{start + 15}: {window!r}', f'ends {d[-8:]!r}')
    check(name, d.startswith(head), f'starts {head!r}')
    check(name, all(0x20 <= b <= 0x7e for b in window) and len(window) == 16, 'window printable')
    check(name, d.endswith(b'</html>\n'), 'ends </html> + newline')

# ------------------------------------------------------------------ PDF
d = read('plain.pdf')
report('plain.pdf', f'header {d[:8]!r}', f'%%EOF count {d.count(b"%%EOF")}', f'tail {d[-7:]!r}')
check('plain.pdf', b'Linearized' not in d, 'no Linearized')
check('plain.pdf', d.rstrip(b'\r\n').endswith(b'%%EOF') and len(d) - d.rfind(b'%%EOF') - 5 <= 1,
      'ends %%EOF + at most one newline')
d = read('linearized.pdf')
head = d[:512]
m = re.search(rb'/L (\d+)', head)
lval = int(m.group(1)) if m else None
report('linearized.pdf', f'/Linearized in first 512: {b"/Linearized" in head}', f'/L {lval}',
       f'%%EOF count {d.count(b"%%EOF")}', f'tail {d[-7:]!r}')
check('linearized.pdf', b'/Linearized' in head, '/Linearized in first 512 bytes')
check('linearized.pdf', lval == len(d), '/L equals file size')


# ------------------------------------------------------------------ OLE2 compound files
def cfb_facts(d):
    ssz = 1 << struct.unpack('<H', d[30:32])[0]
    nfat = struct.unpack('<I', d[44:48])[0]
    ndifat = struct.unpack('<I', d[72:76])[0]
    difat = [x for x in struct.unpack('<109I', d[76:512]) if x != 0xFFFFFFFF]
    fat = []
    for s in difat[:nfat]:
        fat += struct.unpack('<%dI' % (ssz // 4), d[512 + s * ssz:512 + (s + 1) * ssz])
    used = [i for i, v in enumerate(fat) if v != 0xFFFFFFFF]
    last = max(used)
    holes = [i for i in range(last) if fat[i] == 0xFFFFFFFF]
    return ssz, nfat, ndifat, difat[:nfat], last, holes


for name in ('doc.doc', 'sheet.xls', 'slides.ppt'):
    d = read(name)
    ssz, nfat, ndifat, fatsecs, last, holes = cfb_facts(d)
    report(name, f'sector size {ssz}, sectors after header {(len(d) - 512) // ssz}',
           f'FAT sectors (offset 44) {nfat} at {fatsecs}', f'DIFAT sectors (offset 72) {ndifat}',
           f'last used FAT entry {last}', f'free (FFFFFFFF) entries before it: {holes}')
    check(name, d[:8] == bytes.fromhex('d0cf11e0a1b11ae1'), 'OLE2 signature')
    check(name, len(d) <= 40 * 1024, 'at most 40 KB')


# ------------------------------------------------------------------ ZIP
def zip_locals(d):
    out = []
    for m in re.finditer(b'PK\x03\x04', d):
        o = m.start()
        flags, method = struct.unpack('<HH', d[o + 6:o + 10])
        crc, csize, usize, nlen = struct.unpack('<IIIH', d[o + 14:o + 28])
        out.append((o, flags, method, csize, usize, d[o + 30:o + 30 + nlen].decode()))
    return out


for name in ('two-stored.zip', 'with-comment.zip', 'data-descriptor.zip'):
    d = read(name)
    eocd = d.rfind(b'PK\x05\x06')
    clen = struct.unpack('<H', d[eocd + 20:eocd + 22])[0]
    locs = zip_locals(d)
    report(name, *[f'local @{o}: flags 0x{f:04x} method {m} csize {c} usize {u} {n}'
                   for o, f, m, c, u, n in locs],
           f'EOCD at {eocd}, comment length {clen} {d[eocd + 22:]!r}')
    check(name, eocd + 22 + clen == len(d), 'EOCD + comment ends the file')
    if name == 'data-descriptor.zip':
        check(name, all(f & 8 and c == 0 for _, f, _, c, _, _ in locs), 'bit 3 set, csize 0')
    else:
        check(name, all(m == 0 and not f & 8 for _, f, m, _, _, _ in locs), 'stored, no descriptor')
    if name == 'with-comment.zip':
        check(name, clen > 0, 'has comment')

# ------------------------------------------------------------------ ZIP by content
# What the exact mode names each archive by: the stored mimetype member first (OpenDocument,
# EPUB), [Content_Types].xml with the main part (Office Open XML), the Java manifest.
def zip_members(d):
    eocd = d.rfind(b'PK\x05\x06')
    count, _, cd = struct.unpack('<HII', d[eocd + 10:eocd + 20])
    names, o = [], cd
    for _ in range(count):
        nlen, xlen, clen = struct.unpack('<HHH', d[o + 28:o + 34])
        names.append(d[o + 46:o + 46 + nlen].decode())
        o += 46 + nlen + xlen + clen
    return eocd, cd, names


MIMETYPE = 'application/vnd.oasis.opendocument.'
for name, want in (('doc.docx', 'word/document.xml'), ('sheet.xlsx', 'xl/workbook.xml'),
                   ('slides.pptx', 'ppt/presentation.xml'), ('doc.odt', MIMETYPE + 'text'),
                   ('sheet.ods', MIMETYPE + 'spreadsheet'), ('slides.odp', MIMETYPE + 'presentation'),
                   ('drawing.odg', MIMETYPE + 'graphics'), ('book.epub', 'application/epub+zip'),
                   ('app.jar', 'META-INF/MANIFEST.MF')):
    d = read(name)
    eocd, cd, names = zip_members(d)
    locs = zip_locals(d)
    report(name, f'{len(names)} members, central directory at {cd}, EOCD at {eocd}',
           f'first local header: flags 0x{locs[0][1]:04x} method {locs[0][2]} {locs[0][5]}',
           f'members with a data descriptor: {sum(1 for l in locs if l[1] & 8)}')
    check(name, eocd + 22 == len(d), 'EOCD ends the file, no comment')
    check(name, len(d) <= 40 * 1024, 'at most 40 KB')
    check(name, 'AndroidManifest.xml' not in names, 'no AndroidManifest.xml')
    if want.startswith('application/'):
        o, f, m, c, u, n = locs[0]
        check(name, n == 'mimetype' and m == 0 and d[o + 30 + len(n):o + 30 + len(n) + c] == want.encode(),
              f'stored mimetype member first: {want}')
    elif name == 'app.jar':
        check(name, want in names and '[Content_Types].xml' not in names, want)
    else:
        check(name, '[Content_Types].xml' in names and want in names, f'[Content_Types].xml and {want}')

# ------------------------------------------------------------------ RIFF
for name, form in (('clip.avi', b'AVI '), ('clip-cdxa.dat', b'CDXA')):
    d = read(name)
    rsize = struct.unpack('<I', d[4:8])[0]
    report(name, f'RIFF size field {rsize} (+8 = {rsize + 8})', f'form {d[8:12]!r}')
    check(name, d[:4] == b'RIFF' and d[8:12] == form, f'RIFF {form!r}')
    check(name, rsize + 8 == len(d), 'RIFF size + 8 equals file size')
d = read('clip-cdxa.dat')
datao = d.find(b'data')
dlen = struct.unpack('<I', d[datao + 4:datao + 8])[0]
print(f'  data chunk {dlen} bytes = {dlen / 2352:g} sectors of 2352')


# ------------------------------------------------------------------ MP4 family
def top_boxes(d):
    o, out = 0, []
    while o + 8 <= len(d):
        size = struct.unpack('>I', d[o:o + 4])[0]
        typ = d[o + 4:o + 8].decode('latin-1')
        if size == 1:
            size = struct.unpack('>Q', d[o + 8:o + 16])[0]
        elif size == 0:
            size = len(d) - o
        out.append((typ, size))
        o += size
    return out, o


WALKED = {'moov', 'mdat', 'free', 'skip', 'wide', 'pnot', 'mdhd', 'minf', 'trac'}
for name in ('clip.mp4', 'clip-isom.mp4', 'clip-faststart.mp4', 'clip.mov', 'clip-moov.mov', 'clip.3gp', 'clip-avc.mp4'):
    d = read(name)
    boxes, end = top_boxes(d)
    brand = d[8:12].decode('latin-1')
    after_ftyp = boxes[1:]
    whole = boxes[0][0] == 'ftyp' and all(t in WALKED for t, _ in after_ftyp) and end == len(d)
    report(name, f'major brand {brand!r}', 'boxes ' + ', '.join(f'{t}({s})' for t, s in boxes),
           f'all boxes after ftyp walkable: {whole}')
    check(name, end == len(d), 'boxes cover the file exactly')

boxes, _ = top_boxes(read('clip-faststart.mp4'))
check('clip-faststart.mp4', [t for t, _ in boxes] == ['ftyp', 'moov', 'free', 'mdat'], 'index first: ftyp moov free mdat')
boxes, _ = top_boxes(read('clip-avc.mp4'))
check('clip-avc.mp4', [t for t, _ in boxes] == ['ftyp', 'moov', 'free', 'mdat'], 'index first: ftyp moov free mdat')
check('clip-avc.mp4', b'avcC' in read('clip-avc.mp4'), 'H.264 sample entry (avcC)')

# ------------------------------------------------------------------ ASF
d = read('clip.wmv')
FPO = bytes.fromhex('a1dcab8c47a9cf118ee400c00c205365')
o = d.find(FPO)
fsize = struct.unpack('<Q', d[o + 40:o + 48])[0]
report('clip.wmv', f'File Properties Object at {o}', f'File Size field {fsize}')
check('clip.wmv', d[:4] == bytes.fromhex('3026b275'), 'ASF header GUID')
check('clip.wmv', 0 <= o <= 520, 'File Properties within first 520 bytes')
check('clip.wmv', fsize == len(d), 'File Size equals file size')

# ------------------------------------------------------------------ exact ends: documents and containers
def tiff_ifds(d):
    """The IFDs of a TIFF or BigTIFF: [(offset, entries, end, {tag: (type, count, value)})], the
    main chain first, then those the SubIFDs/Exif/GPS/Interoperability pointers lead to."""
    e = '<' if d[:2] == b'II' else '>'
    big = struct.unpack(e + 'H', d[2:4])[0] == 43
    cnt, ent, off, hdr = ('Q', 20, 'Q', 16) if big else ('H', 12, 'I', 8)
    first = struct.unpack(e + off, d[8:16] if big else d[4:8])[0]
    todo, seen, out = [first], set(), []
    while todo:
        o = todo.pop(0)
        if o == 0 or o in seen:
            continue
        seen.add(o)
        n = struct.unpack(e + cnt, d[o:o + struct.calcsize(cnt)])[0]
        base = o + struct.calcsize(cnt)
        tags = {}
        for i in range(n):
            p = base + ent * i
            tag, typ = struct.unpack(e + 'HH', d[p:p + 4])
            count, value = struct.unpack(e + ('QQ' if big else 'II'), d[p + 4:p + ent])
            tags[tag] = (typ, count, value)
            if tag in (330, 34665, 34853, 40965):
                todo.append(value)
        end = base + ent * n + struct.calcsize(off)
        todo.insert(0, struct.unpack(e + off, d[end - struct.calcsize(off):end])[0])
        out.append((o, n, end, tags))
    return out


for name, magic, pages, pointers in (('pages.tif', b'II*\0', 3, ()),
                                     ('exif-be.tif', b'MM\0*', 1, (34665, 34853, 40965)),
                                     ('bigtiff.tif', b'II+\0', 1, ())):
    d = read(name)
    ifds = tiff_ifds(d)
    main = [i for i in ifds if 256 in i[3]]
    found = sorted({t for i in ifds for t in i[3] if t in (34665, 34853, 40965)})
    report(name, f'header {d[:4].hex(" ")}',
           *[f'IFD at {o}: {n} entries, ends {end}' for o, n, end, _ in ifds],
           f'pointer tags {found}')
    check(name, d[:4] == magic, f'header {magic!r}')
    check(name, len(main) == pages, f'{pages} IFDs with ImageWidth')
    check(name, tuple(found) == pointers, f'pointer tags {pointers}')
    # Every strip lies inside the file and the last one (or an IFD's values) ends it.
    ends = [o + c for _, _, _, t in ifds if 273 in t and t[273][1] == 1 for o, c in [(t[273][2], t[279][2])]]
    check(name, max(ends) <= len(d), 'strips inside the file')


def psd_sections(d):
    big = struct.unpack('>H', d[4:6])[0] == 2
    ch, h, w, depth, mode = struct.unpack('>HIIHH', d[12:26])
    o = 26
    o += 4 + struct.unpack('>I', d[o:o + 4])[0]
    o += 4 + struct.unpack('>I', d[o:o + 4])[0]
    layers_at = o
    if big:
        llen = struct.unpack('>Q', d[o:o + 8])[0]
        count = struct.unpack('>h', d[o + 16:o + 18])[0]
        o += 8 + llen
    else:
        llen = struct.unpack('>I', d[o:o + 4])[0]
        count = struct.unpack('>h', d[o + 8:o + 10])[0]
        o += 4 + llen
    comp = struct.unpack('>H', d[o:o + 2])[0]
    es = 4 if big else 2
    rows = ch * h
    table = [int.from_bytes(d[o + 2 + es * i:o + 2 + es * (i + 1)], 'big') for i in range(rows)]
    return big, (ch, h, w, depth, mode), layers_at, llen, abs(count), o, comp, o + 2 + es * rows + sum(table)


for name, version in (('layers.psd', 1), ('layers.psb', 2)):
    d = read(name)
    big, hdr, layers_at, llen, count, image_at, comp, end = psd_sections(d)
    report(name, f'version {version}, channels/height/width/depth/mode {hdr}',
           f'layer and mask section at {layers_at}, {llen} bytes, {count} layer records',
           f'image data at {image_at}, compression {comp}, RLE table + rows end at {end}')
    check(name, d[:6] == b'8BPS\0' + bytes([version]), f'8BPS version {version}')
    check(name, count >= 2, 'at least two layer records')
    check(name, comp == 1 and end == len(d), 'RLE image data ends the file')

d = read('update.pdf')
eofs = [m.start() for m in re.finditer(rb'%%EOF', d)]
report('update.pdf', f'%%EOF at {eofs}', f'after the first: {d[eofs[0] + 5:eofs[0] + 16]!r}',
       f'tail {d[-7:]!r}')
check('update.pdf', d.startswith(read('plain.pdf')), 'starts with plain.pdf')
check('update.pdf', len(eofs) == 2 and d.endswith(b'%%EOF\n'), 'two %%EOF, the last one ends the file')
check('update.pdf', b'/Prev ' in d[eofs[0]:], 'update trailer with /Prev')

for name, start, end in (('page-xml.html', b'<?xml', b'</html>\n'),
                         ('page-comment.html', b'\xef\xbb\xbf<!--', b'</html>\r\n'),
                         ('page-utf8.html', b'<!DOCTYPE HTML>', b'</HTML>\n')):
    d = read(name)
    text = d.decode('utf-8')  # fails on invalid UTF-8
    report(name, f'starts {d[:16]!r}', f'ends {d[-9:]!r}', f'non-ASCII characters {sum(ord(c) > 127 for c in text)}')
    check(name, d.startswith(start), f'starts {start!r}')
    check(name, d.endswith(end) and d.lower().count(b'</html>') == 1, f'one closing tag, ends {end!r}')
    check(name, all(c >= 0x20 or c in b'\t\r\n' for c in d), 'no control bytes')
check('page-utf8.html', any(len(c.encode()) == 4 for c in read('page-utf8.html').decode()), 'a 4-byte sequence')

d = read('page-stamp.html')
tail = d[d.index(b'</html>\n') + 8:]
report('page-stamp.html', f'after </html>: {tail!r}')
check('page-stamp.html', tail.count(b'<!--') == 2 and tail.endswith(b'-->\n\n'), 'two comments and a blank line after </html>')

d = read('bitmap124-profile.bmp')
fsize, offset = struct.unpack('<I', d[2:6])[0], struct.unpack('<I', d[10:14])[0]
width, height, bits, compression = struct.unpack('<iixxHI', d[18:34])
cstype, (pdata, psize) = d[14 + 56:14 + 60], struct.unpack('<II', d[14 + 112:14 + 120])
pixels_end = offset + (width * bits + 31) // 32 * 4 * abs(height)
report('bitmap124-profile.bmp', f'{width}x{height}, {bits} bits, pixels end at {pixels_end}',
       f'profile {cstype!r} at {14 + pdata}, {psize} bytes', f'file size field {fsize}')
check('bitmap124-profile.bmp', struct.unpack('<I', d[14:18])[0] == 124 and compression == 0, 'v5 header, BI_RGB')
check('bitmap124-profile.bmp', cstype == b'DEBM' and d[14 + pdata + 36:14 + pdata + 40] == b'acsp', 'embedded ICC profile')
check('bitmap124-profile.bmp', pixels_end == 14 + pdata and 14 + pdata + psize == fsize == len(d),
      'the profile follows the pixels and ends the file')

d = read('bitmap40-profile.bmp')
fsize, offset = struct.unpack('<I', d[2:6])[0], struct.unpack('<I', d[10:14])[0]
width, height, bits = struct.unpack('<iixxH', d[18:30])
pixels_end = offset + (width * bits + 31) // 32 * 4 * abs(height)
report('bitmap40-profile.bmp', f'{width}x{height}, {bits} bits, pixels end at {pixels_end}', f'file size field {fsize}')
check('bitmap40-profile.bmp', struct.unpack('<I', d[14:18])[0] == 40, 'version 3 header')
check('bitmap40-profile.bmp', d[pixels_end + 36:pixels_end + 40] == b'acsp' and
      struct.unpack('>I', d[pixels_end:pixels_end + 4])[0] == fsize - pixels_end == len(d) - pixels_end,
      'an ICC profile no field points at follows the pixels and ends the file')

total = sum(os.path.getsize(os.path.join(HERE, f)) for f in os.listdir(HERE)
            if not f.endswith(('.md', '.sh', '.py')))
print(f'total size of sample files: {total} bytes')
if failures:
    print('FAILED:', *failures, sep='\n  ')
    sys.exit(1)
print('all checks passed')
