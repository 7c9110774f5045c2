#!/usr/bin/env bash
# Rebuilds the sample files in this folder with real tools (ImageMagick, ffmpeg,
# qpdf, Info-ZIP, LibreOffice) plus a few python3 (standard library only)
# byte-level builders.  Re-runnable: every output is overwritten.
#
# Needs (Debian): imagemagick libjpeg-turbo-progs ffmpeg qpdf zip unzip python3
#                 libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
#
# Usage: tests/data/make-fixtures.sh            (writes into tests/data/)
#        OUT=/some/dir tests/data/make-fixtures.sh
#
# With the tool versions of Debian 12 every output comes out byte-identical on
# each run except plain.pdf and linearized.pdf, where LibreOffice writes the
# current time and a document id (same sizes, though).  The committed files
# are what the tests use; regenerate only when a fixture has to change, then
# run check-fixtures.py.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
OUT=${OUT:-$HERE}
IM=${IM:-convert}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

export SOURCE_DATE_EPOCH=1709294400   # 2024-03-01 12:00:00 UTC
STAMP='2024-03-01 12:00:00'
FF=(ffmpeg -hide_banner -loglevel error -y)
FFX=(-fflags +bitexact -flags:v +bitexact -map_metadata -1)

# ---------------------------------------------------------------- pictures

# Plain JFIF baseline JPEG (FF D8 FF E0 ...).
$IM -size 64x48 -seed 3 plasma:red-blue -strip -quality 80 JPEG:"$OUT/photo-jfif.jpg"

# Exif JPEG: main picture and a 40x30 thumbnail, both encoded by ImageMagick;
# the python below replaces the main picture's JFIF APP0 by an APP1 Exif
# segment (little-endian TIFF: IFD0 + IFD1) that carries the thumbnail as
# JPEGInterchangeFormat, so the file holds a complete FF D8 ... FF D9 inside
# its first segment.
$IM -size 160x120 -seed 11 plasma:fractal -strip -quality 75 JPEG:main.jpg
$IM main.jpg -resize 40x30 -strip -quality 60 JPEG:thumb.jpg
python3 - main.jpg thumb.jpg "$OUT/photo-exif.jpg" <<'PY'
import struct, sys
main = open(sys.argv[1], 'rb').read()
thumb = open(sys.argv[2], 'rb').read()

def drop_app0(j):
    # keep SOI, drop a leading APP0 segment if present
    assert j[:2] == b'\xff\xd8'
    if j[2:4] == b'\xff\xe0':
        n = struct.unpack('>H', j[4:6])[0]
        return j[:2] + j[4 + n:]
    return j

main = drop_app0(main)
thumb = drop_app0(thumb)

def ifd(entries, base, next_ifd):
    """entries: list of (tag, type, count, value_bytes); returns (ifd_bytes, extra_bytes)"""
    n = len(entries)
    extra_off = base + 2 + 12 * n + 4
    out = struct.pack('<H', n)
    extra = b''
    for tag, typ, count, val in entries:
        if len(val) <= 4:
            out += struct.pack('<HHI', tag, typ, count) + val.ljust(4, b'\0')
        else:
            out += struct.pack('<HHII', tag, typ, count, extra_off + len(extra))
            extra += val
            if len(extra) % 2:
                extra += b'\0'
    out += struct.pack('<I', next_ifd)
    return out + extra

ASCII, SHORT, LONG, RATIONAL = 2, 3, 4, 5
make = b'Morrow Test Camera\0'
model = b'MT-1\0'
dt = b'2024:03:01 12:00:00\0'
ifd0_entries = [
    (0x010F, ASCII, len(make), make),
    (0x0110, ASCII, len(model), model),
    (0x0112, SHORT, 1, struct.pack('<H', 1)),
    (0x011A, RATIONAL, 1, struct.pack('<II', 72, 1)),
    (0x011B, RATIONAL, 1, struct.pack('<II', 72, 1)),
    (0x0128, SHORT, 1, struct.pack('<H', 2)),
    (0x0132, ASCII, len(dt), dt),
]
ifd0_len = len(ifd(ifd0_entries, 8, 0))
ifd1_off = 8 + ifd0_len
ifd1_len = len(ifd([(0x0103, SHORT, 1, b'\0\0'), (0x0201, LONG, 1, b'\0' * 4),
                    (0x0202, LONG, 1, b'\0' * 4)], ifd1_off, 0))
