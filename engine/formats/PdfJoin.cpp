// PDF's proof of a join (ISO 32000-1, 7.5.4 and 7.5.5): "startxref" gives the cross-reference
// table's offset from the file's first byte, and the table every object's. Where the table is
// found further on than its offset says, the difference is the gap; every object must then stand
// as "N G obj" at its offset in the piece that holds it, those before the split in the first and
// the rest in the next. The split lies between the last object of the first piece and the first of
// the next: a single sector start there proves it, and a deflated stream run through by more than
// one is inflated across each in turn, its Adler-32 choosing.
#include "formats/FragmentJoin.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/PdfObjects.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <zlib.h>

namespace morrow {

namespace {

constexpr std::uint64_t sector = limits::sectorSize;
// How far past the header a "startxref" is searched.
constexpr std::uint64_t maxSearch = std::uint64_t{128} << 20;
// Cross-reference sections followed back through /Prev.
constexpr int maxSections = 64;

// The stream of the object whose "obj" text ends at `body` under `layout`: the data's offset and
// length when it is deflated; a /Length given by reference is looked up with `lookUp`.
std::optional<PdfStream> flateStream(EvidenceReader& evidence, const PieceLayout& layout, std::uint64_t body,
                                     const PdfObjects::LookUp& lookUp) {
    auto stream = PdfObjects::streamAt(evidence, layout, body, lookUp);
    if (!stream || !stream->flate || !stream->lengthKnown) {
        return std::nullopt;
    }
    return stream;
}

// The zlib stream of `stream` under `layout` inflates to its end and its Adler-32.
bool inflates(EvidenceReader& evidence, const PieceLayout& layout, const PdfStream& stream,
              JoinBudget& budget) {
    if (!budget.spend(stream.length, 1)) {
        return false;
    }
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return false;
    }
    std::vector<unsigned char> in(65536);
    std::vector<unsigned char> out(65536);
    std::uint64_t fed = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_in == 0) {
            if (fed == stream.length) {
                break;
            }
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(stream.length - fed, in.size()));
            layout.read(evidence, stream.data + fed, in.data(), n);
            fed += n;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        status = inflate(&z, Z_NO_FLUSH);
    }
    const bool whole = status == Z_STREAM_END && fed == stream.length && z.avail_in == 0;
    inflateEnd(&z);
    if (!whole) {
        return false;
    }
    unsigned char after[16] = {};
    layout.read(evidence, stream.data + stream.length, after, sizeof after);
    std::size_t i = 0;
    while (i < 2 && (after[i] == '\r' || after[i] == '\n')) {
        ++i;
    }
    return std::memcmp(after + i, "endstream", 9) == 0;
}

// The split between a piece whose objects end at `from` and the next, whose objects begin at
// `to`: the one sector start between them, or where there are more, the one under which the
// deflated stream they run through inflates (`layoutAt` gives the pieces for a split); 0 for none.
template <typename LayoutAt>
std::uint64_t chooseSplit(EvidenceReader& evidence, const std::vector<PdfEntry>& objects, std::uint64_t from,
                          std::uint64_t to, LayoutAt&& layoutAt, JoinBudget& budget) {
    const std::uint64_t lowest = (from + sector - 1) / sector * sector;
    const std::uint64_t highest = to / sector * sector;
    if (lowest > highest || lowest == 0) {
        return 0;
    }
    if (lowest == highest) {
        return lowest;
    }
    // The object the split runs through: the last that begins before the lowest start.
    const auto broken = std::partition_point(objects.begin(), objects.end(),
                                             [&](const PdfEntry& e) { return e.offset < lowest; });
    if (broken == objects.begin()) {
        return 0;
    }
    const PdfEntry& object = *(broken - 1);
    const std::size_t header = PdfObjects::objectAt(evidence, object.found, object.number);
    // An integer object "N G obj L endobj", where the table puts it.
    auto lookUp = [&](std::uint64_t number) -> std::optional<std::uint64_t> {
        const auto e = std::find_if(objects.begin(), objects.end(),
                                    [&](const PdfEntry& x) { return x.number == number; });
        const std::size_t text = e == objects.end() ? 0 : PdfObjects::objectAt(evidence, e->found, number);
        if (text == 0) {
            return std::nullopt;
        }
        PdfCursor c(evidence, e->found + text, e->found + text + 64);
        c.skipSpace();
        const auto value = c.number();
        c.skipSpace();
        return value && c.keyword("endobj") ? value : std::nullopt;
    };
    // Its dictionary, where the piece that holds its header puts it.
    const PieceLayout whole{object.found - object.offset, ~std::uint64_t{0}, 0};
    const auto stream =
        header == 0 ? std::nullopt : flateStream(evidence, whole, object.offset + header, lookUp);
    if (!stream || stream->data > lowest || stream->data + stream->length > to) {
        return 0;
    }
    // Past the stream's data the inflation tells no split from the next: one at most is left.
    if (highest >= stream->data + stream->length + sector) {
        return 0;
    }
    for (std::uint64_t s = highest; s >= lowest && !budget.spent(); s -= sector) {
        if (inflates(evidence, layoutAt(s), *stream, budget)) {
            return s;
        }
    }
    return 0;
}

