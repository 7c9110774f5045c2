#pragma once

#include "formats/Extent.h"

#include <cstddef>
#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where an HTML document ends: after its closing </html> tag (any letter case) and the line
// end that follows it (CR LF, LF or CR), then after the white space and complete <!-- ... -->
// comments that follow (an unfinished comment is left out). The document must be text all the
// way: printable ASCII, tab, CR, LF and valid UTF-8 sequences; a NUL, another control byte or
// invalid UTF-8 ends the text.
//
// Rejected: no document start at H (see startsDocument), or no closing tag before the text ends,
// the evidence ends or maxScan bytes went by ("no closing tag"). Such a document has no
// structural end; textLength tells how far its text runs, so a caller can bound it otherwise.
class HtmlExtent {
  public:
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // True when the text at H starts an HTML document: after an optional UTF-8 byte order mark,
    // white space, an <?xml ...?> declaration and <!-- ... --> comments (all within the first
    // prologueLimit bytes), "<!DOCTYPE html" or "<html" in any letter case, followed by white
    // space or ">".
    static bool startsDocument(EvidenceReader& evidence, std::int64_t H);

    // How many bytes of text run from H: up to the first byte that is no text (an incomplete UTF-8
    // sequence before it is left out), the end of the evidence, or `limit`, whichever comes first.
    static std::uint64_t textLength(EvidenceReader& evidence, std::int64_t H, std::uint64_t limit);

    static constexpr std::size_t blockSize = 65536;
    static constexpr std::size_t prologueLimit = 8192;
    // Whether the first `n` bytes of a candidate (at most `opening`) may open a page: after a
    // byte-order mark and white space, "<?", "<!", "<h" or "<H" (or white space to their end).
    static bool opensPage(const unsigned char* first, std::size_t n);
    static constexpr std::size_t opening = 64;
    // How far measure searches for the closing tag.
    static constexpr std::uint64_t maxScan = std::uint64_t{64} << 20;
};

} // namespace morrow
