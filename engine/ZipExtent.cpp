#include "ZipExtent.h"

#include "CarveState.h"
#include "HexText.h"
#include "PatternSearch.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace morrow {

namespace {

// Searches the evidence forward from C, block by block, for the first of `patterns`. Blocks do
// not overlap, so a signature that straddles two blocks is not found at that place. Within a
// block the earliest match of any pattern wins. Returns the index of the pattern found (its
// offset in zipMatchOffset), or -1.
int searchForward(CarveState& state, std::vector<unsigned char>& buffer, std::uint64_t C,
                  const std::vector<const PreparedPattern*>& patterns) {
    const std::uint64_t end = state.evidenceSize;
    for (std::uint64_t B = C; B < end; B += ZipExtent::blockSize) {
        std::fill(buffer.begin(), buffer.end(), 0);
        state.evidence.readAt(static_cast<std::int64_t>(B), buffer.data(), buffer.size());
        int found = -1;
        std::int64_t best = 0;
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            if (patterns[k]->find(state, buffer.data(), static_cast<std::int64_t>(B), ZipExtent::blockSize,
                                  SearchTarget::ZipRecord) &&
                (found < 0 || state.zipMatchOffset < best)) {
                found = static_cast<int>(k);
                best = state.zipMatchOffset;
            }
        }
        if (found >= 0) {
            state.zipMatchOffset = best;
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
int ZipExtent::measure(CarveState& state, std::int64_t H) {
    HexText::toSignatureBytes(state, "504B0506");
    const PreparedPattern endRecord(state.signatureBytes);
    // The central directory header is searched for alongside the local header: a walk that lost
    // its way after the last member written with a data descriptor must stop at its own central
    // directory, not run on into the next archive's local headers and swallow that archive.
    HexText::toSignatureBytes(state, "504B0102");
    const PreparedPattern centralHeader(state.signatureBytes);
    HexText::toSignatureBytes(state, "504B0304");
    const PreparedPattern localHeader(state.signatureBytes);

    std::vector<unsigned char> buffer(blockSize);
    state.zipSkip = 0;
    std::uint64_t C = static_cast<std::uint64_t>(H);

    auto fail = [&] {
        state.zipSkip = 1;
        return 1;
    };
    auto searchEndRecord = [&](std::uint64_t from) {
        if (searchForward(state, buffer, from, {&endRecord}) < 0) {
            return fail();
        }
        const auto F = static_cast<std::uint64_t>(state.zipMatchOffset);
        state.zipResumeOffset = F + 22;
        state.zipLength = F + 22 - static_cast<std::uint64_t>(H);
        return 1;
    };

    for (;;) {
        const auto at = static_cast<std::int64_t>(C);
        const std::uint64_t compressedSize = state.evidence.le32(at + 18);
        const std::uint64_t nameLength = state.evidence.le16(at + 26);
        const std::uint64_t extraLength = state.evidence.le16(at + 28);
        const std::uint64_t step = 30 + nameLength + extraLength + compressedSize;
        // Past the end of the evidence nothing can follow; this also keeps C far from wrapping.
        if (C >= state.evidenceSize || step > state.evidenceSize - C) {
            return fail();
        }
        C += step;

        unsigned char sig[4] = {};
        state.evidence.readAt(static_cast<std::int64_t>(C), sig, sizeof sig);
        const std::string text = HexText::fromBytes(sig, 4, HexStyle::Compact);
        if (text == "504B34") {
            state.zipResumeOffset = C;
            continue;
        }
        if (text == "504B12") {
            return searchEndRecord(C);
        }
        // A member with a data descriptor (compressed size 0 here), a damaged archive, or local
        // headers without a directory: look for whichever comes first, the next local header or
        // the central directory.
        const int found = searchForward(state, buffer, C, {&localHeader, &centralHeader});
        if (found < 0) {
            return fail();
        }
        const auto F = static_cast<std::uint64_t>(state.zipMatchOffset);
        if (found == 1) {
            return searchEndRecord(F);
        }
        state.zipResumeOffset = F;
        C = F;
    }
}

} // namespace morrow
