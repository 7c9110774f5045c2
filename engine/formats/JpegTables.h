#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// What decoding a JPEG's entropy-coded data needs from its segments (ITU-T T.81): the Huffman
// tables (DHT, B.2.4.2 and C), the frame (SOFn, B.2.2), each scan's components and band (SOS,
// B.2.3) and its number of MCUs (A.2). The exact reader decodes a baseline picture with them, and
// the join decodes across a gap.
namespace morrow::jpeg {

// A Huffman table as its canonical codes (F.2.2.3), with a lookup by the next fastBits bits.
struct Huffman {
    static constexpr int fastBits = 9;
    bool defined = false;
    std::array<std::int32_t, 18> maxCode{};
    std::array<std::int32_t, 17> valueIndex{};
    std::array<std::int32_t, 17> minCode{};
    std::array<unsigned char, 256> values{};
    // By the next fastBits bits: the length (0: longer than fastBits) and value of the code they
    // start with.
    std::array<unsigned char, 1 << fastBits> fastLength{};
    std::array<unsigned char, 1 << fastBits> fastValue{};
};

struct Component {
    unsigned id = 0;
    unsigned h = 1;
    unsigned v = 1;
    unsigned dc = 0;
    unsigned ac = 0;
    unsigned index = 0; // in the frame
};

// A frame component's blocks, as a progressive decode keeps a bit per coefficient of them.
struct Plane {
    std::uint64_t offset = 0;  // its first block among all the frame's
    std::uint64_t perLine = 0; // blocks a line, the MCUs' padding included
    std::uint64_t columns = 0; // blocks a line of its own samples: a scan of it alone
    std::uint64_t rows = 0;
};

struct Frame {
    bool progressive = false;
    unsigned width = 0;
    unsigned height = 0;
    unsigned hmax = 1;
    unsigned vmax = 1;
    std::vector<Component> components;
    std::vector<Plane> planes;
    std::uint64_t blocks = 0;
};

struct Scan {
    std::array<Huffman, 4> dcTables;
    std::array<Huffman, 4> acTables;
    std::vector<Component> components; // of the scan, in order
    std::vector<unsigned> blockOwner;  // per block of an MCU: its component
    std::uint64_t mcus = 0;
    unsigned restartInterval = 0;
    std::uint64_t dataStart = 0; // from H
    // Progressive: the band of coefficients and the bit positions (high, low) it codes.
    unsigned ss = 0;
    unsigned se = 63;
    unsigned ah = 0;
    unsigned al = 0;
};

// One table from its 16 counts of codes by length and its `total` values; false for counts that
// make no prefix code.
bool defineTable(Huffman& t, const unsigned char* counts, const unsigned char* values, std::size_t total);
// A DHT segment's body: one table or more, into the scan's.
bool defineTables(Scan& scan, const unsigned char* body, std::size_t size);
// The table of Annex K.3 (K.3.3.1 and K.3.3.2) that a Motion JPEG frame without DHT segments is
// decoded with: luminance for table 0, chrominance for the others.
void defineStandardTable(Huffman& t, bool ac, unsigned id);
// A SOF0, SOF1 or SOF2 segment's body (8-bit samples): the frame, its planes and blocks.
bool readFrame(Frame& frame, unsigned code, const unsigned char* body, std::size_t size);
// A SOS segment's body: the scan's components, their tables, its band, and how many MCUs it has.
bool setScan(Scan& scan, const Frame& frame, const unsigned char* body, std::size_t size);

} // namespace morrow::jpeg