thumb_off = ifd1_off + ifd1_len
ifd1_entries = [
    (0x0103, SHORT, 1, struct.pack('<H', 6)),          # Compression = JPEG
    (0x0201, LONG, 1, struct.pack('<I', thumb_off)),   # JPEGInterchangeFormat
    (0x0202, LONG, 1, struct.pack('<I', len(thumb))),  # JPEGInterchangeFormatLength
]
tiff = b'II*\0' + struct.pack('<I', 8)
tiff += ifd(ifd0_entries, 8, ifd1_off)
tiff += ifd(ifd1_entries, ifd1_off, 0)
assert len(tiff) == thumb_off
tiff += thumb
payload = b'Exif\0\0' + tiff
assert len(payload) + 2 < 65536
app1 = b'\xff\xe1' + struct.pack('>H', len(payload) + 2) + payload
open(sys.argv[3], 'wb').write(main[:2] + app1 + main[2:])
PY

# GIF89a and GIF87a
$IM -size 32x24 -seed 5 plasma:green-yellow -strip -colors 16 GIF:"$OUT/image89a.gif"
$IM -size 32x24 -seed 6 plasma:blue-white -strip -colors 16 GIF87:"$OUT/image87a.gif"

# PNG (no time chunks)
$IM -size 32x24 -seed 7 plasma:orange-purple -strip \
    -define png:exclude-chunks=date,time PNG24:"$OUT/image.png"

# TIFF, little- and big-endian
$IM -size 32x24 -seed 8 plasma:cyan-red -strip -compress none -define tiff:endian=lsb TIFF:"$OUT/image.tif"
$IM -size 32x24 -seed 8 plasma:cyan-red -strip -compress none -define tiff:endian=msb TIFF:"$OUT/image-be.tif"

# BMP: Windows BITMAPINFOHEADER (40 bytes) and OS/2 BITMAPCOREHEADER (12 bytes)
$IM -size 32x24 -seed 9 plasma:pink-navy -strip -type TrueColor BMP3:"$OUT/bitmap40.bmp"
$IM -size 32x24 -seed 9 plasma:pink-navy -strip -type TrueColor BMP2:"$OUT/bitmap12.bmp"

# Photoshop PSD
$IM -size 32x24 -seed 10 plasma:gold-teal -strip PSD:"$OUT/image.psd"

# Pictures whose ends only a walk of their structure finds (exact ends).
#
# A JPEG over 1 MiB with restart markers: an 8x8 tile of colour noise repeated
# over 624x624 pixels, encoded by libjpeg-turbo's cjpeg at quality 100 without
# subsampling.  Every restart interval codes the same bytes, so git stores the
# 1.1 MB file in a few KB.
$IM -size 8x8 -seed 21 xc:white -channel RGB +noise Random +channel -write mpr:tile +delete \
    -size 624x624 tile:mpr:tile -strip -type TrueColor PPM:tile.ppm
cjpeg -quality 100 -sample 1x1 -restart 8B -optimize -outfile "$OUT/photo-large.jpg" tile.ppm
# A progressive JPEG: ten scans, a DHT segment before each.
$IM -size 64x48 -seed 12 plasma:yellow-blue -strip -quality 80 -interlace Plane JPEG:"$OUT/photo-progressive.jpg"
# Another of the same size and scans, whose bytes differ throughout: two progressive
# pictures one could take for the other's pieces.
djpeg "$OUT/photo-progressive.jpg" | cjpeg -progressive -quality 60 -outfile "$OUT/photo-progressive-q60.jpg"
# A PNG over 1 MiB: deflate level 0 (stored blocks) of a gradient whose rows are
# flat, again a few KB in git.
$IM -size 1000x400 gradient:navy-gold -strip -define png:exclude-chunks=date,time \
    -define png:compression-level=0 PNG24:"$OUT/image-large.png"
