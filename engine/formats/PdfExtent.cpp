// ISO 32000-1:2008 (PDF 1.7), 7.5 "File Structure": a header line "%PDF-1.n", the body (objects
// "N G obj ... endobj"), the cross-reference section ("xref", or a cross-reference stream, itself
// an object), the trailer, "startxref", the byte offset of the last cross-reference section, and
// the end-of-file marker "%%EOF" on the last line. 7.5.6 "Incremental Updates": an update appends
// a body, a cross-reference section and a trailer, each ending in its own %%EOF, so a file holds
// one %%EOF per update. A linearized file (annex F) holds two even without updates: the first
// ends the first-page cross-reference section and is followed by the body's objects.
#include "formats/PdfExtent.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace morrow {

namespace {

constexpr char eofMarker[] = "%%EOF";
constexpr std::size_t eofLength = 5;
constexpr char objectEnd[] = "endobj";
constexpr std::size_t objectEndLength = 6;
constexpr char header[] = "%PDF-";
constexpr std::size_t headerLength = 5;
// Consecutive blocks overlap by this much, so a keyword that straddles two is whole in the second.
constexpr std::size_t overlap = objectEndLength - 1;

bool whiteSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool digit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// The offset just past the line end (CR LF, LF or CR) that starts at P, or P when none does.
std::uint64_t pastLineEnd(EvidenceReader& evidence, std::uint64_t P) {
    unsigned char two[2] = {};
    const std::size_t got = evidence.readAt(static_cast<std::int64_t>(P), two, 2);
    if (got >= 1 && two[0] == '\r') {
        return got >= 2 && two[1] == '\n' ? P + 2 : P + 1;
    }
    return got >= 1 && two[0] == '\n' ? P + 1 : P;
}

// True when an update section starts at P, after optional white space: a cross-reference table
// ("xref") or an indirect object ("N G obj", which a cross-reference stream is as well).
bool updateFollows(EvidenceReader& evidence, std::uint64_t P) {
    unsigned char window[256] = {};
    const std::size_t n = evidence.readAt(static_cast<std::int64_t>(P), window, sizeof window);
    std::size_t i = 0;
    while (i < n && whiteSpace(window[i])) {
        ++i;
    }
    if (n - i >= 5 && std::memcmp(window + i, "xref", 4) == 0 && whiteSpace(window[i + 4])) {
        return true;
    }
    // N G obj: two unsigned integers and the keyword, separated by white space.
    for (int number = 0; number < 2; ++number) {
        const std::size_t start = i;
        while (i < n && digit(window[i])) {
            ++i;
        }
        if (i == start || i >= n || !whiteSpace(window[i])) {
            return false;
        }
        while (i < n && whiteSpace(window[i])) {
            ++i;
        }
    }
    return n - i >= 3 && std::memcmp(window + i, "obj", 3) == 0;
}

const unsigned char* find(const unsigned char* from, const unsigned char* to, const char* what,
                          std::size_t length) {
    if (to - from < static_cast<std::ptrdiff_t>(length)) {
        return nullptr;
    }
    const auto* w = reinterpret_cast<const unsigned char*>(what);
    const unsigned char* at = std::search(from, to, w, w + length);
    return at == to ? nullptr : at;
}

} // namespace

Extent PdfExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    const std::uint64_t E = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= E) {
        return Extent::rejected("outside the evidence");
    }
    unsigned char head[8] = {};
    evidence.readAt(H, head, sizeof head);
    if (std::memcmp(head, header, headerLength) != 0 || !digit(head[5]) || head[6] != '.' ||
        !digit(head[7])) {
        return Extent::rejected("no %PDF-x.y header");
    }

    const auto start = static_cast<std::uint64_t>(H);
    // The end of the last part known to be whole: an "endobj" line or an update's %%EOF line.
    std::uint64_t sound = start;
    auto truncated = [&](const char* why) {
        return sound > start ? Extent::found(sound - start, true) : Extent::rejected(why);
    };

    std::vector<unsigned char> block(blockSize);
    std::uint64_t B = start + headerLength;
    for (;;) {
        if (B >= E) {
            return truncated("no %%EOF before the end of the evidence");
        }
        // Sized by the evidence, not by what the read delivered: a failed read gives zeros, and
        // every block but the last is whole, so each step moves on.
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), E - B));
        evidence.readAt(static_cast<std::int64_t>(B), block.data(), n);
        const unsigned char* first = block.data();
        const unsigned char* last = first + n;

        const unsigned char* eof = find(first, last, eofMarker, eofLength);
        // Another PDF's header at a sector start means this one's end was overwritten.
        const unsigned char* limit = eof != nullptr ? eof : last;
        for (std::uint64_t S = (B + 511) / 512 * 512; S + headerLength <= B + n; S += 512) {
            const unsigned char* p = first + (S - B);
            if (p >= limit) {
                break;
            }
            if (S > start && std::memcmp(p, header, headerLength) == 0) {
                limit = p;
                eof = nullptr;
                break;
            }
        }
        // The last object end before the limit.
        const unsigned char* lastObjectEnd = nullptr;
        for (const unsigned char* p = first; (p = find(p, limit, objectEnd, objectEndLength)) != nullptr;
             p += objectEndLength) {
            lastObjectEnd = p;
        }
        if (lastObjectEnd != nullptr) {
            const std::uint64_t P = B + static_cast<std::uint64_t>(lastObjectEnd - first) + objectEndLength;
            sound = std::max(sound, pastLineEnd(evidence, P));
        }

        if (eof != nullptr) {
            const std::uint64_t end =
                pastLineEnd(evidence, B + static_cast<std::uint64_t>(eof - first) + eofLength);
            if (!updateFollows(evidence, end)) {
                return Extent::found(end - start);
            }
            sound = end;
            B = end;
            continue;
        }
        if (limit != last) {
            return truncated("another PDF starts before a %%EOF");
        }
        if (B + n >= E) {
            return truncated("no %%EOF before the end of the evidence");
        }
        if (B + n - sound > maxObjectGap) {
            return truncated("no %%EOF and no object end for too long");
        }
        B += n - overlap;
    }
}

bool PdfExtent::linearizedLengthAgrees(EvidenceReader& evidence, std::int64_t H, std::uint64_t L) {
    const std::uint64_t E = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) > E || L > E - static_cast<std::uint64_t>(H) ||
        L < eofLength) {
        return false;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(H) + L;
    // The bytes before the end, and the one after it (zero at the end of the evidence).
    unsigned char tail[8] = {};
    const std::uint64_t from = end >= 7 ? end - 7 : 0;
    evidence.readAt(static_cast<std::int64_t>(from), tail, 8);
    const std::size_t n = static_cast<std::size_t>(end - from); // bytes before the end in tail
    const unsigned char after = tail[n];
    auto markerEndsAt = [&](std::size_t k) { // %%EOF ends k bytes before the end
        return n >= k + eofLength && std::memcmp(tail + n - k - eofLength, eofMarker, eofLength) == 0;
    };
    if (n >= 2 && tail[n - 2] == '\r' && tail[n - 1] == '\n') {
        return markerEndsAt(2);
    }
    if (n >= 1 && tail[n - 1] == '\n') {
        return markerEndsAt(1);
    }
    if (n >= 1 && tail[n - 1] == '\r') {
        return after != '\n' && markerEndsAt(1);
    }
    return end == E && markerEndsAt(0);
}

} // namespace morrow
