// BMP as Microsoft documents it in the Windows GDI reference (BITMAPFILEHEADER, BITMAPCOREHEADER,
// BITMAPINFOHEADER, BITMAPV4HEADER, BITMAPV5HEADER, "Bitmap Storage"), plus the OS/2 2.x header.
// All fields are little-endian.
//
// File header, 14 bytes:
//   bfType       2 bytes  "BM"
//   bfSize       4 bytes  size of the file in bytes
//   bfReserved1  2 bytes, bfReserved2  2 bytes
//   bfOffBits    4 bytes  offset of the pixel array from the file's start
// Info header at offset 14; its first 4 bytes give its size, which names its version:
//   12 OS/2 1.x core header:  bcWidth, bcHeight (2 bytes each, unsigned), bcPlanes (2, = 1),
//      bcBitCount (2); no compression; palette entries of 3 bytes
//   40 BITMAPINFOHEADER, 52 and 56 (the same with RGB and RGBA masks), 64 (OS/2 2.x),
//   108 BITMAPV4HEADER, 124 BITMAPV5HEADER all begin alike:
//      biWidth (4, signed, > 0), biHeight (4, signed; negative for a top-down picture),
//      biPlanes (2, = 1), biBitCount (2: 1, 2, 4, 8, 16, 24, 32; 0 only for JPEG or PNG data),
//      biCompression (4), biSizeImage (4: bytes of the compressed image), two resolutions (4
//      each), biClrUsed (4: palette entries, 0 for all 2^biBitCount), biClrImportant (4);
//      palette entries of 4 bytes
//   124 adds at header offset 56 bV5CSType ("MBED" or "LINK" when a profile is present), at 112
//      bV5ProfileData (the profile's offset from the info header's start) and at 116
//      bV5ProfileSize: an embedded profile may follow the pixels and extend the file.
// biCompression: 0 BI_RGB, 3 BI_BITFIELDS, 6 BI_ALPHABITFIELDS, 11 BI_CMYK leave the pixels
// uncompressed, each row padded to 4 bytes; 1 BI_RLE8, 2 BI_RLE4, 4 BI_JPEG, 5 BI_PNG,
// 12 BI_CMYKRLE8, 13 BI_CMYKRLE4 compress them (in an OS/2 2.x header 3 is Huffman 1D and 4 RLE24,
// compressed too). A 40-byte header with BI_BITFIELDS is followed by 12 bytes of masks, with
// BI_ALPHABITFIELDS by 16.
#include "formats/BmpExtent.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>

namespace morrow {

namespace {

// An ICC profile of `stored` bytes at `at`: "acsp" at 36 and its own length in its first 4 bytes,
// big-endian (writers pad the stored size to 4 bytes).
bool wholeProfile(EvidenceReader& evidence, std::int64_t at, std::uint64_t stored) {
    unsigned char icc[40] = {};
    if (stored < sizeof icc || evidence.readAt(at, icc, sizeof icc) != sizeof icc || icc[36] != 'a' ||
        icc[37] != 'c' || icc[38] != 's' || icc[39] != 'p') {
        return false;
    }
    const std::uint64_t own =
        std::uint64_t{icc[0]} << 24 | std::uint64_t{icc[1]} << 16 | std::uint64_t{icc[2]} << 8 | icc[3];
    return own <= stored && stored - own < 4;
}

constexpr std::uint64_t maxPixelArrayEnd = 0xFFFFFFFFULL;
// bV5CSType values, written as four-character constants, so "MBED" lies in the file as "DEBM".
constexpr std::uint32_t embeddedProfile = 0x4D424544; // 'MBED'
constexpr std::uint32_t linkedProfile = 0x4C494E4B;   // 'LINK'

bool knownHeaderSize(std::uint32_t size) {
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124;
}

bool knownBitCount(unsigned bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

} // namespace

Extent BmpExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    const std::uint64_t size = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= size) {
        return Extent::rejected("candidate outside the evidence");
    }
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char h[14 + 124] = {};
    evidence.readAt(H, h, sizeof h);
    if (h[0] != 'B' || h[1] != 'M') {
        return Extent::rejected("no BM");
    }
    const std::uint64_t fileSize = le32(h + 2);
    const std::uint64_t offset = le32(h + 10);
    const std::uint32_t headerSize = le32(h + 14);
    if (!knownHeaderSize(headerSize)) {
        return Extent::rejected("an info header size of no known version");
    }
    if (size - start < 14 + headerSize) {
        return Extent::rejected("the headers run past the evidence");
    }
    const unsigned char* info = h + 14;