bool pieceFree(const ClusterClaims& claims, std::uint64_t from, std::uint64_t to) {
    if (claims.taken(static_cast<std::int64_t>(from))) {
        return false;
    }
    for (std::uint64_t s = from; s < to; s += sector) {
        if (claims.claimed(static_cast<std::int64_t>(s))) {
            return false;
        }
    }
    return true;
}

// The objects of `middle` (in neither the first piece nor the last) in a piece of their own, a
// sector multiple past where they belong and short of the last piece's gap; each split the one
// sector start between the pieces' objects.
std::optional<std::vector<Piece>> threePieces(EvidenceReader& evidence, std::uint64_t H, std::uint64_t gap,
                                              std::uint64_t end, std::vector<PdfEntry>& objects,
                                              const std::vector<PdfEntry*>& middle, std::uint64_t lastFirst,
                                              std::uint64_t firstLast, const ClusterClaims& claims,
                                              JoinBudget& budget) {
    const PdfEntry& lowest = *middle.front();
    const std::string number = std::to_string(lowest.number);
    for (std::uint64_t middleGap = sector; middleGap < gap; middleGap += sector) {
        if (middleGap % (64 * sector) == 0 && !budget.spend(64 * 64)) {
            return std::nullopt;
        }
        char head[24] = {};
        evidence.readAt(static_cast<std::int64_t>(H + lowest.offset + middleGap), head, number.size());
        if (number.compare(0, number.size(), head, number.size()) != 0 ||
            PdfObjects::objectAt(evidence, H + lowest.offset + middleGap, lowest.number) == 0) {
            continue;
        }
        std::uint64_t firstMiddle = ~std::uint64_t{0};
        std::uint64_t lastMiddle = 0;
        bool all = true;
        for (const PdfEntry* object : middle) {
            const std::size_t text =
                PdfObjects::objectAt(evidence, H + object->offset + middleGap, object->number);
            all = all && text != 0;
            firstMiddle = std::min(firstMiddle, object->offset);
            lastMiddle = std::max(lastMiddle, object->offset + text);
        }
        if (!all || lastFirst > firstMiddle || lastMiddle > firstLast) {
            continue;
        }
        for (PdfEntry* object : middle) {
            object->found = H + object->offset + middleGap;
        }
        const std::uint64_t first = chooseSplit(
            evidence, objects, lastFirst, firstMiddle,
            [&](std::uint64_t s) {
                return PieceLayout{H, s, middleGap, firstMiddle, middleGap};
            },
            budget);
        const std::uint64_t second = first == 0 ? 0
                                                : chooseSplit(
                                                      evidence, objects, lastMiddle, firstLast,
                                                      [&](std::uint64_t s) {
                                                          return PieceLayout{H, first, middleGap, s, gap};
                                                      },
                                                      budget);
        if (first == 0 || second <= first ||
            !pieceFree(claims, H + first + middleGap, H + second + middleGap) ||
            !pieceFree(claims, H + second + gap, end)) {
            continue;
        }
        return std::vector<Piece>{
            Piece{static_cast<std::int64_t>(H), first},
            Piece{static_cast<std::int64_t>(H + first + middleGap), second - first},
            Piece{static_cast<std::int64_t>(H + second + gap), end - (H + second + gap)}};
    }
    return std::nullopt;
}

