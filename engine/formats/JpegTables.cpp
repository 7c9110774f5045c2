// ITU-T T.81: Huffman tables as Annex C and F.2.2.3 build them, the frame header (B.2.2) and the
// scan header (B.2.3), and the number of MCUs of a scan (A.2): every component's blocks when it is
// scanned alone, else the interleaved MCUs of the whole frame.
#include "formats/JpegTables.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>

namespace morrow::jpeg {

namespace {

// Annex K.3, tables K.3 to K.6 (as K.3.3.1 and K.3.3.2 list them): counts of codes by length, then
// the values.
const unsigned char dcLuminance[16 + 12] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0,  0,
                                            0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const unsigned char dcChrominance[16 + 12] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0,  0,
                                              0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const unsigned char acLuminance[16 + 162] = {
    0,    2,    1,    3,    3,    2,    4,    3,    5,    5,    4,    4,    0,    0,    1,    0x7d, 0x01,
    0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62,
    0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35,
    0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56,
    0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77,
    0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5,
    0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2,
    0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
const unsigned char acChrominance[16 + 162] = {
    0,    2,    1,    2,    4,    4,    3,    4,    7,    5,    4,    4,    0,    1,    2,    0x77, 0x00,
    0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72,
    0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a,
    0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76,
    0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95,
    0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2,
    0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

} // namespace

bool defineTable(Huffman& t, const unsigned char* counts, const unsigned char* values, std::size_t total) {
    t = Huffman{};
    std::int32_t code = 0;
    std::int32_t index = 0;
    for (int length = 1; length <= 16; ++length) {
        const int n = counts[length - 1];
        t.valueIndex[static_cast<std::size_t>(length)] = index;
        t.minCode[static_cast<std::size_t>(length)] = code;
        code += n;
        index += n;
        t.maxCode[static_cast<std::size_t>(length)] = n == 0 ? -1 : code - 1;
        if (code > (1 << length)) {
            return false;
        }
        code <<= 1;
    }
    t.maxCode[17] = 0x7FFFFFFF;
    if (static_cast<std::size_t>(index) != total || total > 256) {
        return false;
    }
    std::copy(values, values + total, t.values.begin());
    for (unsigned prefix = 0; prefix < t.fastLength.size(); ++prefix) {
        for (int length = 1; length <= Huffman::fastBits; ++length) {
            const auto head = static_cast<std::int32_t>(prefix >> (Huffman::fastBits - length));
            if (head <= t.maxCode[static_cast<std::size_t>(length)]) {
                const std::int32_t at = t.valueIndex[static_cast<std::size_t>(length)] + head -
                                        t.minCode[static_cast<std::size_t>(length)];
                t.fastLength[prefix] = static_cast<unsigned char>(length);
                t.fastValue[prefix] = t.values[static_cast<std::size_t>(at)];
                break;
            }
        }
    }
    t.defined = true;
    return true;
}

bool defineTables(Scan& scan, const unsigned char* body, std::size_t size) {
    for (std::size_t p = 0; p + 17 <= size;) {
        const unsigned cls = body[p] >> 4;
        const unsigned id = body[p] & 15;
        std::size_t total = 0;
        for (int i = 0; i < 16; ++i) {
            total += body[p + 1 + static_cast<std::size_t>(i)];
        }
        if (cls > 1 || id > 3 || p + 17 + total > size ||
            !defineTable(cls == 0 ? scan.dcTables[id] : scan.acTables[id], &body[p + 1], &body[p + 17],
                         total)) {
            return false;
        }
        p += 17 + total;
    }
    return true;
}

bool setScan(Scan& scan, const Frame& frame, const unsigned char* body, std::size_t size) {
    if (frame.components.empty() || size < 1 || body[0] < 1 || body[0] > 4 ||
        size < 4 + 2 * std::size_t{body[0]}) {
        return false;
    }
    const unsigned n = body[0];
    scan.components.clear();
    scan.blockOwner.clear();
    scan.ss = body[1 + 2 * n];
    scan.se = body[2 + 2 * n];
    scan.ah = body[3 + 2 * n] >> 4;
    scan.al = body[3 + 2 * n] & 15;
    if (frame.progressive) {
        // A DC scan, of one component or all interleaved, or a band of one component's AC
        // coefficients; refinements one bit below the last.
        if ((scan.ss == 0 && scan.se != 0) ||
            (scan.ss != 0 && (scan.se < scan.ss || scan.se > 63 || n != 1)) ||
            (scan.ah != 0 && scan.al + 1 != scan.ah) || scan.al > 13) {
            return false;
        }
    }
    for (unsigned i = 0; i < n; ++i) {
        auto c = std::find_if(frame.components.begin(), frame.components.end(),
                              [&](const Component& f) { return f.id == body[1 + 2 * i]; });
        if (c == frame.components.end()) {
            return false;
        }
        Component used = *c;
        used.dc = body[2 + 2 * i] >> 4;
        used.ac = body[2 + 2 * i] & 15;
        const bool needsDc = !frame.progressive || (scan.ss == 0 && scan.ah == 0);
        const bool needsAc = !frame.progressive || scan.ss != 0;
        if (used.dc > 3 || used.ac > 3 || (needsDc && !scan.dcTables[used.dc].defined) ||
            (needsAc && !scan.acTables[used.ac].defined)) {
            return false;
        }
        scan.components.push_back(used);
    }
    if (n == 1) {
        const Plane& plane = frame.planes[scan.components.front().index];
        scan.mcus = plane.columns * plane.rows;
        scan.blockOwner = {0};
    } else {
        scan.mcus = ((frame.width + 8 * frame.hmax - 1) / (8 * frame.hmax)) *
                    ((frame.height + 8 * frame.vmax - 1) / (8 * frame.vmax));
        for (unsigned i = 0; i < n; ++i) {
            for (unsigned b = 0; b < scan.components[i].h * scan.components[i].v; ++b) {
                scan.blockOwner.push_back(i);
            }
        }
    }
    return scan.mcus != 0;
}

void defineStandardTable(Huffman& t, bool ac, unsigned id) {
    const unsigned char* table =
        ac ? (id == 0 ? acLuminance : acChrominance) : (id == 0 ? dcLuminance : dcChrominance);
    defineTable(t, table, table + 16, ac ? 162 : 12);
}

bool readFrame(Frame& frame, unsigned code, const unsigned char* body, std::size_t size) {
    frame = Frame{};
    if (size < 6 || body[0] != 8 || code < 0xC0 || code > 0xC2) {
        return false;
    }
    frame.progressive = code == 0xC2;
    frame.height = be16(&body[1]);
    frame.width = be16(&body[3]);
    const unsigned n = body[5];
    if (n < 1 || n > 4 || size < 6 + 3 * n || frame.width == 0 || frame.height == 0) {
        return false;
    }
    for (unsigned i = 0; i < n; ++i) {
        const unsigned char* c = &body[6 + 3 * i];
        if ((c[1] >> 4) < 1 || (c[1] >> 4) > 4 || (c[1] & 15) < 1 || (c[1] & 15) > 4) {
            return false;
        }
        frame.components.push_back(
            Component{c[0], static_cast<unsigned>(c[1] >> 4), static_cast<unsigned>(c[1] & 15), 0, 0, i});
        frame.hmax = std::max(frame.hmax, frame.components.back().h);
        frame.vmax = std::max(frame.vmax, frame.components.back().v);
    }
    const std::uint64_t mcusX = (frame.width + 8 * frame.hmax - 1) / (8 * frame.hmax);
    const std::uint64_t mcusY = (frame.height + 8 * frame.vmax - 1) / (8 * frame.vmax);
    for (const Component& c : frame.components) {
        Plane plane;
        plane.offset = frame.blocks;
        plane.perLine = mcusX * c.h;
        plane.columns = ((std::uint64_t{frame.width} * c.h + frame.hmax - 1) / frame.hmax + 7) / 8;
        plane.rows = ((std::uint64_t{frame.height} * c.v + frame.vmax - 1) / frame.vmax + 7) / 8;
        frame.blocks += plane.perLine * mcusY * c.v;
        frame.planes.push_back(plane);
    }
    return true;
}

} // namespace morrow::jpeg
