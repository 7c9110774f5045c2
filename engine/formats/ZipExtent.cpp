#include "formats/ZipExtent.h"

#include "evidence/EvidenceReader.h"
#include "formats/ExactEnds.h"
#include "formats/ZipMembers.h"
#include "search/HexText.h"
#include "search/PatternSearch.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace morrow {

namespace {

// What the exact walks of one evidence file may read to check the CRC-32s of members that no
// directory proves.
struct CrcAllowance {
    std::optional<JoinBudget> budget;
};

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

// The exact-ends walk. PKWARE APPNOTE.TXT 4.3.7 (local file header: flags at 6, method at 8,
// CRC-32 at 14, sizes at 18 and 22, name and extra field lengths at 26 and 28), 4.3.9 (the data
// descriptor that follows a member written with flag bit 3: an optional signature, the CRC-32 and
// the two sizes, 8 bytes each in a ZIP64 archive), 4.3.14 to 4.3.16 (the ZIP64 end record, its
// locator and the end record) and 4.3.13 (the digital signature after the directory).
constexpr std::uint32_t localSig = 0x04034B50;
constexpr std::uint32_t centralSig = 0x02014B50;
constexpr std::uint32_t descriptorSig = 0x08074B50;
constexpr std::uint32_t endSig = 0x06054B50;
constexpr std::uint32_t zip64EndSig = 0x06064B50;
constexpr std::uint32_t locatorSig = 0x07064B50;
constexpr std::uint32_t signatureSig = 0x05054B50;
constexpr std::uint32_t maxField = 0xFFFFFFFF;

std::uint64_t nameHash(const std::string& name) {
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (const char c : name) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return h;
}

// A member as its local header and the walk found it; offsets are the evidence's.
struct Local {
    std::uint64_t header = 0;
    std::uint64_t hash = 0; // of its name
    std::uint64_t data = 0;
    std::uint64_t end = 0; // past its data and its descriptor
    ZipMember member;      // sizes and CRC-32 as the header or the descriptor gives them
    bool descriptor = false;
    bool zip64 = false;
    // Its data was decoded to find its descriptor, and has the descriptor's CRC-32.
    bool proven = false;
};

std::optional<Local> readLocal(EvidenceReader& evidence, std::uint64_t C) {
    unsigned char head[30] = {};
    evidence.readAt(static_cast<std::int64_t>(C), head, sizeof head);
    if (le32(head) != localSig) {
        return std::nullopt;
    }
    Local m;
    m.header = C;
    m.descriptor = (le16(head + 6) & 8) != 0;
    m.member.method = le16(head + 8);
    m.member.crc = le32(head + 14);
    m.member.compressed = le32(head + 18);
    m.member.size = le32(head + 22);
    const std::uint64_t nameLength = le16(head + 26);
    const std::uint64_t extraLength = le16(head + 28);
    m.data = C + 30 + nameLength + extraLength;
    if (m.data > evidence.size()) {
        return std::nullopt;
    }
    m.member.name.resize(nameLength);
    evidence.readAt(static_cast<std::int64_t>(C + 30), m.member.name.data(), nameLength);
    m.hash = nameHash(m.member.name);
    m.zip64 = m.member.compressed == maxField || m.member.size == maxField;
    if (m.zip64) {
        std::vector<unsigned char> extra(extraLength);
        evidence.readAt(static_cast<std::int64_t>(C + 30 + nameLength), extra.data(), extra.size());
        ZipMembers::zip64Fields(extra, {&m.member.size, &m.member.compressed});
    }
    return m;
}

// The descriptor at P ends the member whose data ran `compressed` bytes: where it ends, its
// CRC-32 and size set in the member; 0 when none stands there.
std::uint64_t descriptorAt(EvidenceReader& evidence, std::uint64_t P, Local& m, std::uint64_t compressed) {
    unsigned char d[28] = {};
    evidence.readAt(static_cast<std::int64_t>(P), d, sizeof d);
    const std::size_t s = le32(d) == descriptorSig ? 4 : 0;
    // ZIP64 descriptors have 8-byte sizes; which one a writer used only the fields tell.
    for (const bool wide : {m.zip64, !m.zip64}) {
        if (wide ? le64(d + s + 4) == compressed : le32(d + s + 4) == compressed) {
            m.member.crc = le32(d + s);
            m.member.compressed = compressed;
            m.member.size = wide ? le64(d + s + 12) : le32(d + s + 8);
            return P + s + (wide ? 20 : 12);
        }
    }
    return 0;
}

// Where the member written with a data descriptor and no sizes ends. Its data is searched for a
// descriptor whose compressed size is its distance from the data; deflated data stops the search
// at the first signature of any record (a descriptor of another size, a local header), and is
// then decoded to its end, which the descriptor must follow with the decoded CRC-32.
bool descriptorEnd(EvidenceReader& evidence, Local& m, std::vector<unsigned char>& in,
                   std::vector<unsigned char>& out) {
    const std::uint64_t size = evidence.size();
    const bool deflated = m.member.method == 8;
    constexpr std::size_t block = 65536;
    constexpr std::size_t tail = 28; // a descriptor's fields past its signature
    std::vector<unsigned char> bytes(block + tail);
    bool decode = false;
    for (std::uint64_t B = m.data; B < size && !decode; B += block) {
        if (!deflated && B - m.data > ZipExtent::maxDescriptorSearch) {
            return false;
        }
        const std::size_t got = evidence.readAt(static_cast<std::int64_t>(B), bytes.data(), bytes.size());
        const unsigned char* first = bytes.data();
        const unsigned char* last = first + std::min(got, block);
        for (const unsigned char* p = first; (p = static_cast<const unsigned char*>(std::memchr(
                                                  p, 'P', static_cast<std::size_t>(last - p)))) != nullptr;
             ++p) {
            if (p[1] != 'K') {
                continue;
            }
            const std::uint32_t sig = le32(p);
            const std::uint64_t P = B + static_cast<std::uint64_t>(p - first);
            if (sig == descriptorSig) {
                Local found = m;
                if (const std::uint64_t end = descriptorAt(evidence, P, found, P - m.data); end != 0) {
                    m = found;
                    m.end = end;
                    return true;
                }
            }
            if (deflated && (sig == descriptorSig || sig == localSig || sig == centralSig || sig == endSig)) {
                decode = true;
                break;
            }
        }
        if (got < block) {
            break;
        }
    }
    if (!deflated) {
        return false;
    }
    const auto inflated = ZipMembers::inflateToEnd(evidence, m.data, size, in, out);
    if (!inflated) {
        return false;
    }
    Local found = m;
    const std::uint64_t end =
        descriptorAt(evidence, m.data + inflated->compressed, found, inflated->compressed);
    if (end == 0 || found.member.crc != inflated->crc || found.member.size != inflated->size) {
        return false;
    }
    m = found;
    m.end = end;
    m.proven = true;
    return true;
}

// Where the member ends, set in m.end; false when its data runs past the evidence or its
// descriptor is not found.
bool memberEnd(EvidenceReader& evidence, Local& m, std::vector<unsigned char>& in,
               std::vector<unsigned char>& out) {
    if (m.descriptor && m.member.compressed == 0) {
        return descriptorEnd(evidence, m, in, out);
    }
    const std::uint64_t size = evidence.size();
    if (m.member.compressed > size - m.data) {
        return false;
    }
    m.end = m.data + m.member.compressed;
    if (m.descriptor) {
        // Sizes in the header and a descriptor after the data as well.
        Local found = m;
        if (const std::uint64_t end = descriptorAt(evidence, m.end, found, m.member.compressed);
            end != 0 && found.member.crc == m.member.crc) {
            m.end = end;
        }
    }
    return true;
}

// An APK's signing block between the last member and the central directory (its size before and
// after it, then "APK Sig Block 42"): where the directory it leads to starts, or 0.
std::uint64_t pastSigningBlock(EvidenceReader& evidence, std::uint64_t C) {
    const std::uint64_t length = evidence.le64(static_cast<std::int64_t>(C));
    if (length < 24 || length > evidence.size() - C - 8) {
        return 0;
    }
    const std::uint64_t end = C + 8 + length;
    char magic[16] = {};
    evidence.readAt(static_cast<std::int64_t>(end - 16), magic, sizeof magic);
    return std::memcmp(magic, "APK Sig Block 42", 16) == 0 &&
                   evidence.le64(static_cast<std::int64_t>(end - 24)) == length &&
                   evidence.le32(static_cast<std::int64_t>(end)) == centralSig
               ? end
               : 0;
}

// A central directory as the walk met it: each entry's offset and name, where it ends, and the
// end record (with the ZIP64 record's fields) after it.
struct Directory {
    std::uint64_t start = 0;
    std::uint64_t end = 0; // past the entries and the records before the end record
    std::vector<std::pair<std::uint64_t, std::uint64_t>> entries; // offset, name hash
    std::uint64_t record = 0;                                     // the end record's offset; 0: none follows
    std::uint64_t count = 0;                                      // its fields
    std::uint64_t offset = 0;
};

Directory readDirectory(EvidenceReader& evidence, std::uint64_t D) {
    const std::uint64_t size = evidence.size();
    Directory dir;
    dir.start = D;
    std::uint64_t at = D;
    std::uint64_t length = 0;
    while (dir.entries.size() < ZipExtent::maxMembers) {
        const auto m = ZipMembers::readEntry(evidence, at, size, length);
        if (!m) {
            break;
        }
        dir.entries.emplace_back(m->offset, nameHash(m->name));
        at += length;
    }
    if (evidence.le32(static_cast<std::int64_t>(at)) == signatureSig) {
        at += 6 + std::uint64_t{evidence.le16(static_cast<std::int64_t>(at + 4))};
    }
    std::uint64_t zip64 = 0;
    if (evidence.le32(static_cast<std::int64_t>(at)) == zip64EndSig) {
        zip64 = at;
        at += std::min<std::uint64_t>(12 + evidence.le64(static_cast<std::int64_t>(at + 4)), size);
        if (evidence.le32(static_cast<std::int64_t>(at)) == locatorSig) {
            at += 20;
        }
    }
    dir.end = std::min(at, size);
    if (at + 22 <= size && evidence.le32(static_cast<std::int64_t>(at)) == endSig) {
        const auto F = static_cast<std::int64_t>(at);
        dir.record = at;
        dir.count = evidence.le16(F + 10);
        dir.offset = evidence.le32(F + 16);
        if (zip64 != 0 && (dir.count == 0xFFFF || dir.offset == maxField)) {
            dir.count = evidence.le64(static_cast<std::int64_t>(zip64 + 32));
            dir.offset = evidence.le64(static_cast<std::int64_t>(zip64 + 48));
        }
    }
    return dir;
}

// Every entry of `dir` lands, relative to S, on a local header of `chain` under its name, one of
// them on S.
bool lands(const Directory& dir, const std::vector<Local>& chain, std::uint64_t S) {
    bool first = false;
    for (const auto& [offset, hash] : dir.entries) {
        const auto at = std::lower_bound(chain.begin(), chain.end(), S + offset,
                                         [](const Local& m, std::uint64_t o) { return m.header < o; });
        if (offset > ~std::uint64_t{0} - S || at == chain.end() || at->header != S + offset ||
            at->hash != hash) {
            return false;
        }
        first = first || offset == 0;
    }
    return first;
}

ZipExtent::Result measureExact(EvidenceReader& evidence, std::int64_t H) {
    const auto start = static_cast<std::uint64_t>(H);
    ZipExtent::Result result;
    result.resumeOffset = start;
    result.extent = Extent::rejected("no sound member");
    if (H < 0 || start >= evidence.size()) {
        return result;
    }
    std::vector<unsigned char> in(65536);
    std::vector<unsigned char> out(65536);
    std::vector<Local> chain;
    std::uint64_t D = 0;
    for (std::uint64_t C = start; chain.size() < ZipExtent::maxMembers;) {
        auto m = readLocal(evidence, C);
        if (!m || !memberEnd(evidence, *m, in, out)) {
            break;
        }
        chain.push_back(std::move(*m));
        C = chain.back().end;
        const std::uint32_t sig = evidence.le32(static_cast<std::int64_t>(C));
        if (sig == localSig) {
            continue;
        }
        D = sig == centralSig ? C : pastSigningBlock(evidence, C);
        break;
    }
    if (chain.empty()) {
        return result;
    }

    // The members that end an archive no directory proves, up to `cut` (the first not taken):
    // each must have its CRC-32, for a chain of sizes may land by chance on another archive's
    // local header (a cut archive's next sector starting one).
    // Their CRC-32s are read from one allowance per evidence file, four times its size: members
    // of archives laid out one after another cost their bytes once, and an image whose every
    // sector starts a header claiming megabytes of the sectors after it costs no more than that
    // (a member left unchecked is not taken).
    std::optional<JoinBudget>& allowance = evidence.memo<CrcAllowance>().budget;
    if (!allowance) {
        allowance.emplace(4 * evidence.size() + (std::uint64_t{64} << 20), ~std::uint64_t{0});
        allowance->watch(evidence);
    }
    JoinBudget& budget = *allowance;
    auto truncatedAt = [&](std::size_t cut) {
        for (std::size_t i = 0; i < cut; ++i) {
            Local& m = chain[i];
            if (!m.proven && !ZipMembers::dataHolds(evidence, PieceLayout{m.data, ~std::uint64_t{0}, 0},
                                                    m.member, 0, budget, in, out)) {
                cut = i;
                break;
            }
        }
        if (cut == 0) {
            return result;
        }
        const std::uint64_t end = chain[cut - 1].end;
        result.resumeOffset = end;
        result.extent = Extent::found(end - start, true);
        return result;
    };
    if (D == 0) {
        return truncatedAt(chain.size());
    }
    const Directory dir = readDirectory(evidence, D);
    if (lands(dir, chain, start)) {
        result.directory = D;
        if (dir.record != 0 && dir.offset == D - start) {
            result.endRecord = true;
            result.resumeOffset = dir.record + 22;
            result.extent = Extent::found(dir.record + 22 - start);
        } else {
            result.resumeOffset = dir.end;
            result.extent = Extent::found(dir.end - start, true);
        }
        return result;
    }
    // Not this archive's: perhaps a later one's whose local headers the walk ran into, its first
    // member's name met again.
    const auto first =
        std::find_if(dir.entries.begin(), dir.entries.end(), [](const auto& e) { return e.first == 0; });
    int tried = 0;
    for (std::size_t i = chain.size(); first != dir.entries.end() && i-- > 1 && tried < 4;) {
        if (chain[i].hash != first->second) {
            continue;
        }
        ++tried;
        if (lands(dir, chain, chain[i].header)) {
            return truncatedAt(i);
        }
    }
    return truncatedAt(chain.size());
}

} // namespace