    std::uint64_t width = 0;
    std::uint64_t height = 0;
    unsigned planes = 0;
    unsigned bits = 0;
    std::uint32_t compression = 0;
    std::uint64_t paletteEntry = 4;
    std::uint64_t colours = 0;
    if (headerSize == 12) {
        width = le16(info + 4);
        height = le16(info + 6);
        planes = le16(info + 8);
        bits = le16(info + 10);
        paletteEntry = 3;
    } else {
        const auto signedWidth = static_cast<std::int32_t>(le32(info + 4));
        const auto signedHeight = static_cast<std::int32_t>(le32(info + 8));
        width = signedWidth > 0 ? static_cast<std::uint64_t>(signedWidth) : 0;
        // Negative for a top-down picture; -2^31 has its magnitude too.
        height = static_cast<std::uint64_t>(signedHeight < 0 ? -static_cast<std::int64_t>(signedHeight)
                                                             : static_cast<std::int64_t>(signedHeight));
        planes = le16(info + 12);
        bits = le16(info + 14);
        compression = le32(info + 16);
        colours = le32(info + 32);
    }
    if (width == 0 || height == 0 || planes != 1) {
        return Extent::rejected("no width, no height or planes other than 1");
    }

    bool compressed = false;
    std::uint64_t masks = 0;
    switch (compression) {
    case 0:  // BI_RGB
    case 11: // BI_CMYK
        break;
    case 3: // BI_BITFIELDS (Huffman 1D in OS/2)
    case 6: // BI_ALPHABITFIELDS
        compressed = headerSize == 64;
        if (headerSize == 40) {
            masks = compression == 3 ? 12 : 16;
        }
        break;
    case 1:  // BI_RLE8
    case 12: // BI_CMYKRLE8
        compressed = true;
        if (bits != 8) {
            return Extent::rejected("run-length 8 without 8 bits a pixel");
        }
        break;
    case 2:  // BI_RLE4
    case 13: // BI_CMYKRLE4
        compressed = true;
        if (bits != 4) {
            return Extent::rejected("run-length 4 without 4 bits a pixel");
        }
        break;
    case 4: // BI_JPEG (RLE24 in OS/2)
    case 5: // BI_PNG
        compressed = true;
        break;
    default:
        return Extent::rejected("no known compression");
    }
    const bool embeddedImage = compression == 4 || compression == 5;
    if (!knownBitCount(bits) && !(bits == 0 && embeddedImage)) {
        return Extent::rejected("no known bit count");
    }
    // The palette's true length: biClrUsed when it names fewer entries than the bit count allows.
    if (bits >= 1 && bits <= 8) {
        const std::uint64_t most = 1ULL << bits;
        colours = (colours == 0 || colours > most) ? most : colours;
    } else {
        colours = 0;
    }
    if (offset < 14 + headerSize + masks + colours * paletteEntry) {
        return Extent::rejected("pixels that start inside the headers");
    }

    std::uint64_t length = 0;
    if (compressed) {
        const std::uint64_t imageSize = le32(info + 20);
        if (fileSize <= offset || fileSize < offset + imageSize) {
            return Extent::rejected("a compressed image larger than its file");
        }
        length = fileSize;
    } else {
        const std::uint64_t stride = (width * bits + 31) / 32 * 4;
        if (height > maxPixelArrayEnd / stride || offset + stride * height > maxPixelArrayEnd) {
            return Extent::rejected("a pixel array beyond 4 GiB");
        }
        std::uint64_t end = offset + stride * height;
        std::uint64_t allowed = end;
        if (headerSize == 124) {
            const std::uint32_t profileKind = le32(info + 56);
            const std::uint64_t profileStart = 14 + static_cast<std::uint64_t>(le32(info + 112));
            const std::uint64_t profileEnd = profileStart + le32(info + 116);
            if (profileKind == embeddedProfile || profileKind == linkedProfile) {
                allowed = std::max(allowed, profileEnd);
            }
            // An embedded profile that is one belongs to the file even when the size field says
            // otherwise.
            if (profileKind == embeddedProfile && profileStart >= 14 + headerSize &&
                profileEnd <= maxPixelArrayEnd &&
                wholeProfile(evidence, H + static_cast<std::int64_t>(profileStart),
                             profileEnd - profileStart)) {
                end = std::max(end, profileEnd);
                allowed = std::max(allowed, end);
            }
        }
        // A profile that no header field points at, stored straight after the pixels and counted
        // by the size field (ImageMagick writes version 3 files so): the size field wins when the
        // bytes it adds are such a profile, whole.
        if (fileSize > end && fileSize <= maxPixelArrayEnd &&
            wholeProfile(evidence, H + static_cast<std::int64_t>(end), fileSize - end)) {
            allowed = std::max(allowed, fileSize);
            end = fileSize;
        }
        length = fileSize >= end && fileSize <= allowed + sizeFieldSlack ? fileSize : end;
    }

    if (length > size - start) {
        return Extent::found(size - start, true);
    }
    return Extent::found(length);
}

} // namespace morrow
