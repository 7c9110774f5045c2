// HTML Living Standard (WHATWG), 13.1 "Writing HTML documents": a document is an optional byte
// order mark, comments and white space, the DOCTYPE ("<!DOCTYPE html", case-insensitive), more
// comments and white space, then the html element, whose end tag "</html>" may be followed only by
// comments and white space. XHTML pages (XML 1.0, 2.8) may open with an "<?xml ...?>" declaration.
// Text is UTF-8 as RFC 3629, 4 defines its well-formed sequences:
//   00..7F                   (here only tab, LF, CR and 20..7E)
//   C2..DF  80..BF
//   E0      A0..BF  80..BF
//   E1..EC  80..BF  80..BF
//   ED      80..9F  80..BF   (no UTF-16 surrogates)
//   EE..EF  80..BF  80..BF
//   F0      90..BF  80..BF  80..BF
//   F1..F3  80..BF  80..BF  80..BF
//   F4      80..8F  80..BF  80..BF   (nothing above U+10FFFF)
#include "formats/HtmlExtent.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace morrow {

namespace {

// What a byte is when it starts a character: text, no text, a '<' that may open the closing tag,
// or the lead byte of a multi-byte sequence (how many continuation bytes follow, and the range the
// first of them must lie in).
enum ByteClass : unsigned char { Text, NotText, Open, Lead2, LeadE0, Lead3, LeadED, LeadF0, Lead4, LeadF4 };

constexpr std::array<unsigned char, 256> byteClasses() {
    std::array<unsigned char, 256> c{};
    for (int b = 0; b < 256; ++b) {
        unsigned char k = NotText;
        if ((b >= 0x20 && b <= 0x7E) || b == '\t' || b == '\n' || b == '\r') {
            k = Text;
        } else if (b >= 0xC2 && b <= 0xDF) {
            k = Lead2;
        } else if (b == 0xE0) {
            k = LeadE0;
        } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
            k = Lead3;
        } else if (b == 0xED) {
            k = LeadED;
        } else if (b == 0xF0) {
            k = LeadF0;
        } else if (b >= 0xF1 && b <= 0xF3) {
            k = Lead4;
        } else if (b == 0xF4) {
            k = LeadF4;
        }
        c[static_cast<std::size_t>(b)] = k;
    }
    c['<'] = Open;
    return c;
}

constexpr std::array<unsigned char, 256> classes = byteClasses();

unsigned char lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

// Compares `n` bytes with lower-case ASCII text, ignoring the letter case of the bytes.
bool equalsIgnoringCase(const unsigned char* p, const char* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (lower(p[i]) != static_cast<unsigned char>(text[i])) {
            return false;
        }
    }
    return true;
}

bool space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

constexpr char closingTag[] = "</html>";
constexpr std::size_t closingTagLength = 7;

struct Scan {
    std::uint64_t textEnd = 0; // where text stopped being text (or the bound)
    std::uint64_t closed = 0;  // just past the closing tag and its line end; 0 when none was found
};

// Walks text from `from` up to `to` (evidence offsets, to <= the evidence size), block by block,
// and stops at the first byte that is no text, or (when asked) after the first closing tag.
Scan scan(EvidenceReader& evidence, std::uint64_t from, std::uint64_t to, bool closingTagEnds) {
    std::vector<unsigned char> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(HtmlExtent::blockSize, to - from)));
    int need = 0; // continuation bytes still to come
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    std::uint64_t sequence = from; // where the current multi-byte sequence began
    for (std::uint64_t B = from; B < to;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), to - B));
        evidence.readAt(static_cast<std::int64_t>(B), block.data(), n);
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c = block[i];
            if (need > 0) {
                if (c < low || c > high) {
                    return {sequence, 0};
                }
                --need;
                low = 0x80;
                high = 0xBF;
                continue;
            }
            switch (classes[c]) {
            case Text:
                continue;
            case NotText:
                return {B + i, 0};
            case Open:
                if (closingTagEnds) {
                    // The tag may straddle two blocks: then its bytes are read on their own.
                    std::array<unsigned char, closingTagLength + 2> tag{};
                    const std::size_t inBlock = std::min(tag.size(), n - i);
                    std::memcpy(tag.data(), block.data() + i, inBlock);
                    if (inBlock < tag.size()) {
                        evidence.readAt(static_cast<std::int64_t>(B + i + inBlock), tag.data() + inBlock,
                                        tag.size() - inBlock);
                    }
                    if (equalsIgnoringCase(tag.data(), closingTag, closingTagLength)) {
                        std::uint64_t end = B + i + closingTagLength;
                        const std::uint64_t size = evidence.size();
                        const unsigned char next = tag[closingTagLength];
                        if (end < size && next == '\r') {
                            end += end + 1 < size && tag[closingTagLength + 1] == '\n' ? 2 : 1;
                        } else if (end < size && next == '\n') {
                            end += 1;
                        }
                        return {end, end};
                    }
                }
                continue;
            case Lead2:
                need = 1;
                break;
            case LeadE0:
                need = 2;
                low = 0xA0;
                break;
            case Lead3:
                need = 2;
                break;
            case LeadED:
                need = 2;
                high = 0x9F;
                break;
            case LeadF0:
                need = 3;
                low = 0x90;
                break;
            case Lead4:
                need = 3;
                break;
            case LeadF4:
                need = 3;
                high = 0x8F;
                break;
            default:
                break;
            }
            sequence = B + i;
        }
        B += n;
    }
    return {need > 0 ? sequence : to, 0};
}