# A GIF whose LZW data holds the bytes 00 3B (a naive trailer) well before its
# trailer: 32x32 colour noise in 256 colours; seed 2 is the first that gives
# one, the python below insists on it.
$IM -size 32x32 -seed 2 xc:white -channel RGB +noise Random +channel -strip -colors 256 GIF:"$OUT/image-00-3b.gif"
python3 - "$OUT/image-00-3b.gif" <<'PY'
import sys
d = open(sys.argv[1], 'rb').read()
p = 13 + (3 << ((d[10] & 7) + 1) if d[10] & 0x80 else 0)
inside = []
while d[p] != 0x3B:
    if d[p] == 0x21:
        p += 2
    else:
        p += 10 + (3 << ((d[p + 9] & 7) + 1) if d[p + 9] & 0x80 else 0) + 1
    begin = p
    while d[p]:
        p += 1 + d[p]
    inside += [i for i in range(begin, p) if d[i:i + 2] == b'\x00\x3b']
    p += 1
assert inside and p == len(d) - 1, (inside, p, len(d))
PY
# An animated GIF: NETSCAPE2.0 loop extension, three frames with graphic controls.
$IM -delay 20 -loop 0 -size 16x12 xc:red xc:blue xc:green -strip GIF:"$OUT/image-animated.gif"
# BMP with a BITMAPV5HEADER (124 bytes): ImageMagick writes one for 32-bit
# pictures with alpha (BI_BITFIELDS, masks inside the header).
$IM -size 32x24 -seed 13 plasma:coral-olive -strip -alpha on BMP:"$OUT/bitmap124.bmp"
# BMP with a BITMAPV5HEADER and an embedded ICC profile after the pixels (the file size field
# counts it); the profile is ghostscript's a98.icc (Debian package libgs-common).
$IM -size 8x8 xc:red -profile /usr/share/color/icc/ghostscript/a98.icc BMP:"$OUT/bitmap124-profile.bmp"
$IM -size 16x8 xc:red -profile /usr/share/color/icc/ghostscript/a98.icc BMP3:"$OUT/bitmap40-profile.bmp"
# BMP with run-length 8 compression: its end is the file size field.
$IM -size 32x24 -seed 14 plasma:teal-gold -strip -colors 16 -type Palette -compress RLE BMP3:"$OUT/bitmap-rle8.bmp"

# HTML pages, hand-written (the first line is long on purpose).
cat > "$OUT/page.html" <<'EOF'
<!DOCTYPE html PUBLIC "-//W3C//DTD HTML 4.01//EN" "http://www.w3.org/TR/html4/strict.dtd">
<html lang="en">
<head>
<meta http-equiv="Content-Type" content="text/html; charset=utf-8">
<title>Field notes</title>
<style>body { font-family: sans-serif; margin: 2em; } td { padding: 0 1em; }</style>
</head>
<body>
<h1>Field notes</h1>
<p>Three disks were imaged on Friday. Each image was hashed twice and the
hashes matched.</p>
<table>
<tr><th>Disk</th><th>Size</th><th>Sectors</th></tr>
<tr><td>A</td><td>8 GB</td><td>15625000</td></tr>
<tr><td>B</td><td>16 GB</td><td>31250000</td></tr>
<tr><td>C</td><td>2 GB</td><td>3906250</td></tr>
</table>
<p>Next step: carve unallocated space on disk B.</p>
</body>
</html>
EOF

cat > "$OUT/page-lower.html" <<'EOF'
<html><head><title>Shopping list for the weekend</title><meta charset="utf-8"></head>
<body>
<ul>
<li>bread</li>
<li>coffee</li>
<li>two lemons</li>
</ul>
<p>Remember the library books.</p>
</body>
</html>
EOF

# ---------------------------------------------------------------- documents

cat > note.txt <<'EOF'
Case 2024-017

