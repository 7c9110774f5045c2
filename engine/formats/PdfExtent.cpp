// ISO 32000-1:2008 (PDF 1.7), 7.5 "File Structure": a header line "%PDF-1.n", the body (objects
// "N G obj ... endobj"), the cross-reference section ("xref", or a cross-reference stream, itself
// an object), the trailer, "startxref", the byte offset of the last cross-reference section, and
// the end-of-file marker "%%EOF" on the last line. 7.5.6 "Incremental Updates": an update appends
// a body, a cross-reference section and a trailer, each ending in its own %%EOF, so a file holds
// one %%EOF per update. A linearized file (annex F) holds two even without updates: the first
// ends the first-page cross-reference section and is followed by the body's objects.
#include "formats/PdfExtent.h"

#include "evidence/EvidenceReader.h"
#include "formats/ExactEnds.h"
#include "formats/PdfObjects.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
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

// The cross-reference's verdict on a %%EOF: proven, or where the file breaks (0: nowhere known).
struct Proof {
    bool proven = false;
    std::uint64_t breakAt = 0;
};

constexpr int maxSections = 64;       // sections followed back through /Prev
constexpr std::size_t maxSample = 64; // objects checked per proof
// How far before a "startxref" its section is looked for when it is not where it says.
constexpr std::uint64_t maxLocate = std::uint64_t{4} << 20;

// The first of n items for which `holds` is false, `holds` being true for a run of them from the
// first (objects by offset standing where a section puts them, up to a break): up to maxSample
// spread over them, then those between the last that held and the first that did not, halved in
// turn. n when every one checked holds.
template <typename Holds> std::size_t firstFailing(std::size_t n, Holds&& holds) {
    const std::size_t m = std::min(n, maxSample);
    std::size_t lo = 0; // every item before lo held
    for (std::size_t j = 0; j < m; ++j) {
        const std::size_t i = j * n / m;
        if (holds(i)) {
            lo = i + 1;
            continue;
        }
        std::size_t hi = i; // the first failing lies in [lo, hi]
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (holds(mid)) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return hi;
    }
    return n;
}

// Whether the object `e` stands as "N G obj" at `base` plus its offset.
bool stands(EvidenceReader& evidence, const PdfEntry& e, std::uint64_t base) {
    return PdfObjects::objectAt(evidence, base + e.offset, e.number) != 0;
}

// The start of the object ("N G obj") whose dictionary holds the text at P, looked for in the
// bytes before it; 0 when none.
std::uint64_t objectStartBefore(EvidenceReader& evidence, std::uint64_t floor, std::uint64_t P) {
    const std::uint64_t from = P - std::min<std::uint64_t>(P - floor, 1024);
    std::string text(static_cast<std::size_t>(P - from), '\0');
    evidence.readAt(static_cast<std::int64_t>(from), text.data(), text.size());
    for (std::size_t k = text.rfind("obj"); k != std::string::npos && k > 0; k = text.rfind("obj", k - 1)) {
        std::size_t i = k;
        for (int number = 0; number < 2; ++number) {
            const std::size_t spaceEnd = i;
            while (i > 0 && whiteSpace(static_cast<unsigned char>(text[i - 1]))) {
                --i;
            }
            const std::size_t digitsEnd = i;
            while (i > 0 && digit(static_cast<unsigned char>(text[i - 1]))) {
                --i;
            }
            if (i == digitsEnd || spaceEnd == digitsEnd) {
                i = std::string::npos;
                break;
            }
        }
        if (i != std::string::npos) {
            return from + i;
        }
        if (k == 0) {
            break;
        }
    }
    return 0;
}

