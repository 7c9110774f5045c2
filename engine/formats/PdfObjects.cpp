// ISO 32000-1:2008, 7.3.4.4 and 7.3.8 (objects and streams), 7.5.4 (cross-reference tables),
// 7.5.8 (cross-reference streams: rows of /W field widths, for the object numbers /Index lists,
// type 1 rows giving an object's offset) and 7.4.4.4 (the PNG predictors their rows are written
// with).
#include "formats/PdfObjects.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <zlib.h>

namespace morrow {

namespace {

// The value after `key` in a dictionary's text (a key followed by no other name character), or npos.
std::size_t valueOf(const std::string& dictionary, const char* key) {
    const std::size_t n = std::strlen(key);
    for (std::size_t at = dictionary.find(key); at != std::string::npos; at = dictionary.find(key, at + n)) {
        if (at + n < dictionary.size() && std::isalnum(static_cast<unsigned char>(dictionary[at + n])) == 0) {
            return at + n;
        }
    }
    return std::string::npos;
}

// Unsigned integers from `i` on, skipping white space and an opening bracket, until a non-number.
std::vector<std::uint64_t> numbersAt(const std::string& text, std::size_t i, std::size_t most) {
    std::vector<std::uint64_t> values;
    while (i < text.size() && values.size() < most) {
        while (i < text.size() && (PdfObjects::whiteSpace(text[i]) || text[i] == '[')) {
            ++i;
        }
        std::uint64_t n = 0;
        std::size_t digits = 0;
        for (; i < text.size() && PdfObjects::digit(text[i]) && digits < 15; ++i, ++digits) {
            n = n * 10 + static_cast<std::uint64_t>(text[i] - '0');
        }
        if (digits == 0) {
            break;
        }
        values.push_back(n);
    }
    return values;
}

// The PNG predictors' rows (a filter byte, then `columns` bytes), one byte a pixel, undone in place.
bool unpredict(std::vector<unsigned char>& bytes, std::size_t columns) {
    const std::size_t stride = columns + 1;
    if (columns == 0 || bytes.size() % stride != 0) {
        return false;
    }
    std::vector<unsigned char> out;
    out.reserve(bytes.size() / stride * columns);
    std::vector<unsigned char> above(columns, 0);
    for (std::size_t row = 0; row < bytes.size(); row += stride) {
        const unsigned char filter = bytes[row];
        for (std::size_t i = 0; i < columns; ++i) {
            const int x = bytes[row + 1 + i];
            const int a = i > 0 ? out[out.size() - 1] : 0;
            const int b = above[i];
            const int c = i > 0 ? above[i - 1] : 0;
            int value = x;
            if (filter == 1) {
                value = x + a;
            } else if (filter == 2) {
                value = x + b;
            } else if (filter == 3) {
                value = x + (a + b) / 2;
            } else if (filter == 4) {
                const int p = a + b - c;
                const int pa = std::abs(p - a);
                const int pb = std::abs(p - b);
                const int pc = std::abs(p - c);
                value = x + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
            } else if (filter != 0) {
                return false;
            }
            out.push_back(static_cast<unsigned char>(value));
        }
        std::copy(out.end() - static_cast<std::ptrdiff_t>(columns), out.end(), above.begin());
    }
    bytes = std::move(out);
    return true;
}

// The cross-reference stream object at P.
std::optional<PdfSection> readStream(EvidenceReader& evidence, std::uint64_t P, std::uint64_t end,
                                     JoinBudget& budget) {
    PdfCursor c(evidence, P, end);
    if (!c.number() || !PdfObjects::whiteSpace(c.peek())) {
        return std::nullopt;
    }
    c.skipSpace();
    if (!c.number() || !PdfObjects::whiteSpace(c.peek())) {
        return std::nullopt;
    }
    c.skipSpace();
    if (!c.keyword("obj")) {
        return std::nullopt;
    }
    const std::uint64_t body = c.at();
    const auto stream = PdfObjects::streamAt(evidence, PieceLayout{0, ~std::uint64_t{0}, 0}, body, {}, 4096);
    if (!stream) {
        return std::nullopt;
    }
    const std::string& dictionary = stream->dictionary;
    const std::size_t type = valueOf(dictionary, "/Type");
    const std::size_t widths = valueOf(dictionary, "/W");
    if (!stream->lengthKnown || type == std::string::npos ||
        dictionary.compare(dictionary.find_first_not_of(" \t\r\n", type), 5, "/XRef") != 0 ||
        widths == std::string::npos || stream->length > PdfObjects::maxStreamBytes ||
        stream->data - body + stream->length > end - body || !budget.spend(stream->length)) {
        return std::nullopt;
    }
    const std::vector<std::uint64_t> w = numbersAt(dictionary, widths, 3);
    if (w.size() != 3 || w[0] > 8 || w[1] > 8 || w[2] > 8 || w[1] == 0) {
        return std::nullopt;
    }
    const std::size_t row = static_cast<std::size_t>(w[0] + w[1] + w[2]);
    std::vector<std::uint64_t> index;
    if (const std::size_t at = valueOf(dictionary, "/Index"); at != std::string::npos) {
        index = numbersAt(dictionary, at, 2 * 4096);
    } else if (const std::size_t size = valueOf(dictionary, "/Size"); size != std::string::npos) {
        index = {0};
        const auto n = numbersAt(dictionary, size, 1);
        index.insert(index.end(), n.begin(), n.end());
    }
    std::uint64_t rows = 0;
    for (std::size_t i = 1; i < index.size(); i += 2) {
        rows += index[i];
    }
    if (index.size() % 2 != 0 || rows == 0 || rows > PdfObjects::maxStreamBytes / row) {
        return std::nullopt;
    }
    std::vector<unsigned char> raw(static_cast<std::size_t>(stream->length));
    evidence.readAt(static_cast<std::int64_t>(stream->data), raw.data(), raw.size());
    const std::size_t predictor = valueOf(dictionary, "/Predictor");
    const std::uint64_t png = predictor == std::string::npos ? 0 : numbersAt(dictionary, predictor, 1).at(0);
    std::vector<unsigned char> bytes;
    if (stream->flate) {
        const std::uint64_t most = rows * (row + (png >= 10 ? 1 : 0));
        bytes.resize(static_cast<std::size_t>(most));
        uLongf got = static_cast<uLongf>(most);
        // A stream may decode to more than its rows (padding): only the rows are wanted.
        z_stream z{};
        if (inflateInit(&z) != Z_OK) {
            return std::nullopt;
        }
        z.next_in = raw.data();
        z.avail_in = static_cast<uInt>(raw.size());
        z.next_out = bytes.data();
        z.avail_out = static_cast<uInt>(got);
        const int status = inflate(&z, Z_FINISH);
        got = static_cast<uLongf>(most - z.avail_out);
        inflateEnd(&z);
        if (status != Z_STREAM_END && !(status == Z_BUF_ERROR && z.avail_out == 0)) {
            return std::nullopt;
        }
        bytes.resize(static_cast<std::size_t>(got));
    } else if (valueOf(dictionary, "/Filter") == std::string::npos) {
        bytes = std::move(raw);
    } else {
        return std::nullopt;
    }
    if (png >= 10) {
        const std::size_t columns = valueOf(dictionary, "/Columns");
        const std::uint64_t width =
            columns == std::string::npos ? 1 : numbersAt(dictionary, columns, 1).at(0);
        if (width != row || !unpredict(bytes, row)) {
            return std::nullopt;
        }
    } else if (png > 1) {
        return std::nullopt;
    }
    if (bytes.size() < rows * row) {
        return std::nullopt;
    }
    auto field = [&](std::size_t at, std::uint64_t width) {
        std::uint64_t value = 0;
        for (std::uint64_t k = 0; k < width; ++k) {
            value = (value << 8) | bytes[at + k];
        }
        return value;
    };
    PdfSection section;
    std::size_t at = 0;
    for (std::size_t i = 0; i < index.size(); i += 2) {
        for (std::uint64_t k = 0; k < index[i + 1]; ++k, at += row) {
            const std::uint64_t kind = w[0] == 0 ? 1 : field(at, w[0]);
            const std::uint64_t offset = field(at + w[0], w[1]);
            if (kind == 1 && offset != 0) {
                section.objects.push_back(PdfEntry{index[i] + k, offset});
            }
        }
    }
    if (const std::size_t prev = valueOf(dictionary, "/Prev"); prev != std::string::npos) {
        const auto n = numbersAt(dictionary, prev, 1);
        if (n.empty()) {
            return std::nullopt;
        }
        section.prev = n[0];
    }
    return section;
}

} // namespace

int PdfCursor::peek() {
    if (at_ >= end_) {
        return -1;
    }
    if (at_ < from_ || at_ >= from_ + got_) {
        from_ = at_;
        got_ = evidence_.readAt(static_cast<std::int64_t>(at_), block_.data(), block_.size());
        if (got_ == 0) {
            return -1;
        }
    }
    return block_[static_cast<std::size_t>(at_ - from_)];
}

void PdfCursor::skipSpace() {
    while (PdfObjects::whiteSpace(peek()) && peek() >= 0) {
        ++at_;
    }
}

std::optional<std::uint64_t> PdfCursor::number() {
    std::uint64_t value = 0;
    int digits = 0;
    while (PdfObjects::digit(peek()) && digits < 19) {
        value = value * 10 + static_cast<std::uint64_t>(peek() - '0');
        ++at_;
        ++digits;
    }
    return digits > 0 ? std::optional<std::uint64_t>(value) : std::nullopt;
}

bool PdfCursor::keyword(const char* word) {
    const std::uint64_t start = at_;
    for (const char* p = word; *p != '\0'; ++p, ++at_) {
        if (peek() != static_cast<unsigned char>(*p)) {
            at_ = start;
            return false;
        }
    }
    return true;
}

bool PdfObjects::whiteSpace(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0;
}

bool PdfObjects::digit(int c) {
    return c >= '0' && c <= '9';
}

std::size_t PdfObjects::objectAt(EvidenceReader& evidence, std::uint64_t P, std::uint64_t number) {
    PdfCursor c(evidence, P, P + 48);
    const auto n = c.number();
    if (!n || *n != number || !whiteSpace(c.peek())) {
        return 0;
    }
    c.skipSpace();
    if (!c.number() || !whiteSpace(c.peek())) {
        return 0;
    }
    c.skipSpace();
    return c.keyword("obj") ? static_cast<std::size_t>(c.at() - P) : 0;
}

// The cross-reference table at the evidence offset P, read no further than `end`.
std::optional<PdfSection> PdfObjects::readTable(EvidenceReader& evidence, std::uint64_t P, std::uint64_t end,
                                                JoinBudget& budget) {
    PdfCursor c(evidence, P, end);
    if (!c.keyword("xref")) {
        return std::nullopt;
    }
    PdfSection section;
    for (;;) {
        c.skipSpace();
        if (c.keyword("trailer")) {
            break;
        }
        const auto first = c.number();
        c.skipSpace();
        const auto count = c.number();
        if (!first || !count || *count > (std::uint64_t{1} << 24) || !budget.spend(*count * 20)) {
            return std::nullopt;
        }
        for (std::uint64_t i = 0; i < *count; ++i) {
            c.skipSpace();
            const auto offset = c.number();
            c.skipSpace();
            const auto generation = c.number();
            c.skipSpace();
            const int type = c.peek();
            if (!offset || !generation || (type != 'n' && type != 'f')) {
                return std::nullopt;
            }
            c.keyword(type == 'n' ? "n" : "f");
            if (type == 'n' && *offset != 0) {
                section.objects.push_back(PdfEntry{*first + i, *offset});
            }
        }
    }
    // The trailer's /Prev, if any, before its "startxref".
    std::string trailer(2048, '\0');
    trailer.resize(evidence.readAt(static_cast<std::int64_t>(c.at()), trailer.data(), trailer.size()));
    trailer.resize(std::min(trailer.size(), trailer.find("startxref")));
    const std::size_t prev = trailer.find("/Prev");
    if (prev != std::string::npos) {
        PdfCursor p(evidence, c.at() + prev + 5, end);
        p.skipSpace();
        section.prev = p.number();
        if (!section.prev) {
            return std::nullopt;
        }
    }
    return section;
}

std::optional<PdfSection> PdfObjects::readSection(EvidenceReader& evidence, std::uint64_t P,
                                                  std::uint64_t end, JoinBudget& budget) {
    if (auto table = readTable(evidence, P, end, budget)) {
        return table;
    }
    return readStream(evidence, P, end, budget);
}

std::optional<PdfStream> PdfObjects::streamAt(EvidenceReader& evidence, const PieceLayout& layout,
                                              std::uint64_t body, const LookUp& lookUp, std::size_t window) {
    std::string text(window, '\0');
    layout.read(evidence, body, reinterpret_cast<unsigned char*>(text.data()), text.size());
    const std::size_t keyword = text.find("stream");
    if (keyword == std::string::npos || text.find("endobj") < keyword) {
        return std::nullopt;
    }
    PdfStream stream;
    stream.dictionary = text.substr(0, keyword);
    const std::string& dictionary = stream.dictionary;
    stream.flate = dictionary.find("/FlateDecode") != std::string::npos;
    std::size_t data = keyword + 6;
    if (data < text.size() && text[data] == '\r') {
        ++data;
    }
    if (data < text.size() && text[data] == '\n') {
        ++data;
    }
    stream.data = body + data;
    const std::size_t length = valueOf(dictionary, "/Length");
    if (length == std::string::npos) {
        return stream;
    }
    auto readNumber = [&](std::size_t& i, std::uint64_t& n) {
        while (i < dictionary.size() && whiteSpace(dictionary[i])) {
            ++i;
        }
        std::size_t digits = 0;
        for (n = 0; i < dictionary.size() && digit(dictionary[i]) && digits < 15; ++i, ++digits) {
            n = n * 10 + static_cast<std::uint64_t>(dictionary[i] - '0');
        }
        return digits > 0;
    };
    std::size_t i = length;
    std::uint64_t n = 0;
    std::uint64_t generation = 0;
    if (!readNumber(i, n)) {
        return stream;
    }
    std::size_t j = i;
    if (readNumber(j, generation)) {
        // A reference ("12 0 R"): the object holds the length.
        while (j < dictionary.size() && whiteSpace(dictionary[j])) {
            ++j;
        }
        const auto looked =
            j < dictionary.size() && dictionary[j] == 'R' && lookUp ? lookUp(n) : std::nullopt;
        if (!looked) {
            return stream;
        }
        n = *looked;
    }
    stream.length = n;
    stream.lengthKnown = true;
    return stream;
}

} // namespace morrow