// The pieces when the table at `X` (the evidence offset `gap` bytes past the offset `xref` that
// "startxref" gives) proves a split, the file ending at `end`.
std::optional<std::vector<Piece>> prove(EvidenceReader& evidence, std::uint64_t H, std::uint64_t xref,
                                        std::uint64_t gap, std::uint64_t end, const ClusterClaims& claims,
                                        JoinBudget& budget) {
    std::vector<PdfEntry> objects;
    std::uint64_t firstNext = end - H; // the lowest offset that stands in the next piece
    std::uint64_t lastFirst = 0;       // the end of the highest header that stands in the first
    // Each section of the chain, in whichever piece holds it.
    std::optional<std::uint64_t> at = xref;
    for (int n = 0; at && n < maxSections; ++n) {
        std::optional<PdfSection> section;
        if ((section = PdfObjects::readTable(evidence, H + *at, end, budget))) {
            lastFirst = std::max(lastFirst, *at + 4);
        } else if (H + *at + gap < end &&
                   (section = PdfObjects::readTable(evidence, H + *at + gap, end, budget))) {
            firstNext = std::min(firstNext, *at);
        }
        if (!section) {
            return std::nullopt;
        }
        objects.insert(objects.end(), section->objects.begin(), section->objects.end());
        at = section->prev;
    }
    if (at || objects.empty() || !budget.spend(objects.size() * 64)) {
        return std::nullopt;
    }
    std::sort(objects.begin(), objects.end(),
              [](const PdfEntry& a, const PdfEntry& b) { return a.offset < b.offset; });
    std::vector<PdfEntry*> middle; // in neither piece: a piece between them may hold them
    for (PdfEntry& object : objects) {
        const std::size_t first = PdfObjects::objectAt(evidence, H + object.offset, object.number);
        const std::size_t next = H + object.offset + gap < end
                                     ? PdfObjects::objectAt(evidence, H + object.offset + gap, object.number)
                                     : 0;
        object.found = first != 0 ? H + object.offset : H + object.offset + gap;
        if (first != 0 && next == 0) {
            lastFirst = std::max(lastFirst, object.offset + first);
        } else if (next != 0 && first == 0) {
            firstNext = std::min(firstNext, object.offset);
        } else if (first == 0) {
            middle.push_back(&object);
        }
    }
    if (lastFirst == 0 || lastFirst > firstNext) {
        return std::nullopt;
    }
    if (!middle.empty()) {
        return threePieces(evidence, H, gap, end, objects, middle, lastFirst, firstNext, claims, budget);
    }
    auto nextPieceFree = [&](std::uint64_t split) {
        if (claims.taken(static_cast<std::int64_t>(H + split + gap))) {
            return false;
        }
        for (std::uint64_t s = H + split + gap; s < end; s += sector) {
            if (claims.claimed(static_cast<std::int64_t>(s))) {
                return false;
            }
        }
        return true;
    };
    const std::uint64_t split = chooseSplit(
        evidence, objects, lastFirst, firstNext,
        [&](std::uint64_t s) {
            return PieceLayout{H, s, gap};
        },
        budget);
    if (split == 0 || !nextPieceFree(split)) {
        return std::nullopt;
    }
    const std::uint64_t next = H + split + gap;
    return std::vector<Piece>{Piece{static_cast<std::int64_t>(H), split},
                              Piece{static_cast<std::int64_t>(next), end - next}};
}

