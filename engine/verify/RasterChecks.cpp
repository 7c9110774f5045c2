#include "verify/RasterChecks.h"

#include <cstring>
#include <vector>
#include <zlib.h>

namespace morrow::raster {

using check::be16;
using check::be32;
using check::le16;
using check::le32;

// BMP ---------------------------------------------------------------------------------------------

namespace {

// Follows RLE8 or RLE4 codes from `at` to the end-of-bitmap code; the fault, or empty.
std::string followRle(check::Bytes file, std::size_t at, std::uint64_t width, std::uint64_t height,
                      bool four) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    while (true) {
        if (file.size - at < 2) {
            return "BMP RLE data ends at " + check::percent(y, height) + " of the picture";
        }
        const unsigned count = file.data[at];
        const unsigned value = file.data[at + 1];
        at += 2;
        if (count > 0) {
            x += count;
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return {};
        } else if (value == 2) {
            if (file.size - at < 2) {
                return "BMP RLE data ends at " + check::percent(y, height) + " of the picture";
            }
            x += file.data[at];
            y += file.data[at + 1];
            at += 2;
        } else {
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            const std::size_t padded = bytes + (bytes & 1);
            if (file.size - at < padded) {
                return "BMP RLE data ends at " + check::percent(y, height) + " of the picture";
            }
            x += value;
            at += padded;
        }
        if (y > height || (y == height && x > 0) || x > width) {
            return "BMP RLE code at byte " + std::to_string(at - 2) + " draws outside the picture";
        }
    }
}

} // namespace

FileVerdict checkBmp(check::Bytes file) {
    const unsigned char* d = file.data;
    if (file.size < 26 || d[0] != 'B' || d[1] != 'M') {
        return check::damaged("BMP header missing");
    }
    const std::uint32_t pixelsAt = le32(d + 10);
    const std::uint32_t infoSize = le32(d + 14);
    std::int64_t width = 0;
    std::int64_t height = 0;
    unsigned bits = 0;
    std::uint32_t compression = 0;
    if (infoSize == 12) {
        width = le16(d + 18);
        height = le16(d + 20);
        bits = le16(d + 24);
    } else if (infoSize >= 40 && infoSize <= 124 && file.size >= 14 + std::uint64_t{infoSize}) {
        width = static_cast<std::int32_t>(le32(d + 18));
        height = static_cast<std::int32_t>(le32(d + 22));
        if (le16(d + 26) != 1) {
            return check::damaged("BMP info header: " + std::to_string(le16(d + 26)) + " planes");
        }
        bits = le16(d + 28);
        compression = le32(d + 30);
    } else {
        return check::damaged("BMP info header of " + std::to_string(infoSize) +
                              " bytes is of no known version");
    }
    height = height < 0 ? -height : height;
    if (width <= 0 || height == 0) {
        return check::damaged("BMP info header: a picture of " + std::to_string(width) + " by " +
                              std::to_string(height) + " pixels");
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return check::damaged("BMP info header: " + std::to_string(bits) + " bits per pixel");
    }
    if (compression == 4 || compression == 5) {
        return check::notChecked(); // a JPEG or PNG stream inside
    }
    if (compression > 6 || (compression == 1 && bits != 8) || (compression == 2 && bits != 4)) {
        return check::damaged("BMP info header: compression " + std::to_string(compression) + " with " +
                              std::to_string(bits) + " bits per pixel");
    }
    const auto w = static_cast<std::uint64_t>(width);
    const auto h = static_cast<std::uint64_t>(height);
    if (w * h > check::maxPixels) {
        return check::notChecked();
    }
    if (pixelsAt >= file.size) {
        return check::damaged("BMP pixel data at byte " + std::to_string(pixelsAt) +
                              " lies past the end of the file");
    }
    if (compression == 1 || compression == 2) {
        const std::string fault = followRle(file, pixelsAt, w, h, compression == 2);
        return fault.empty() ? check::opens() : check::damaged(fault);
    }
    const std::uint64_t rowBytes = (w * bits + 31) / 32 * 4;
    const std::uint64_t rows = (file.size - pixelsAt) / rowBytes;
    if (rows < h) {
        return check::damaged("BMP pixel data ends at " + check::percent(rows, h) + " of the picture");
    }
    return check::opens();
}

// PSD ---------------------------------------------------------------------------------------------

namespace {

// Unpacks one PackBits row of `length` bytes; how many bytes it makes, or -1 when a run reads
// past its own bytes.
std::int64_t unpackedLength(const unsigned char* p, std::uint64_t length) {
    std::int64_t made = 0;
    for (std::uint64_t at = 0; at < length;) {
        const auto n = static_cast<signed char>(p[at++]);
        if (n >= 0) {
            if (length - at < static_cast<std::uint64_t>(n) + 1) {
                return -1;
            }
            at += static_cast<std::uint64_t>(n) + 1;
            made += n + 1;
        } else if (n != -128) {
            if (at >= length) {
                return -1;
            }
            ++at;
            made += 1 - n;
        }
    }
    return made;
}

} // namespace