// PKWARE APPNOTE.TXT, 4.3.7 (local file header), 4.3.12 (central directory file header) and
// 4.3.16 (end of central directory record). Read from a local header:
//   offset 18  compressed size     4 bytes, little-endian
//   offset 26  file name length    2 bytes
//   offset 28  extra field length  2 bytes
// The fixed part is 30 bytes; the member's data follows the name and the extra field.
ZipExtent::Result ZipExtent::measure(EvidenceReader& evidence, std::int64_t H, bool exact) {
    if (exact) {
        return measureExact(evidence, H);
    }
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
            continue;
        }
        if (text == "504B12") {
            result.directory = C;
            return searchEndRecord(C);
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
            return searchEndRecord(F);
        }
        result.resumeOffset = F;
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

void ZipExtent::parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts) {
    const auto start = static_cast<std::uint64_t>(H);
    if (H < 0 || length < 22 || length > evidence.size() - std::min(start, evidence.size())) {
        return;
    }
    // The end record that ends the archive with its comment, searched back over the longest comment.
    const std::uint64_t from = length - 22 > 0xFFFF ? start + length - 22 - 0xFFFF : start;
    std::vector<unsigned char> tail(static_cast<std::size_t>(start + length - from));
    evidence.readAt(static_cast<std::int64_t>(from), tail.data(), tail.size());
    std::uint64_t F = 0;
    for (std::size_t i = tail.size() - 22 + 1; i-- > 0;) {
        if (le32(&tail[i]) == endSig && i + 22 + le16(&tail[i + 20]) == tail.size()) {
            F = from + i;
            break;
        }
    }
    if (F == 0) {
        return;
    }
    std::uint64_t count = evidence.le16(static_cast<std::int64_t>(F + 10));
    std::uint64_t cdLength = evidence.le32(static_cast<std::int64_t>(F + 12));
    std::uint64_t cdOffset = evidence.le32(static_cast<std::int64_t>(F + 16));
    const auto locator = static_cast<std::int64_t>(F - 20);
    if ((count == 0xFFFF || cdOffset == maxField) && F >= start + 20 &&
        evidence.le32(locator) == locatorSig) {
        const auto record = static_cast<std::int64_t>(start + evidence.le64(locator + 8));
        if (evidence.le32(record) == zip64EndSig) {
            count = evidence.le64(record + 32);
            cdLength = evidence.le64(record + 40);
            cdOffset = evidence.le64(record + 48);
        }
    }
    if (cdOffset > length || cdLength > length - cdOffset || count > maxParts) {
        return;
    }
    const auto members = ZipMembers::readDirectory(evidence, start + cdOffset, cdLength, count);
    if (!members) {
        return;
    }
    const PieceLayout archive{start, ~std::uint64_t{0}, 0};
    for (const ZipMember& m : *members) {
        const std::uint64_t data = ZipMembers::localData(evidence, archive, m);
        if (data != 0 && data <= length && m.compressed <= length - data && parts.size() < maxParts) {
            parts.push_back(Part{data, m.compressed});
        }
    }
}

} // namespace morrow
