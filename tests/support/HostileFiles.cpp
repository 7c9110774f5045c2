#include "HostileFiles.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace morrow::test {

// PDF ---------------------------------------------------------------------------------------------

namespace {

std::string deflated(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), 9);
    out.resize(size);
    return out;
}

} // namespace

std::string nestedFormsPdf(int fanout, int depth, bool packed) {
    fanout = std::max(fanout, 1);
    depth = std::max(depth, 1);
    // 1 catalog, 2 pages, 3 the page, 4 its content, 5.. the forms, then the font; packed, the
    // object stream and the cross-reference stream after them.
    const int firstForm = 5;
    const int font = firstForm + depth;
    const int objectStream = font + 1;
    const int xrefStream = font + 2;
    auto stream = [packed](const std::string& dictionary, const std::string& data) {
        const std::string bytes = packed ? deflated(data) : data;
        return "<<" + dictionary + (packed ? "/Filter/FlateDecode" : "") + "/Length " +
               std::to_string(bytes.size()) + ">>\nstream\n" + bytes + "\nendstream";
    };
    std::vector<std::string> objects;
    objects.push_back("<</Type/Catalog/Pages 2 0 R>>");
    objects.push_back("<</Type/Pages/Kids[3 0 R]/Count 1>>");
    objects.push_back("<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Resources<</XObject<</X " +
                      std::to_string(firstForm) + " 0 R>>>>/Contents 4 0 R>>");
    objects.push_back(stream("", "/X Do"));
    for (int level = 0; level < depth; ++level) {
        std::string data;
        std::string resources;
        if (level + 1 < depth) {
            for (int i = 0; i < fanout; ++i) {
                data += "/X Do\n";
            }
            resources = "<</XObject<</X " + std::to_string(firstForm + level + 1) + " 0 R>>>>";
        } else {
            for (int i = 0; i < fanout; ++i) {
                data += "BT /F 12 Tf 10 10 Td (Morrow) Tj ET\n";
            }
            resources = "<</Font<</F " + std::to_string(font) + " 0 R>>>>";
        }
        objects.push_back(stream("/Type/XObject/Subtype/Form/BBox[0 0 612 792]/Resources" + resources, data));
    }
    objects.push_back("<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>");

    // Packed: the objects that are not streams (catalog, pages, page, font) in an object stream.
    auto inObjectStream = [&](int number) { return packed && (number <= 3 || number == font); };
    std::string pdf = packed ? "%PDF-1.5\n" : "%PDF-1.4\n";
    std::vector<std::size_t> offsets(static_cast<std::size_t>(xrefStream) + 1, 0);
    std::string header;
    std::string body;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        if (inObjectStream(number)) {
            header += std::to_string(number) + " " + std::to_string(body.size()) + " ";
            body += objects[i] + "\n";
            continue;
        }
        offsets[i + 1] = pdf.size();
        pdf += std::to_string(number) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    if (!packed) {
        const std::size_t xref = pdf.size();
        pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
        for (std::size_t i = 1; i <= objects.size(); ++i) {
            char entry[24];
            std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[i]);
            pdf += entry;
        }
        pdf += "trailer\n<</Size " + std::to_string(objects.size() + 1) + "/Root 1 0 R>>\nstartxref\n" +
               std::to_string(xref) + "\n%%EOF\n";
        return pdf;
    }
    offsets[static_cast<std::size_t>(objectStream)] = pdf.size();
    pdf += std::to_string(objectStream) + " 0 obj\n" +
           stream("/Type/ObjStm/N 4/First " + std::to_string(header.size()), header + body) + "\nendobj\n";
    // The cross-reference stream: type, offset or object stream, generation or index (1, 4, 2).
    offsets[static_cast<std::size_t>(xrefStream)] = pdf.size();
    std::string entries;
    auto entry = [&entries](int type, std::size_t field, int index) {
        entries += static_cast<char>(type);
        for (int shift = 24; shift >= 0; shift -= 8) {
            entries += static_cast<char>(field >> shift & 0xFF);
        }
        entries += static_cast<char>(index >> 8 & 0xFF);
        entries += static_cast<char>(index & 0xFF);
    };
    entry(0, 0, 0xFFFF);
    int index = 0;
    for (int number = 1; number <= xrefStream; ++number) {
        if (inObjectStream(number)) {
            entry(2, static_cast<std::size_t>(objectStream), index++);
        } else {
            entry(1, offsets[static_cast<std::size_t>(number)], 0);
        }
    }
    const std::size_t xref = pdf.size();
    pdf += std::to_string(xrefStream) + " 0 obj\n<</Type/XRef/Size " + std::to_string(xrefStream + 1) +
           "/W[1 4 2]/Root 1 0 R/Length " + std::to_string(entries.size()) + ">>\nstream\n" + entries +
           "\nendstream\nendobj\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