Evidence item 3 is a 16 GB USB stick found in the desk drawer.
The stick was imaged with a write blocker; the image hash was
recorded in the log book. Carving found several pictures and
two office documents in unallocated space.
EOF
touch -d "$STAMP" note.txt

# LibreOffice runs with a throw-away profile inside the work folder.
soffice_convert() {  # $1 = filter, $2 = input
    HOME="$WORK/lohome" soffice --headless --norestore --nologo \
        -env:UserInstallation="file://$WORK/lohome/profile" \
        --convert-to "$1" --outdir "$WORK/lo" "$2" >/dev/null 2>&1
}

# PDF from LibreOffice Writer, then linearized by qpdf.
soffice_convert pdf:writer_pdf_Export note.txt
cp lo/note.pdf "$OUT/plain.pdf"
qpdf --linearize --deterministic-id "$OUT/plain.pdf" "$OUT/linearized.pdf"

# Word 97 document from the same text.
soffice_convert 'doc:MS Word 97' note.txt
cp lo/note.doc "$OUT/doc.doc"

# Excel 97 workbook from a CSV.
cat > sheet.csv <<'EOF'
item,description,size_mb
1,laptop disk image,476940
2,phone dump,61035
3,usb stick,15259
EOF
soffice_convert 'xls:MS Excel 97' sheet.csv
cp lo/sheet.xls "$OUT/sheet.xls"

# PowerPoint 97 from a one-slide Impress document.  LibreOffice's PowerPoint
# export always stores a 512-pixel-wide 24-bit preview bitmap of the first
# slide in SummaryInformation (about 440 KB for a normal 16:9 slide), so the
# slide is made very flat (28 cm x 0.5 cm) to keep the file small: a minimal
# flat ODP is first normalised by LibreOffice itself (fodp -> fodp), the page
# height of its slide layout is changed, then it is exported to .ppt.
cat > slides-src.fodp <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body>
  <office:presentation>
   <draw:page draw:name="page1">
    <draw:frame svg:x="0.2cm" svg:y="0.05cm" svg:width="27cm" svg:height="0.4cm">
     <draw:text-box><text:p>Case 2024-017: evidence item 3, USB stick</text:p></draw:text-box>
    </draw:frame>
   </draw:page>
  </office:presentation>
 </office:body>
</office:document>
EOF
soffice_convert fodp slides-src.fodp
python3 - lo/slides-src.fodp slides.fodp <<'PY'
import re, sys
s = open(sys.argv[1], encoding='utf-8').read()
# the slide layout is the landscape page layout; make it 0.5 cm high
s, n = re.subn(r'(fo:page-height=")[^"]*("[^>]*style:print-orientation="landscape")',
               r'\g<1>0.5cm\g<2>', s)
assert n >= 1, 'no landscape page layout found'
open(sys.argv[2], 'w', encoding='utf-8').write(s)
PY
soffice_convert 'ppt:MS PowerPoint 97' slides.fodp
cp lo/slides.ppt "$OUT/slides.ppt"

# ---------------------------------------------------------------- archives

printf 'The first member of the archive.\n' > alpha.txt
printf 'The second member, a little longer than the first one.\n' > beta.txt
touch -d "$STAMP" alpha.txt beta.txt
rm -f "$OUT/two-stored.zip" "$OUT/with-comment.zip" "$OUT/data-descriptor.zip"
# -X: no extra attributes; -0: store only
zip -q -X -0 "$OUT/two-stored.zip" alpha.txt beta.txt
zip -q -X -0 "$OUT/with-comment.zip" alpha.txt beta.txt
printf 'case 17\n' | zip -q -z "$OUT/with-comment.zip"
# Writing to a pipe (not seekable) makes zip use data descriptors: general
# purpose bit 3 set, CRC and sizes 0 in the local headers (deflated members).
zip -q -X - alpha.txt beta.txt | cat > "$OUT/data-descriptor.zip"
# A first member of 475 stored bytes under a 7-letter name puts the second
# local header at offset 512, a sector start, where a header scan finds it.
head -c 475 /dev/zero | tr '\0' 'p' > pad.txt
touch -d "$STAMP" pad.txt
zip -q -X -0 "$OUT/aligned.zip" pad.txt alpha.txt
# A picture stored uncompressed in an archive, its PNG signature at offset 512
# (30 + 7 + 436 + 30 + 9): a header scan indexes the archive's own bytes as a
# PNG of its own.
head -c 436 /dev/zero | tr '\0' 'p' > pad.txt
touch -d "$STAMP" pad.txt
cp "$OUT/image.png" image.png
touch -d "$STAMP" image.png
zip -q -X -0 "$OUT/stored-png.zip" pad.txt image.png