// The updates that follow the joined file's %%EOF, each with its table where its "startxref"
// says (in the next piece), lengthen its last piece to their own %%EOF.
void extendByUpdates(EvidenceReader& evidence, std::uint64_t H, std::uint64_t gap, std::vector<Piece>& pieces,
                     JoinBudget& budget) {
    for (int n = 0; n < maxSections; ++n) {
        Piece& last = pieces.back();
        const std::uint64_t end = static_cast<std::uint64_t>(last.offset) + last.length;
        PdfCursor c(evidence, end, evidence.size());
        c.skipSpace();
        const std::uint64_t update = c.at();
        if (!c.keyword("xref") &&
            !(c.number() && (c.skipSpace(), c.number()) && (c.skipSpace(), c.keyword("obj")))) {
            return;
        }
        // The update's own "startxref", within the reach of one object's search.
        std::string text(65536, '\0');
        text.resize(evidence.readAt(static_cast<std::int64_t>(update), text.data(), text.size()));
        if (!budget.spend(text.size())) {
            return;
        }
        const std::size_t found = text.find("startxref");
        if (found == std::string::npos) {
            return;
        }
        PdfCursor x(evidence, update + found + 9, evidence.size());
        x.skipSpace();
        const auto xref = x.number();
        x.skipSpace();
        if (!xref || !x.keyword("%%EOF") || H + *xref + gap < update ||
            !PdfObjects::readTable(evidence, H + *xref + gap, update + found, budget)) {
            return;
        }
        std::uint64_t eof = x.at();
        unsigned char eol[2] = {};
        evidence.readAt(static_cast<std::int64_t>(eof), eol, 2);
        eof += eol[0] == '\r' ? (eol[1] == '\n' ? 2 : 1) : (eol[0] == '\n' ? 1 : 0);
        last.length = eof - static_cast<std::uint64_t>(last.offset);
    }
}

// A linearized file's first-page section ends in a "%%EOF" of its own, and its linearization
// dictionary's /L gives the whole file's length: whether the file at `start` goes on past `end`.
bool goesOn(EvidenceReader& evidence, std::uint64_t start, std::uint64_t end) {
    std::string head(1024, '\0');
    head.resize(evidence.readAt(static_cast<std::int64_t>(start), head.data(), head.size()));
    const std::size_t linearized = head.find("/Linearized");
    const std::size_t close = head.find(">>", linearized);
    for (std::size_t l = head.find("/L", linearized); linearized != std::string::npos && l < close;
         l = head.find("/L", l + 2)) {
        std::size_t i = l + 2;
        if (i >= head.size() || !PdfObjects::whiteSpace(head[i])) {
            continue;
        }
        while (i < head.size() && PdfObjects::whiteSpace(head[i])) {
            ++i;
        }
        std::uint64_t length = 0;
        std::size_t digits = 0;
        for (; i < head.size() && PdfObjects::digit(head[i]) && digits < 15; ++i, ++digits) {
            length = length * 10 + static_cast<std::uint64_t>(head[i] - '0');
        }
        return digits > 0 && length > end - start;
    }
    return false;
}

// Where the words "startxref" and "xref" (a table's, not the one inside "startxref") stand in the
// evidence from some offset on, found by one pass that every PDF's search shares: each candidate
// reading on through the evidence for its own would read it once per broken PDF.
struct CrossReferenceWords {
    std::uint64_t from = 0;
    std::uint64_t to = 0; // indexed [from, to)
    std::vector<std::uint64_t> startxref;
    std::vector<std::uint64_t> xref;

