#include "evidence/EwfSections.h"
#include "evidence/MemoryEvidence.h"

#include <gtest/gtest.h>

#include <optional>

using namespace morrow;

namespace {

const std::string ewf1("EVF\x09\x0d\x0a\xff\x00", 8);

void putLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
}

std::uint32_t adler32(const std::string& bytes) {
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : bytes) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

// One version 1 segment, built section by section.
struct Segment {
    std::string bytes;
    explicit Segment(std::uint16_t number) : bytes(ewf1 + '\x01') {
        putLe(bytes, number, 2);
        bytes += std::string(2, '\0');
    }
    // A section of `type` with 24 bytes after its descriptor, which says the next one is at `next`
    // (right after it unless told).
    Segment& section(const std::string& type, std::optional<std::uint64_t> next = {}) {
        std::string d = type + std::string(16 - type.size(), '\0');
        putLe(d, next.value_or(bytes.size() + 100), 8);
        putLe(d, 100, 8);
        d += std::string(40, '\0');
        putLe(d, adler32(d), 4);
        bytes += d + std::string(24, 'x');
        return *this;
    }
    // The "done" or "next" section that ends the chain, pointing to itself.
    std::string end(const std::string& type) {
        section(type, bytes.size());
        return bytes.substr(0, bytes.size() - 24);
    }
};

TEST(EwfSectionsTest, SignatureTellsTheVersions) {
    const std::pair<std::string, EwfSignature> heads[] = {
        {ewf1 + "more", EwfSignature::Ewf1},
        {std::string("EVF2\x0d\x0a\x81\x00", 8), EwfSignature::Ewf2},
        {ewf1.substr(0, 7), EwfSignature::None},
        {std::string("EVF\x09\x0d\x0a\xff\x01", 8), EwfSignature::None},
    };
    for (const auto& [head, signature] : heads) {
        EXPECT_EQ(ewfSignature(reinterpret_cast<const unsigned char*>(head.data()), head.size()), signature);
    }
}

// What a refused set is told to have wrong, from its segments' section chains.
TEST(EwfSectionsTest, DamageIsExplainedNamingTheSegment) {
    const std::string first = Segment(1).section("header").end("next");
    const std::string whole = Segment(1).section("header").end("done");
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> segments; // path, bytes
        std::string reason;
    };
    const Row rows[] = {
        {"Whole", {{"/ev/disk.E01", first}, {"/ev/disk.E02", Segment(2).section("table").end("done")}}, ""},
        {"LastMissing", {{"/ev/disk.E01", first}}, "segment disk.E02 is missing"},
        {"LastMissingAfterSecond",
         {{"disk.E01", first}, {"disk.E02", Segment(2).end("next")}},
         "segment disk.E03 is missing"},
        {"LoneOtherwiseNamed", {{"/ev/disk.bin", first}}, "the segment after disk.bin is missing"},
        {"LoneNamedByLetters", {{"disk.EAA", first}}, "the segment after disk.EAA is missing"},
        {"OutOfOrder",
         {{"disk.E01", first}, {"disk.E02", Segment(3).end("done")}},
         "segment disk.E02 is number 3 of its set, not 2: a segment is missing or misnamed"},
        {"NoSignature",
         {{"disk.E01", "not an image"}},
         "segment disk.E01 is damaged: it does not start with the EWF signature"},
        {"CutShort",
         {{"disk.E01", whole.substr(0, 153)}},
         "segment disk.E01 is damaged: it ends at byte 153, before the section at byte 113 is whole"},
        {"DescriptorAltered",
         {{"disk.E01", std::string(whole).replace(40, 1, "X")}},
         "segment disk.E01 is damaged: the section descriptor at byte 13 fails its checksum"},
        {"NextBackwards",
         {{"disk.E01", Segment(1).section("header", 50).end("done")}},
         "segment disk.E01 is damaged: the \"header\" section at byte 13 says the next one is at byte 50, "
         "not after it"},
        {"NextPastTheEnd",
         {{"disk.E01", Segment(1).section(std::string("he\x01") + "der", 900).end("done")}},
         "segment disk.E01 is damaged: the \"he?der\" section at byte 13 says the next one is at byte 900, "
         "past the end"},
    };
    for (const Row& row : rows) {
        std::vector<MemoryEvidence> files;
        for (const auto& [path, bytes] : row.segments) {
            files.emplace_back(path, bytes);
        }
        std::vector<EvidenceSource*> segments;
        for (MemoryEvidence& file : files) {
            segments.push_back(&file);
        }
        EXPECT_EQ(explainEwfDamage(segments), row.reason) << row.name;
    }
}

// Every chunk needs at least a 4-byte table entry in the segments.
TEST(EwfSectionsTest, OverClaimIsMoreChunksThanTheSegmentsHoldEntriesFor) {
    EXPECT_EQ(explainEwfOverClaim(4 * 32768, 32768, 16), "");
    EXPECT_EQ(explainEwfOverClaim(4 * 32768 + 1, 32768, 16),
              "it claims 131073 bytes of media (5 chunks), more than its segments can hold: 16 bytes of "
              "segments hold at most 4 chunks");
}

} // namespace