FileVerdict checkPsd(check::Bytes file) {
    const unsigned char* d = file.data;
    if (file.size < 26 || std::memcmp(d, "8BPS", 4) != 0) {
        return check::damaged("PSD header missing");
    }
    const unsigned version = be16(d + 4);
    const unsigned channels = be16(d + 12);
    const std::uint64_t height = be32(d + 14);
    const std::uint64_t width = be32(d + 18);
    const unsigned depth = be16(d + 22);
    const std::uint64_t largest = version == 2 ? 300000 : 30000;
    if ((version != 1 && version != 2) || channels < 1 || channels > 56 || width == 0 || height == 0 ||
        width > largest || height > largest || (depth != 1 && depth != 8 && depth != 16 && depth != 32)) {
        return check::damaged("PSD header: a field out of its range");
    }
    if (width * height > check::maxPixels) {
        return check::notChecked();
    }
    std::uint64_t at = 26;
    static const char* const sections[] = {"colour mode data", "image resources",
                                           "layer and mask information"};
    for (int i = 0; i < 3; ++i) {
        const unsigned lengthBytes = i == 2 && version == 2 ? 8 : 4;
        if (file.size - at < lengthBytes) {
            return check::damaged(std::string("PSD data ends before its ") + sections[i]);
        }
        const std::uint64_t length =
            lengthBytes == 8 ? std::uint64_t{be32(d + at)} << 32 | be32(d + at + 4) : be32(d + at);
        at += lengthBytes;
        if (length > file.size - at) {
            return check::damaged(std::string("PSD ") + sections[i] + " at byte " +
                                  std::to_string(at - lengthBytes) + " runs past the end of the file");
        }
        at += length;
    }
    if (file.size - at < 2) {
        return check::damaged("PSD data ends before its image data");
    }
    const unsigned method = be16(d + at);
    at += 2;
    const std::uint64_t rowBytes = (width * depth + 7) / 8;
    const std::uint64_t rows = std::uint64_t{channels} * height;
    const std::uint64_t have = file.size - at;
    if (method == 0) {
        if (have / rowBytes < rows) {
            return check::damaged("PSD image data ends at " + check::percent(have / rowBytes, rows) +
                                  " of the picture");
        }
        return check::opens();
    }
    if (method == 1) {
        const unsigned countBytes = version == 2 ? 4 : 2;
        if (have / countBytes < rows) {
            return check::damaged("PSD image data ends in its table of row lengths");
        }
        std::uint64_t row = at + rows * countBytes;
        for (std::uint64_t r = 0; r < rows; ++r) {
            const std::uint64_t length = countBytes == 4 ? be32(d + at + 4 * r) : be16(d + at + 2 * r);
            if (length > file.size - row) {
                return check::damaged("PSD image data ends at " + check::percent(r, rows) +
                                      " of the picture");
            }
            const std::int64_t made = unpackedLength(d + row, length);
            if (made != static_cast<std::int64_t>(rowBytes)) {
                return check::damaged("PSD image data at byte " + std::to_string(row) + " (row " +
                                      std::to_string(r % height + 1) + " of channel " +
                                      std::to_string(r / height + 1) +
                                      "): its RLE data does not make one row");
            }
            row += length;
        }
        return check::opens();
    }
    if (method == 2 || method == 3) {
        z_stream z{};
        if (inflateInit(&z) != Z_OK) {
            return check::notChecked();
        }
        std::vector<unsigned char> block(1 << 16);
        z.next_in = const_cast<unsigned char*>(d + at);
        z.avail_in = static_cast<uInt>(std::min<std::uint64_t>(have, UINT32_MAX));
        std::uint64_t made = 0;
        int status = Z_OK;
        const std::uint64_t wanted = rows * rowBytes;
        while (status == Z_OK && made <= wanted) {
            z.next_out = block.data();
            z.avail_out = static_cast<uInt>(block.size());
            status = inflate(&z, Z_NO_FLUSH);
            made += block.size() - z.avail_out;
            if (status == Z_BUF_ERROR && z.avail_in == 0) {
                break;
            }
        }
        const std::uint64_t consumed = z.total_in;
        inflateEnd(&z);
        if (status == Z_DATA_ERROR) {
            return check::damaged("PSD image data at byte " + std::to_string(at + consumed) +
                                  ": corrupt zip data");
        }
        if (made < wanted) {
            return check::damaged("PSD image data ends at " + check::percent(made, wanted) +
                                  " of the picture");
        }
        return check::opens();
    }
    return check::damaged("PSD image data: compression method " + std::to_string(method) + " is not one");
}

} // namespace morrow::raster