// JPEG --------------------------------------------------------------------------------------------

namespace {

// Entropy-coded bits, most significant first, a 0x00 stuffed after every 0xFF.
class BitWriter {
  public:
    explicit BitWriter(std::string& out) : out_(out) {}
    void put(std::uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = static_cast<unsigned char>(byte_ << 1 | (bits >> i & 1));
            if (++used_ == 8) {
                emit();
            }
        }
    }
    // The last byte filled with one bits, as a scan ends.
    void flush() {
        while (used_ != 0) {
            put(1, 1);
        }
    }

  private:
    void emit() {
        out_ += static_cast<char>(byte_);
        if (byte_ == 0xFF) {
            out_ += '\0';
        }
        byte_ = 0;
        used_ = 0;
    }
    std::string& out_;
    unsigned char byte_ = 0;
    int used_ = 0;
};

void jpegSegment(std::string& out, int code, const std::string& body) {
    out += '\xFF';
    out += static_cast<char>(code);
    out += static_cast<char>((body.size() + 2) >> 8);
    out += static_cast<char>((body.size() + 2) & 0xFF);
    out += body;
}

std::string be16(int v) {
    return {static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)};
}

} // namespace

std::string emptyScansJpeg(int scans, int width, int height, int components) {
    components = std::clamp(components, 1, 4);
    width = std::clamp(width, 1, 65535);
    height = std::clamp(height, 1, 65535);
    std::string out = "\xFF\xD8";
    jpegSegment(out, 0xDB, std::string(1, '\0') + std::string(64, '\x01'));
    std::string frame = "\x08" + be16(height) + be16(width) + static_cast<char>(components);
    for (int c = 0; c < components; ++c) {
        frame += {static_cast<char>(c + 1), '\x11', '\0'};
    }
    jpegSegment(out, 0xC2, frame);
    // DC: one code of one bit, for a difference of 0.
    std::string dc = std::string(1, '\x00') + '\x01' + std::string(15, '\0') + '\x00';
    jpegSegment(out, 0xC4, dc);
    // AC: an end-of-block run of 16384 to 32767 blocks in one bit (its code 0) and 14 more bits;
    // the shorter runs in five bits (codes 10000 and on, symbol 0x00 first).
    std::string ac = std::string(1, '\x10') + '\x01' + std::string(3, '\0') + '\x0E' + std::string(11, '\0');
    ac += '\xE0';
    for (int r = 0; r < 14; ++r) {
        ac += static_cast<char>(r << 4);
    }
    jpegSegment(out, 0xC4, ac);
    const std::uint64_t blocks = std::uint64_t((width + 7) / 8) * std::uint64_t((height + 7) / 8);

    // The DC scan of every component: a zero difference in every block.
    std::string header(1, static_cast<char>(components));
    for (int c = 0; c < components; ++c) {
        header += {static_cast<char>(c + 1), '\0'};
    }
    header += {'\0', '\0', '\0'};
    jpegSegment(out, 0xDA, header);
    out.append(static_cast<std::size_t>(blocks * static_cast<std::uint64_t>(components) / 8), '\0');
    BitWriter dcBits(out);
    dcBits.put(0, static_cast<int>(blocks * static_cast<std::uint64_t>(components) % 8));
    dcBits.flush();

    // The AC scans, one component each in turn, coefficients 1 to 63: end-of-block runs alone.
    for (int s = 0; s < scans; ++s) {
        jpegSegment(out, 0xDA,
                    std::string{'\x01', static_cast<char>(s % components + 1), '\0', '\x01', '\x3F', '\0'});
        BitWriter bits(out);
        for (std::uint64_t left = blocks; left > 0;) {
            const auto run = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 32767));
            int r = 0;
            while ((run >> (r + 1)) != 0) {
                ++r;
            }
            if (r == 14) {
                bits.put(0, 1);
            } else {
                bits.put(0x10 + static_cast<std::uint32_t>(r), 5);
            }
            bits.put(run - (std::uint32_t{1} << r), r);
            left -= run;
        }
        bits.flush();
    }
    out += "\xFF\xD9";
    return out;
}

// TIFF --------------------------------------------------------------------------------------------