// The cross-reference section nearest before the "startxref" at P: the last table keyword "xref"
// or cross-reference stream (/Type /XRef) within maxLocate; 0 when none.
std::uint64_t locateSection(EvidenceReader& evidence, std::uint64_t start, std::uint64_t P) {
    const std::uint64_t floor = P - std::min(P - start, maxLocate);
    std::string text;
    for (std::uint64_t to = P; to > floor;) {
        const std::uint64_t from = to - std::min<std::uint64_t>(to - floor, PdfExtent::blockSize);
        text.assign(static_cast<std::size_t>(to - from + 8), '\0');
        evidence.readAt(static_cast<std::int64_t>(from), text.data(), text.size());
        std::size_t table = std::string::npos;
        for (std::size_t k = text.rfind("xref"); k != std::string::npos;
             k = k > 0 ? text.rfind("xref", k - 1) : std::string::npos) {
            if (from + k < P && !(k >= 5 && text.compare(k - 5, 5, "start") == 0)) {
                table = k;
                break;
            }
        }
        std::size_t stream = std::string::npos;
        for (std::size_t k = text.rfind("/XRef"); k != std::string::npos;
             k = k > 0 ? text.rfind("/XRef", k - 1) : std::string::npos) {
            if (from + k < P && text.compare(k + 5, 3, "Stm") != 0) {
                stream = k;
                break;
            }
        }
        if (table != std::string::npos && (stream == std::string::npos || table > stream)) {
            return from + table;
        }
        if (stream != std::string::npos) {
            return objectStartBefore(evidence, start, from + stream);
        }
        to = from + 4 < to ? from + 4 : from; // a keyword straddling two blocks is whole in one
        if (from == floor) {
            break;
        }
    }
    return 0;
}

