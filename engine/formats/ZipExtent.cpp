#include "formats/ZipExtent.h"

#include "evidence/EvidenceReader.h"
#include "search/HexText.h"
#include "search/PatternSearch.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace morrow {

namespace {

// Searches the evidence forward from C, block by block, for the first of `patterns`. Blocks do
// not overlap, so a signature that straddles two blocks is not found at that place. Within a
// block the earliest match of any pattern wins. Returns the index of the pattern found and sets
// `at` to its offset, or returns -1.
int searchForward(EvidenceReader& evidence, std::vector<unsigned char>& buffer, std::uint64_t C,
                  const std::vector<const PreparedPattern*>& patterns, std::uint64_t& at) {
    const std::uint64_t end = evidence.size();
    for (std::uint64_t B = C; B < end; B += ZipExtent::blockSize) {
        evidence.readAt(static_cast<std::int64_t>(B), buffer.data(), buffer.size());
        int found = -1;
        std::int64_t best = 0;
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            const auto match =
                patterns[k]->find(buffer.data(), static_cast<std::int64_t>(B), ZipExtent::blockSize);
            if (match && (found < 0 || *match < best)) {
                found = static_cast<int>(k);
                best = *match;
            }
        }
        if (found >= 0) {
            at = static_cast<std::uint64_t>(best);
            return found;
        }
        if (B > std::numeric_limits<std::uint64_t>::max() - ZipExtent::blockSize) {
            break;
        }
    }
    return -1;
}

} // namespace

// PKWARE APPNOTE.TXT, 4.3.7 (local file header), 4.3.12 (central directory file header) and
// 4.3.16 (end of central directory record). Read from a local header:
//   offset 18  compressed size     4 bytes, little-endian
//   offset 26  file name length    2 bytes
//   offset 28  extra field length  2 bytes
// The fixed part is 30 bytes; the member's data follows the name and the extra field.
ZipExtent::Result ZipExtent::measure(EvidenceReader& evidence, std::int64_t H, bool endAtDirectory) {
    static const PreparedPattern endRecord(HexText::toBytes("504B0506"));
    // The central directory header is searched for alongside the local header: a walk that lost
    // its way after the last member written with a data descriptor must stop at its own central
    // directory, not run on into the next archive's local headers and swallow that archive.
    static const PreparedPattern centralHeader(HexText::toBytes("504B0102"));
    static const PreparedPattern localHeader(HexText::toBytes("504B0304"));

    std::vector<unsigned char> buffer(blockSize);
    std::uint64_t C = static_cast<std::uint64_t>(H);
    Result result;
    result.resumeOffset = C;

    auto fail = [&] {
        result.extent = Extent::rejected("no end of central directory record");
        return result;
    };
    auto searchEndRecord = [&](std::uint64_t from) {
        std::uint64_t F = 0;
        if (searchForward(evidence, buffer, from, {&endRecord}, F) < 0) {
            return fail();
        }
        result.resumeOffset = F + 22;
        result.extent = Extent::found(F + 22 - static_cast<std::uint64_t>(H));
        result.endRecord = true;
        return result;
    };

    const std::uint64_t size = evidence.size();
    // Where the walk met each local header, for checking them against the central directory.
    std::vector<std::uint64_t> walked{C};
    // PKWARE APPNOTE.TXT 4.3.12: a central directory header is 46 bytes, then the file name (length
    // at 28), the extra field (30) and the comment (32). Walked to its end, a directory followed
    // by no end record (nor the ZIP64 records or the signature that may stand before it) belongs
    // to a truncated archive: the archive ends with it, and what follows is another file. An
    // archive's walk never takes in local headers before the first its directory lists.
    auto walkDirectory = [&](std::uint64_t D) {
        std::vector<std::uint64_t> listed; // each entry's local header offset (4 bytes at 42)
        for (;;) {
            unsigned char sig[4] = {};
            evidence.readAt(static_cast<std::int64_t>(D), sig, sizeof sig);
            if (sig[0] != 'P' || sig[1] != 'K' || sig[2] != 1 || sig[3] != 2 || D + 46 > size) {
                break;
            }
            const auto at = static_cast<std::int64_t>(D);
            listed.push_back(evidence.le32(at + 42));
            D += 46 + std::uint64_t{evidence.le16(at + 28)} + evidence.le16(at + 30) + evidence.le16(at + 32);
        }
        // The directory's offsets count from its archive's first byte, and it lists one entry per
        // local header. When it lists fewer than the walk met and its offsets fit the last of them,
        // the walk ran out of a truncated archive into the next: this one ends, truncated, where
        // that one begins.
        if (!listed.empty() && listed.size() < walked.size()) {
            const auto first = static_cast<std::ptrdiff_t>(walked.size() - listed.size());
            const std::uint64_t S = walked[static_cast<std::size_t>(first)];
            if (std::all_of(listed.begin(), listed.end(), [&](std::uint64_t offset) {
                    return std::binary_search(walked.begin() + first, walked.end(), S + offset);
                })) {
                result.resumeOffset = S;
                result.directory = 0;
                result.extent = Extent::found(S - static_cast<std::uint64_t>(H), true);
                return result;
            }
        }
        unsigned char sig[4] = {};
        evidence.readAt(static_cast<std::int64_t>(D), sig, sizeof sig);
        const bool ends =
            sig[0] == 'P' && sig[1] == 'K' &&
            ((sig[2] == 5 && (sig[3] == 6 || sig[3] == 5)) || (sig[2] == 6 && (sig[3] == 6 || sig[3] == 7)));
        if (ends || D >= size) {
            return searchEndRecord(std::min(D, size));
        }
        result.resumeOffset = D;
        result.extent = Extent::found(D - static_cast<std::uint64_t>(H));
        return result;
    };
    for (;;) {
        const auto at = static_cast<std::int64_t>(C);
        const std::uint64_t compressedSize = evidence.le32(at + 18);
        const std::uint64_t nameLength = evidence.le16(at + 26);
        const std::uint64_t extraLength = evidence.le16(at + 28);
        const std::uint64_t step = 30 + nameLength + extraLength + compressedSize;
        // Past the end of the evidence nothing can follow; this also keeps C far from wrapping.
        if (C >= size || step > size - C) {
            return fail();
        }
        C += step;

        unsigned char sig[4] = {};
        evidence.readAt(static_cast<std::int64_t>(C), sig, sizeof sig);
        const std::string text = HexText::fromBytes(sig, 4, HexStyle::Compact);
        if (text == "504B34") {
            result.resumeOffset = C;
            walked.push_back(C);
            continue;
        }
        if (text == "504B12") {
            result.directory = C;
            return endAtDirectory ? walkDirectory(C) : searchEndRecord(C);
        }
        // A member with a data descriptor (compressed size 0 here), a damaged archive, or local
        // headers without a directory: look for whichever comes first, the next local header or
        // the central directory.
        std::uint64_t F = 0;
        const int found = searchForward(evidence, buffer, C, {&localHeader, &centralHeader}, F);
        if (found < 0) {
            return fail();
        }
        if (found == 1) {
            result.directory = F;
            return endAtDirectory ? walkDirectory(F) : searchEndRecord(F);
        }
        result.resumeOffset = F;
        walked.push_back(F);
        C = F;
    }
}

std::uint64_t ZipExtent::lengthWithComment(EvidenceReader& evidence, std::int64_t H, const Result& found) {
    if (!found.endRecord) {
        return found.extent.length;
    }
    const auto record = H + static_cast<std::int64_t>(found.extent.length) - 22;
    return found.extent.length + evidence.le16(record + 20);
}

} // namespace morrow