    void reset(std::uint64_t at) {
        from = to = at;
        startxref.clear();
        xref.clear();
    }
    // Indexes on to `end` (in blocks), charging what it reads to `budget`. False when the budget is
    // spent, or when the evidence holds more of the words than a file could use (made so).
    bool cover(EvidenceReader& evidence, std::uint64_t end, JoinBudget& budget) {
        constexpr std::size_t block = std::size_t{1} << 20;
        constexpr std::size_t most = std::size_t{1} << 17;
        std::vector<unsigned char> bytes;
        while (to < end) {
            if (startxref.size() + xref.size() > most) {
                return false;
            }
            // Five bytes before the block tell "startxref" from "xref"; eight after finish a word.
            const std::uint64_t lead = std::min<std::uint64_t>(to - from, 5);
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, end - to));
            if (!budget.spend(n)) {
                return false;
            }
            bytes.resize(lead + n + 8);
            const std::size_t got =
                evidence.readAt(static_cast<std::int64_t>(to - lead), bytes.data(), bytes.size());
            for (std::size_t i = lead; i < lead + n && i + 4 <= got; ++i) {
                if (bytes[i] == 's' && i + 9 <= got && std::memcmp(&bytes[i], "startxref", 9) == 0) {
                    startxref.push_back(to - lead + i);
                } else if (bytes[i] == 'x' && std::memcmp(&bytes[i], "xref", 4) == 0 &&
                           !(i >= 5 && std::memcmp(&bytes[i - 5], "start", 5) == 0)) {
                    xref.push_back(to - lead + i);
                }
            }
            to = got < lead + n ? end : to + n; // a short read is the evidence's end
        }
        return true;
    }
};

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::pdf(EvidenceReader& evidence, std::int64_t H,
                                                    const ClusterClaims& claims, JoinBudget& budget) {
    const std::uint64_t size = evidence.size();
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char head[5] = {};
    if (H < 0 || start >= size || evidence.readAt(H, head, sizeof head) != sizeof head ||
        std::memcmp(head, "%PDF-", 5) != 0) {
        return std::nullopt;
    }
    // Each "startxref" from the header on, in order, until one whose table stands where it says
    // (the file is whole so far: nothing to reassemble) or one that proves a join.
    CrossReferenceWords& words = evidence.memo<CrossReferenceWords>();
    if (start < words.from || start > words.to) {
        words.reset(start);
    }
    std::uint64_t searchEnd = std::min(size, start + maxSearch);
    std::uint64_t after = start;
    for (;;) {
        const auto next = std::lower_bound(words.startxref.begin(), words.startxref.end(), after);
        if (next == words.startxref.end()) {
            if (words.to >= searchEnd ||
                !words.cover(evidence, std::min(searchEnd, words.to + (std::uint64_t{1} << 20)), budget)) {
                return std::nullopt;
            }
            continue;
        }
        const std::uint64_t P = *next;
        if (P >= searchEnd) {
            return std::nullopt;
        }
        after = P + 1;
        PdfCursor c(evidence, P + 9, size);
        c.skipSpace();
        const auto xref = c.number();
        c.skipSpace();
        if (!xref || !c.keyword("%%EOF") || *xref >= P - start) {
            continue;
        }
        std::uint64_t end = c.at();
        unsigned char eol[2] = {};
        evidence.readAt(static_cast<std::int64_t>(end), eol, 2);
        end += eol[0] == '\r' ? (eol[1] == '\n' ? 2 : 1) : (eol[0] == '\n' ? 1 : 0);
        // The chain of tables as it lies, to the first that is not at its offset.
        std::optional<std::uint64_t> missing = xref;
        for (int k = 0; missing && k < maxSections; ++k) {
            const auto section = PdfObjects::readTable(evidence, start + *missing, P, budget);
            if (!section) {
                break;
            }
            missing = section->prev;
        }
        if (!missing) {
            if (!goesOn(evidence, start, end)) {
                return std::nullopt; // whole so far as its tables say: nothing to reassemble
            }
            continue;
        }
        // That table at a sector multiple further on, the nearest to its "startxref" first: a
        // table is seldom far from it. The words' index holds every table before P.
        if (start + *missing + sector >= P) {
            continue;
        }
        const std::uint64_t lowest = start + *missing + sector;
        const std::uint64_t highest =
            start + *missing + std::min(maxGap, (P - start - *missing - 1) / sector * sector);
        bool located = false;
        auto table = std::upper_bound(words.xref.begin(), words.xref.end(), highest);
        while (table != words.xref.begin()) {
            const std::uint64_t X = *--table;
            if (X < lowest) {
                break;
            }
            if ((X - start - *missing) % sector != 0 || !budget.spend(sector, 1)) {
                continue;
            }
            const std::uint64_t gap = X - start - *missing;
            if (auto pieces = prove(evidence, start, *xref, gap, end, claims, budget)) {
                extendByUpdates(evidence, start, gap, *pieces, budget);
                return pieces;
            }
            if (budget.spent()) {
                return std::nullopt;
            }
            located = true;
        }
        // A table that did not prove the join (a look-alike, or a file in more pieces): the
        // real one, if any, lies within a gap's reach of it.
        if (located) {
            searchEnd = std::min(searchEnd, P + maxTrialGap);
        }
    }
}

} // namespace morrow