// The offset that the "startxref" before the %%EOF at `eofAt` gives (nothing but white space
// between them), and where that keyword stands.
std::optional<std::pair<std::uint64_t, std::uint64_t>>
startxrefBefore(EvidenceReader& evidence, std::uint64_t start, std::uint64_t eofAt) {
    const std::uint64_t from = eofAt - std::min<std::uint64_t>(eofAt - start, 1024);
    std::string text(static_cast<std::size_t>(eofAt - from), '\0');
    evidence.readAt(static_cast<std::int64_t>(from), text.data(), text.size());
    const std::size_t keyword = text.rfind("startxref");
    if (keyword == std::string::npos) {
        return std::nullopt;
    }
    std::size_t i = keyword + 9;
    while (i < text.size() && whiteSpace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    std::uint64_t N = 0;
    std::size_t digits = 0;
    for (; i < text.size() && digit(static_cast<unsigned char>(text[i])) && digits < 15; ++i, ++digits) {
        N = N * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    while (i < text.size() && whiteSpace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    if (digits == 0 || i != text.size()) {
        return std::nullopt;
    }
    return std::pair{N, from + keyword};
}

// The sections from the one at offset N back through /Prev, their objects added to `objects`
// and counted in `sections`: the offset of the section the chain lost, or nothing when it ended.
std::optional<std::uint64_t> readChain(EvidenceReader& evidence, std::uint64_t start, std::uint64_t N,
                                       std::uint64_t before, JoinBudget& budget,
                                       std::vector<PdfEntry>& objects, int& sections) {
    std::optional<std::uint64_t> at = N;
    for (; at && sections < maxSections && *at < before - start; ++sections) {
        const auto section = PdfObjects::readSection(evidence, start + *at, before, budget);
        if (!section) {
            break;
        }
        objects.insert(objects.end(), section->objects.begin(), section->objects.end());
        at = section->prev;
    }
    return at;
}

// Whether the %%EOF at `eofAt` is the file's at `start`: its "startxref" points at a section
// whose objects, checked by sample, stand at their offsets, and so do those of every section
// before it by /Prev. Not proven: where the file breaks, when `locate` asks for it.
Proof prove(EvidenceReader& evidence, std::uint64_t start, std::uint64_t eofAt, bool locate) {
    const auto found = startxrefBefore(evidence, start, eofAt);
    if (!found) {
        return {};
    }
    const auto [N, startxref] = *found;
    std::vector<PdfEntry> objects;
    JoinBudget budget(PdfObjects::maxStreamBytes * 4, ~std::uint64_t{0});
    budget.watch(evidence);
    int sections = 0;
    const std::optional<std::uint64_t> at =
        readChain(evidence, start, N, startxref, budget, objects, sections);
    auto byOffset = [](const PdfEntry& a, const PdfEntry& b) { return a.offset < b.offset; };
    std::sort(objects.begin(), objects.end(), byOffset);
    if (sections > 0) {
        // This file's own sections: it breaks at the first object that is not where they say, or
        // at the section the chain lost.
        const std::size_t missing =
            firstFailing(objects.size(), [&](std::size_t i) { return stands(evidence, objects[i], start); });
        if (!at && missing == objects.size() && !objects.empty()) {
            return {true, 0};
        }
        std::uint64_t breakAt = missing < objects.size() ? start + objects[missing].offset : eofAt;
        if (at) {
            breakAt = std::min(breakAt, start + *at);
        }
        return {false, breakAt};
    }
    if (!locate) {
        return {};
    }
    // No section where "startxref" says: the one before it belongs to a file that starts where it
    // puts the section (a later file's end that the search ran into: this one breaks before that
    // file's start), or to this file moved by a gap (it breaks where its objects stop standing).
    const std::uint64_t X = locateSection(evidence, start, startxref);
    if (X == 0) {
        return {};
    }
    const auto section = PdfObjects::readSection(evidence, X, eofAt, budget);
    if (!section || X < N || X - N <= start) {
        return {false, X};
    }
    std::vector<PdfEntry> sorted = section->objects;
    std::sort(sorted.begin(), sorted.end(), byOffset);
    // That file's objects stand from some offset on (its start may be lost, and this file's bytes
    // stand where it put its first objects): the break is no later than its start, or the start
    // of the object before the first that stands (whose end it holds).
    const std::uint64_t S = X - N;
    const std::size_t first =
        firstFailing(sorted.size(), [&](std::size_t i) { return !stands(evidence, sorted[i], S); });
    std::uint64_t breakAt = X;
    if (first < sorted.size()) {
        breakAt = std::min(breakAt, first == 0 ? S : S + sorted[first - 1].offset);
    }
    // This file moved by a gap: its own objects stand up to where it broke.
    const std::size_t missing =
        firstFailing(sorted.size(), [&](std::size_t i) { return stands(evidence, sorted[i], start); });
    if (missing >= 2 && missing < sorted.size()) {
        breakAt = std::min(breakAt, start + sorted[missing].offset);
    }
    return {false, breakAt};
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

    // The last object end before each mebibyte the search passed, so that the last one before a
    // break found later costs one bounded read.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> marks; // block start, `sound` there
    auto lastObjectEndBefore = [&](std::uint64_t X) {
        auto mark = std::upper_bound(marks.begin(), marks.end(), X,
                                     [](std::uint64_t x, const auto& m) { return x < m.first; });
        if (mark == marks.begin()) {
            return start;
        }
        --mark;
        std::uint64_t last = mark->second;
        std::vector<unsigned char> bytes(static_cast<std::size_t>(X - mark->first));
        evidence.readAt(static_cast<std::int64_t>(mark->first), bytes.data(), bytes.size());
        const unsigned char* end = bytes.data() + bytes.size();
        for (const unsigned char* p = bytes.data(); (p = find(p, end, objectEnd, objectEndLength)) != nullptr;
             p += objectEndLength) {
            last = std::max(last,
                            pastLineEnd(evidence, mark->first + static_cast<std::uint64_t>(p - bytes.data()) +
                                                      objectEndLength));
        }
        return last;
    };
    // The end of the last update whose %%EOF its cross-reference proved, of the first few.
    std::uint64_t provenEnd = 0;
    int proofs = 0;
    // A last %%EOF that its cross-reference does not prove: the file is broken, and ends after the
    // last object before the break (or the update proved before it).
    auto broken = [&](const Proof& proof, std::uint64_t end) {
        if (proof.breakAt == 0) {
            return Extent::found((provenEnd != 0 ? provenEnd : end) - start, true);
        }
        const std::uint64_t cut = std::max(provenEnd, lastObjectEndBefore(std::min(proof.breakAt, end)));
        return cut > start ? Extent::found(cut - start, true)
                           : Extent::rejected("the cross-reference places no object where it stands");
    };

    std::vector<unsigned char> block(blockSize);
    std::uint64_t B = start + headerLength;
    for (;;) {
        if (B >= E) {
            return truncated("no %%EOF before the end of the evidence");
        }
        if (marks.empty() || B - marks.back().first >= markStep) {
            marks.emplace_back(B, sound);
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
            const std::uint64_t eofAt = B + static_cast<std::uint64_t>(eof - first);
            const std::uint64_t end = pastLineEnd(evidence, eofAt + eofLength);
            if (!updateFollows(evidence, end)) {
                const Proof proof = prove(evidence, start, eofAt, true);
                return proof.proven ? Extent::found(end - start) : broken(proof, end);
            }
            if (proofs < maxProofs) {
                ++proofs;
                provenEnd = prove(evidence, start, eofAt, false).proven ? end : provenEnd;
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

bool PdfExtent::endProven(EvidenceReader& evidence, std::int64_t H, std::uint64_t length) {
    const auto start = static_cast<std::uint64_t>(H);
    if (H < 0 || length < eofLength + 2 || length > evidence.size() - std::min(start, evidence.size())) {
        return false;
    }
    char tail[8] = {};
    evidence.readAt(static_cast<std::int64_t>(start + length - sizeof tail), tail, sizeof tail);
    const std::string text(tail, sizeof tail);
    const std::size_t marker = text.rfind(eofMarker);
    return marker != std::string::npos &&
           prove(evidence, start, start + length - sizeof tail + marker, false).proven;
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

void PdfExtent::parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts) {
    const auto start = static_cast<std::uint64_t>(H);
    if (H < 0 || length < 16 || length > evidence.size() - std::min(start, evidence.size())) {
        return;
    }
    const std::uint64_t end = start + length;
    char tail[16] = {};
    evidence.readAt(static_cast<std::int64_t>(end - sizeof tail), tail, sizeof tail);
    const std::size_t marker = std::string(tail, sizeof tail).rfind(eofMarker);
    const auto found = marker == std::string::npos
                           ? std::nullopt
                           : startxrefBefore(evidence, start, end - sizeof tail + marker);
    if (!found) {
        return;
    }
    JoinBudget budget(PdfObjects::maxStreamBytes * 4, ~std::uint64_t{0});
    budget.watch(evidence);
    std::vector<PdfEntry> objects;
    int sections = 0;
    readChain(evidence, start, found->first, found->second, budget, objects, sections);
    // A stream whose /Length is no number of its own runs to its "endstream": those searches read
    // no more than the file's length twice over.
    std::uint64_t searched = 0;
    std::vector<unsigned char> bytes(blockSize + 9);
    const PieceLayout file{0, ~std::uint64_t{0}, 0};
    for (const PdfEntry& object : objects) {
        if (parts.size() >= maxParts || object.offset >= length) {
            continue;
        }
        const std::size_t text = PdfObjects::objectAt(evidence, start + object.offset, object.number);
        const auto stream =
            text == 0 ? std::nullopt
                      : PdfObjects::streamAt(evidence, file, start + object.offset + text, {}, 2048);
        if (!stream || stream->data >= end) {
            continue;
        }
        if (stream->lengthKnown && stream->length <= end - stream->data) {
            parts.push_back(Part{stream->data - start, stream->length});
            continue;
        }
        for (std::uint64_t B = stream->data; B < end && searched <= 2 * length; B += blockSize) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), end - B));
            evidence.readAt(static_cast<std::int64_t>(B), bytes.data(), n);
            searched += n;
            const unsigned char* at = find(bytes.data(), bytes.data() + n, "endstream", 9);
            if (at != nullptr) {
                std::uint64_t stop = B + static_cast<std::uint64_t>(at - bytes.data());
                // The line end before the keyword is no data.
                if (stop > stream->data && at > bytes.data() && at[-1] == '\n') {
                    --stop;
                    if (stop > stream->data && at - 1 > bytes.data() && at[-2] == '\r') {
                        --stop;
                    }
                }
                parts.push_back(Part{stream->data - start, stop - stream->data});
                break;
            }
        }
    }
}

} // namespace morrow