# ---------------------------------------------------------------- video

SRC=(-f lavfi -i testsrc=size=32x24:rate=5 -t 1)

# AVI, Motion JPEG
"${FF[@]}" "${SRC[@]}" "${FFX[@]}" -c:v mjpeg -q:v 10 -f avi "$OUT/clip.avi"
# The same with the JUNK chunk before the movie list shortened by 96 bytes, so
# that the first frame's JPEG starts at offset 5632, a sector start.
python3 - "$OUT/clip.avi" "$OUT/clip-mjpeg-aligned.avi" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read())
junk = d.index(b'JUNK', 4600)
size = struct.unpack_from('<I', d, junk + 4)[0]
d[junk + 8:junk + 8 + 96] = b''
struct.pack_into('<I', d, junk + 4, size - 96)
struct.pack_into('<I', d, 4, len(d) - 8)
assert d.index(b'\xff\xd8') % 512 == 0
open(sys.argv[2], 'wb').write(d)
PY

# MP4 family.  MPEG-4 Visual video (ffmpeg mpeg4 encoder), very low bitrate.
"${FF[@]}" "${SRC[@]}" "${FFX[@]}" -c:v mpeg4 -q:v 20 -brand mp42 -f mp4 "$OUT/clip.mp4"
"${FF[@]}" "${SRC[@]}" "${FFX[@]}" -c:v mpeg4 -q:v 20 -f mp4 "$OUT/clip-isom.mp4"
# The same written index first (the movie box moved before the media data).
"${FF[@]}" "${SRC[@]}" "${FFX[@]}" -c:v mpeg4 -q:v 20 -movflags +faststart -f mp4 "$OUT/clip-faststart.mp4"
"${FF[@]}" "${SRC[@]}" "${FFX[@]}" -c:v mpeg4 -q:v 20 -f mov "$OUT/clip.mov"
# The same with the major brand "moov", one that a QuickTime walk accepts.
"${FF[@]}" "${SRC[@]}" "${FFX[@]}" -c:v mpeg4 -q:v 20 -brand moov -f mov "$OUT/clip-moov.mov"
# H.264 (libx264) written index first, 30 frames in two slices each: length-prefixed NAL units
# whose chains the exact reader follows.
"${FF[@]}" -f lavfi -i testsrc=size=96x64:rate=10 -t 3 "${FFX[@]}" -c:v libx264 -preset veryfast -crf 30 \
    -g 10 -bf 0 -x264-params slices=2 -pix_fmt yuv420p -movflags +faststart -f mp4 "$OUT/clip-avc.mp4"
# 3GP: H.263 needs one of the standard sizes (176x144 here), 2 frames/s.
"${FF[@]}" -f lavfi -i testsrc=size=176x144:rate=2 -t 1 "${FFX[@]}" \
    -c:v h263 -q:v 31 -f 3gp "$OUT/clip.3gp"

# ASF / WMV
"${FF[@]}" -f lavfi -i testsrc=size=32x32:rate=5 -t 1 "${FFX[@]}" \
    -c:v wmv2 -q:v 20 -f asf "$OUT/clip.wmv"
# Video and audio in packets of 512 bytes: 14 packets, several payloads in some of them.
"${FF[@]}" -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine=frequency=440:sample_rate=8000 -t 1 \
    "${FFX[@]}" -flags:a +bitexact -c:v wmv2 -q:v 4 -c:a wmav2 -b:a 24k -packet_size 512 -f asf \
    "$OUT/clip-packets.wmv"