// Where the comment whose "<!--" ends at `from` ends: just past its "-->", when only text runs up
// to it before `to`; 0 when it never closes there.
std::uint64_t commentEnd(EvidenceReader& evidence, std::uint64_t from, std::uint64_t to) {
    static constexpr unsigned char close[] = {'-', '-', '>'};
    std::vector<unsigned char> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(HtmlExtent::blockSize, to - from)));
    for (std::uint64_t B = from; B < to;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), to - B));
        evidence.readAt(static_cast<std::int64_t>(B), block.data(), n);
        // A control byte ends the text, and with it the search; scan judges the rest below.
        const unsigned char* first = block.data();
        const unsigned char* last =
            std::find_if(first, first + n, [](unsigned char c) { return classes[c] == NotText; });
        const unsigned char* at = std::search(first, last, close, close + 3);
        if (at != last) {
            const std::uint64_t end = B + static_cast<std::uint64_t>(at - block.data()) + 3;
            return scan(evidence, from, end, false).textEnd == end ? end : 0;
        }
        if (last != block.data() + n || B + n >= to) {
            return 0;
        }
        B += n - 2; // "-->" may straddle two blocks
    }
    return 0;
}

} // namespace

bool HtmlExtent::opensPage(const unsigned char* first, std::size_t n) {
    std::size_t i = n >= 3 && first[0] == 0xEF && first[1] == 0xBB && first[2] == 0xBF ? 3 : 0;
    while (i < n && space(first[i])) {
        ++i;
    }
    // A prologue's "<?xml" or "<!--", or the document's "<!DOCTYPE" or "<html".
    return i >= n || (first[i] == '<' && (i + 1 >= n || first[i + 1] == '?' || first[i + 1] == '!' ||
                                          first[i + 1] == 'h' || first[i + 1] == 'H'));
}

bool HtmlExtent::startsDocument(EvidenceReader& evidence, std::int64_t H) {
    if (H < 0 || static_cast<std::uint64_t>(H) >= evidence.size()) {
        return false;
    }
    // Most candidates are sectors of other data that happen to open with white space or "<": a
    // few bytes tell, before the prologue is read.
    {
        unsigned char first[opening] = {};
        if (!opensPage(first, evidence.readAt(H, first, sizeof first))) {
            return false;
        }
    }
    std::vector<unsigned char> head(prologueLimit);
    const std::size_t n = evidence.readAt(H, head.data(), head.size());
    // Everything before the root must be text too.
    const std::size_t text = static_cast<std::size_t>(
        scan(evidence, static_cast<std::uint64_t>(H), static_cast<std::uint64_t>(H) + n, false).textEnd -
        static_cast<std::uint64_t>(H));
    const unsigned char* p = head.data();
    const unsigned char* end = p + text;
    auto startsWith = [&](const char* what) {
        const std::size_t k = std::strlen(what);
        return static_cast<std::size_t>(end - p) >= k && equalsIgnoringCase(p, what, k);
    };
    // Moves p past the first `what` after it; false when the prologue holds none.
    auto skipPast = [&](const char* what) {
        const std::size_t k = std::strlen(what);
        const auto* w = reinterpret_cast<const unsigned char*>(what);
        const unsigned char* at = std::search(p, end, w, w + k);
        if (at == end) {
            return false;
        }
        p = at + k;
        return true;
    };

    if (end - p >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
    }
    for (;;) {
        while (p < end && space(*p)) {
            ++p;
        }
        if (startsWith("<?xml")) {
            if (!skipPast("?>")) {
                return false;
            }
        } else if (startsWith("<!--")) {
            p += 4; // "<!-->" is no comment's end
            if (!skipPast("-->")) {
                return false;
            }
        } else {
            break;
        }
    }
    auto followedBySpaceOrClose = [&](std::size_t k) {
        return end - p > static_cast<std::ptrdiff_t>(k) && (space(p[k]) || p[k] == '>');
    };
    if (startsWith("<html")) {
        return followedBySpaceOrClose(5);
    }
    if (!startsWith("<!doctype")) {
        return false;
    }
    p += 9;
    if (p == end || !space(*p)) {
        return false;
    }
    while (p < end && space(*p)) {
        ++p;
    }
    return startsWith("html") && followedBySpaceOrClose(4);
}

std::uint64_t HtmlExtent::textLength(EvidenceReader& evidence, std::int64_t H, std::uint64_t limit) {
    const std::uint64_t E = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= E) {
        return 0;
    }
    const auto from = static_cast<std::uint64_t>(H);
    const std::uint64_t to = from + std::min(limit, E - from);
    return scan(evidence, from, to, false).textEnd - from;
}

Extent HtmlExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    if (!startsDocument(evidence, H)) {
        return Extent::rejected("no HTML document start");
    }
    const auto from = static_cast<std::uint64_t>(H);
    const std::uint64_t to = from + std::min(maxScan, evidence.size() - from);
    const Scan found = scan(evidence, from, to, true);
    if (found.closed == 0) {
        return Extent::rejected("no closing tag");
    }
    // After the closing tag only white space and comments may stand, and pages generated by tools
    // often carry a stamp there: they belong to the page; a comment that never closes does not.
    std::uint64_t end = found.closed;
    for (;;) {
        unsigned char c = 0;
        while (end < to && evidence.readAt(static_cast<std::int64_t>(end), &c, 1) == 1 && space(c)) {
            ++end;
        }
        unsigned char open[4] = {};
        if (to - end < 4 || evidence.readAt(static_cast<std::int64_t>(end), open, 4) != 4 ||
            std::memcmp(open, "<!--", 4) != 0) {
            break;
        }
        const std::uint64_t closed = commentEnd(evidence, end + 4, to); // "<!-->" is no comment's end
        if (closed == 0) {
            break;
        }
        end = closed;
    }
    return Extent::found(end - from);
}

} // namespace morrow