namespace {

std::string le16(std::uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}
std::string le32(std::uint32_t v) {
    return le16(v & 0xFFFF) + le16(v >> 16);
}

// `bytes` zero bytes deflated in zlib's format, without holding them.
std::string deflatedZeros(std::uint64_t bytes) {
    z_stream zs{};
    deflateInit(&zs, 9);
    static const std::vector<unsigned char> zeros(std::size_t{1} << 16);
    std::vector<unsigned char> block(std::size_t{1} << 16);
    std::string out;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        const auto n = static_cast<uInt>(std::min<std::uint64_t>(bytes, zeros.size()));
        zs.next_in = const_cast<Bytef*>(zeros.data());
        zs.avail_in = n;
        bytes -= n;
        do {
            zs.next_out = block.data();
            zs.avail_out = static_cast<uInt>(block.size());
            status = deflate(&zs, bytes == 0 ? Z_FINISH : Z_NO_FLUSH);
            out.append(reinterpret_cast<const char*>(block.data()), block.size() - zs.avail_out);
        } while (zs.avail_out == 0 || (bytes == 0 && status != Z_STREAM_END));
    }
    deflateEnd(&zs);
    return out;
}

} // namespace

std::string manyDirectoriesTiff(int directories, int width, int height) {
    directories = std::max(directories, 1);
    const auto w = static_cast<std::uint32_t>(std::max(width, 1));
    const auto h = static_cast<std::uint32_t>(std::max(height, 1));
    // Strips of at most 60 MiB, all of them the same deflated zeros.
    const std::uint32_t rowsPerStrip = std::min(h, std::max<std::uint32_t>(1, (std::uint32_t{60} << 20) / w));
    const std::uint32_t strips = (h + rowsPerStrip - 1) / rowsPerStrip;
    const std::string strip = deflatedZeros(std::uint64_t{rowsPerStrip} * w);

    std::string tiff = "II*";
    tiff += '\0';
    tiff += le32(0); // the first directory's offset, set below
    const auto stripAt = static_cast<std::uint32_t>(tiff.size());
    tiff += strip;
    // The strips' offsets and byte counts, shared by every directory (inline when one strip).
    const auto offsetsAt = static_cast<std::uint32_t>(tiff.size());
    for (std::uint32_t i = 0; i < strips; ++i) {
        tiff += le32(stripAt);
    }
    const auto countsAt = static_cast<std::uint32_t>(tiff.size());
    for (std::uint32_t i = 0; i < strips; ++i) {
        tiff += le32(static_cast<std::uint32_t>(strip.size()));
    }
    if (tiff.size() % 2 != 0) {
        tiff += '\0';
    }
    tiff.replace(4, 4, le32(static_cast<std::uint32_t>(tiff.size())));
    auto entry = [](int tag, int type, std::uint32_t count, std::uint32_t value) {
        return le16(static_cast<std::uint32_t>(tag)) + le16(static_cast<std::uint32_t>(type)) + le32(count) +
               (type == 3 && count == 1 ? le16(value) + le16(0) : le32(value));
    };
    for (int d = 0; d < directories; ++d) {
        std::string ifd = le16(9);
        ifd += entry(256, 4, 1, w);
        ifd += entry(257, 4, 1, h);
        ifd += entry(258, 3, 1, 8);
        ifd += entry(259, 3, 1, 8); // deflate
        ifd += entry(262, 3, 1, 1); // black is zero
        ifd += entry(273, 4, strips, strips == 1 ? stripAt : offsetsAt);
        ifd += entry(277, 3, 1, 1);
        ifd += entry(278, 4, 1, rowsPerStrip);
        ifd += entry(279, 4, strips, strips == 1 ? static_cast<std::uint32_t>(strip.size()) : countsAt);
        const bool last = d + 1 == directories;
        ifd += le32(last ? 0 : static_cast<std::uint32_t>(tiff.size() + ifd.size() + 4));
        tiff += ifd;
    }
    return tiff;
}

std::string framesGif(const std::vector<std::pair<int, int>>& frames) {
    auto le16 = [](int value) {
        return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
    };
    int screenWidth = 1;
    int screenHeight = 1;
    for (const auto& [width, height] : frames) {
        screenWidth = std::max(screenWidth, width);
        screenHeight = std::max(screenHeight, height);
    }
    // A global table of two colours: black and white.
    std::string gif = "GIF89a" + le16(screenWidth) + le16(screenHeight) + std::string("\x80\x00\x00", 3) +
                      std::string("\x00\x00\x00\xFF\xFF\xFF", 6);
    for (const auto& [width, height] : frames) {
        gif += ",";
        gif += le16(0) + le16(0) + le16(width) + le16(height) + std::string(1, '\0');
        // Codes of 3 bits: clear (4), colour 0, end (5).
        gif += std::string("\x02\x02\x44\x01\x00", 5);
    }
    return gif + ";";
}

} // namespace morrow::test