# GStreamer's muxer: a packet's length field without its padding, the padding length apart.
gst-launch-1.0 -q videotestsrc num-buffers=10 ! video/x-raw,width=32,height=24,framerate=15/1 ! videoconvert ! \
    avenc_wmv1 ! asfmux ! filesink location="$OUT/clip-asfmux.wmv"

# VCD .dat: RIFF/CDXA around raw 2352-byte Mode 2 Form 2 sectors whose user
# data is an MPEG-1 program stream written by ffmpeg with 2324-byte packs.
"${FF[@]}" -f lavfi -i testsrc=size=96x72:rate=25 -frames:v 8 "${FFX[@]}" \
    -c:v mpeg1video -q:v 2 -packetsize 2324 -muxrate 1411200 -f mpeg ps.mpg
python3 - ps.mpg "$OUT/clip-cdxa.dat" <<'PY'
import struct, sys
ps = open(sys.argv[1], 'rb').read()
USER = 2324
nsect = (len(ps) + USER - 1) // USER
ps = ps.ljust(nsect * USER, b'\0')

def bcd(n):
    return ((n // 10) << 4) | (n % 10)

sectors = b''
for i in range(nsect):
    lba = 150 + 18 * 75 + i          # somewhere in track 2 (lead-in 2 s)
    mm, rest = divmod(lba, 75 * 60)
    ss, ff = divmod(rest, 75)
    sync = b'\x00' + b'\xff' * 10 + b'\x00'
    header = bytes([bcd(mm), bcd(ss), bcd(ff), 2])
    # file 1, channel 1, submode: video|form2 (+EOR/EOF on the last sector)
    submode = 0x02 | 0x20 | (0x81 if i == nsect - 1 else 0)
    sub = bytes([1, 1, submode, 0x0F]) * 2
    data = ps[i * USER:(i + 1) * USER]
    edc = b'\0\0\0\0'                # Form 2: EDC optional, left zero
    sectors += sync + header + sub + data + edc
assert len(sectors) == 2352 * nsect

# fmt chunk as written by VCD authoring: owner ids, attributes, "XA", file no.
fmt = struct.pack('>HHH', 0, 0, 0x1555) + b'XA' + bytes([1, 0]) + b'\0' * 6
assert len(fmt) == 16
body = b'CDXA' + b'fmt ' + struct.pack('<I', 16) + fmt
body += b'data' + struct.pack('<I', len(sectors)) + sectors
open(sys.argv[2], 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY

# ---------------------------------------------------------------- exact ends: documents and containers
# Files for the structural readers of TIFF, PSD, PDF and HTML (the MP4 family reuses the clips
# above).  Needs exiftool (Debian: libimage-exiftool-perl) besides the tools above.

# TIFF: three pages in one file, little-endian: three IFDs chained by their next-IFD offsets.
$IM -size 32x24 -seed 21 plasma:red-green -size 24x16 -seed 22 plasma:blue-white \
    -size 16x12 -seed 23 plasma:black-yellow -strip -depth 8 -compress none \
    -define tiff:endian=lsb TIFF:"$OUT/pages.tif"
# TIFF: big-endian, with Exif, GPS and Interoperability IFDs that exiftool writes into it.
$IM -size 24x16 -seed 24 plasma:navy-orange -strip -compress none -define tiff:endian=msb \
    TIFF:exif-be.tif
exiftool -q -overwrite_original -P -Make='Morrow Test Camera' -Model='MT-1' \
    -DateTimeOriginal='2024:03:01 12:00:00' -ExposureTime=1/125 -FNumber=4 -ISO=100 \
    -GPSLatitude=51.5 -GPSLatitudeRef=N -GPSLongitude=0.1 -GPSLongitudeRef=W \
    -InteropIndex=R98 exif-be.tif
cp exif-be.tif "$OUT/exif-be.tif"
# BigTIFF (magic 43, 64-bit offsets), little-endian.
$IM -size 32x24 -seed 21 plasma:red-green -strip -compress none TIFF64:"$OUT/bigtiff.tif"

# Photoshop with layers: the first picture is the merged one, the other two become layer
# records; RLE-compressed merged data.  The same as PSB (version 2, the large document format).
for f in PSD:layers.psd PSB:layers.psb; do
    $IM -size 32x24 xc:red \( -size 16x12 xc:blue \) \( -size 8x8 -seed 25 plasma:green-white \) \
        -strip -depth 8 -compress RLE "${f%%:*}:$OUT/${f#*:}"
done

# PDF with one incremental update (ISO 32000-1 7.5.6) appended to plain.pdf: a new document
# information dictionary, a cross-reference section for it alone and a trailer with /Prev, ending
# in a second %%EOF.  qpdf --check must accept it.
python3 - "$OUT/plain.pdf" "$OUT/update.pdf" <<'PY'
import re, sys
base = open(sys.argv[1], 'rb').read()
assert base.endswith(b'%%EOF\n')
trailer = base[base.rindex(b'trailer'):]
size = int(re.search(rb'/Size (\d+)', trailer).group(1))
root = re.search(rb'/Root (\d+ \d+ R)', trailer).group(1)
info = int(re.search(rb'/Info (\d+) 0 R', trailer).group(1))
ids = re.search(rb'/ID \[\s*(<[0-9A-Fa-f]+>)\s*(<[0-9A-Fa-f]+>)\s*\]', trailer)
prev = int(re.search(rb'startxref\s+(\d+)', base[-64:]).group(1))
obj_at = len(base)
obj = b'%d 0 obj\n<< /Title (Case 2024-017 notes) /ModDate (D:20240301120000Z) >>\nendobj\n' % info
xref_at = obj_at + len(obj)
update = obj + b'xref\n0 1\n0000000000 65535 f \n%d 1\n%010d 00000 n \n' % (info, obj_at)
update += b'trailer\n<< /Size %d /Root %s /Info %d 0 R /ID [%s %s] /Prev %d >>\n' % (
    size, root, info, ids.group(1), ids.group(1 + 1), prev)
update += b'startxref\n%d\n%%%%EOF\n' % xref_at
open(sys.argv[2], 'wb').write(base + update)
PY
qpdf --check "$OUT/update.pdf" >/dev/null

# HTML pages, hand-written: an XHTML page that opens with an XML declaration; a page with a byte
# order mark, a comment before its doctype and CR LF line ends; a UTF-8 page with non-ASCII text
# (2-, 3- and 4-byte sequences) whose tags are upper case.
cat > "$OUT/page-xml.html" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN" "http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd">
<html xmlns="http://www.w3.org/1999/xhtml" xml:lang="en" lang="en">
<head><title>Evidence log</title></head>
<body>
<p>Item 3 was imaged at 10:40 and hashed at 11:15.</p>
</body>
</html>
EOF
printf '\357\273\277<!-- Exported from the lab wiki; do not edit by hand. -->\r\n<!doctype html>\r\n<html lang="en">\r\n<head><meta charset="utf-8"><title>Chain of custody</title></head>\r\n<body>\r\n<p>Handed over to the examiner on 1 March.</p>\r\n</body>\r\n</html>\r\n' \
    > "$OUT/page-comment.html"
# A page as generators stamp them: comments and a blank line after </html>.
printf '<!DOCTYPE html>\n<html lang="en">\n<head><meta charset="utf-8"><title>Case notes</title></head>\n<body>\n<p>Disk 2 was imaged on 3 March.</p>\n</body>\n</html>\n<!-- Generated by the intake portal, page 4 of 9 -->\n<!-- served in 0.02 s -->\n\n' \
    > "$OUT/page-stamp.html"
cat > "$OUT/page-utf8.html" <<'EOF'
<!DOCTYPE HTML>
<HTML LANG="de">
<HEAD><META CHARSET="UTF-8"><TITLE>Grüße aus Zürich</TITLE></HEAD>
<BODY>
<P>Beweisstück Nr. 3: USB-Stick, 16 GB, gefunden in der Schublade – naïve Notizen.</P>
<P>証拠品 3 番 (Japanese), Ελληνικά (Greek), and a stamp: 📎.</P>
</BODY>
</HTML>
EOF

# ---------------------------------------------------------------- ZIP by content
# ZIP archives that their programs know by their own extension: Office Open XML and OpenDocument
# files from LibreOffice (the text, CSV and flat presentation above, and a flat drawing), an EPUB
# and a Java archive put together with zip.  LibreOffice writes the current time into the archives
# and a few bytes of settings.xml change from run to run, so these are not byte-identical on a
# rerun (same members, about the same sizes).
soffice_convert 'docx:MS Word 2007 XML' note.txt
cp lo/note.docx "$OUT/doc.docx"
soffice_convert odt note.txt
cp lo/note.odt "$OUT/doc.odt"
soffice_convert 'xlsx:Calc MS Excel 2007 XML' sheet.csv
cp lo/sheet.xlsx "$OUT/sheet.xlsx"
soffice_convert ods sheet.csv
cp lo/sheet.ods "$OUT/sheet.ods"
soffice_convert 'pptx:Impress MS PowerPoint 2007 XML' slides-src.fodp
cp lo/slides-src.pptx "$OUT/slides.pptx"
soffice_convert odp slides-src.fodp
cp lo/slides-src.odp "$OUT/slides.odp"
cat > drawing.fodg <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.graphics">
 <office:body>
  <office:drawing>
   <draw:page draw:name="page1">
    <draw:rect svg:x="1cm" svg:y="1cm" svg:width="4cm" svg:height="2cm"><text:p>Item 3</text:p></draw:rect>
   </draw:page>
  </office:drawing>
 </office:body>
</office:document>
EOF
soffice_convert odg drawing.fodg
cp lo/drawing.odg "$OUT/drawing.odg"

# EPUB 3: the mimetype member stored first (no extra field), then the container, the package
# document and its navigation page, deflated.
mkdir -p epub/META-INF epub/OEBPS
printf 'application/epub+zip' > epub/mimetype
cat > epub/META-INF/container.xml <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
 <rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles>
</container>
EOF
cat > epub/OEBPS/content.opf <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id">
 <metadata xmlns:dc="http://purl.org/dc/elements/1.1/">
  <dc:identifier id="id">urn:uuid:2024017-0003</dc:identifier>
  <dc:title>Case 2024-017 handbook</dc:title>
  <dc:language>en</dc:language>
  <meta property="dcterms:modified">2024-03-01T12:00:00Z</meta>
 </metadata>
 <manifest>
  <item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
 </manifest>
 <spine><itemref idref="nav"/></spine>
</package>
EOF
cat > epub/OEBPS/nav.xhtml <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops">
<head><title>Handbook</title></head>
<body><nav epub:type="toc"><ol><li><a href="nav.xhtml">Imaging a USB stick</a></li></ol></nav></body>
</html>
EOF
find epub -exec touch -d "$STAMP" {} +
rm -f "$OUT/book.epub"
(cd epub && zip -q -X -0 "$OUT/book.epub" mimetype &&
    zip -q -X -D -9 "$OUT/book.epub" META-INF/container.xml OEBPS/content.opf OEBPS/nav.xhtml)

# A Java archive as the jar tool lays it out: the manifest first, then a resource.
mkdir -p jar/META-INF jar/morrow
printf 'Manifest-Version: 1.0\r\nCreated-By: Morrow fixtures\r\nMain-Class: morrow.Note\r\n\r\n' \
    > jar/META-INF/MANIFEST.MF
printf 'Evidence item 3: USB stick, 16 GB.\n' > jar/morrow/note.txt
find jar -exec touch -d "$STAMP" {} +
rm -f "$OUT/app.jar"
(cd jar && zip -q -X -D "$OUT/app.jar" META-INF/MANIFEST.MF morrow/note.txt)

echo "fixtures written to $OUT"
