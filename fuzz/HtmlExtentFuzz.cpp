// The HTML start test, closing tag search and text length over a fuzzed document at offset 0.
#include "FuzzSupport.h"
#include "formats/HtmlExtent.h"

#include <algorithm>
#include <cctype>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    EvidenceReader& evidence = input.reader;

    const std::uint64_t text = HtmlExtent::textLength(evidence, 0, size);
    fuzz::check(text <= size, "text longer than the evidence");
    const std::uint64_t capped = HtmlExtent::textLength(evidence, 0, size / 2);
    // The limit may cut a multi-byte sequence, which is then left out (at most 3 bytes).
    const std::uint64_t expected = std::min<std::uint64_t>(text, size / 2);
    fuzz::check(capped <= expected && capped + 3 >= expected, "the limit changes where text ends");

    const Extent html = HtmlExtent::measure(evidence, 0);
    if (html) {
        fuzz::check(HtmlExtent::startsDocument(evidence, 0), "found without a document start");
        fuzz::check(html.length <= text, "the document runs past its text");
        // The closing tag ends it, perhaps followed by one line end.
        bool tag = false;
        for (std::size_t lineEnd = 0; lineEnd <= 2 && !tag && lineEnd + 7 <= html.length; ++lineEnd) {
            const std::uint8_t* p = data + html.length - lineEnd - 7;
            tag = p[0] == '<' && p[1] == '/' && std::tolower(p[2]) == 'h' && std::tolower(p[3]) == 't' &&
                  std::tolower(p[4]) == 'm' && std::tolower(p[5]) == 'l' && p[6] == '>';
        }
        fuzz::check(tag, "does not end with the closing tag");
    }
    return 0;
}
