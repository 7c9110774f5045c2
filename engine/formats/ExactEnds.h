#pragma once

#include "Catalog.h"
#include "formats/Extent.h"

#include <cstdint>
#include <string>

namespace morrow {

class EvidenceReader;

// The exact-ends mode's one question to the format readers: where does the file of kind `type`
// that starts at H end, by its own structure? Each kind has its reader in formats/; this only
// picks it. `maxBytes` bounds what has no structural end (an HTML page without its closing tag).
class ExactEnds {
public:
    static Extent measure(FileTypeId type, EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes);

    // The extension a QuickTime-family file gets from its major brand: ".mov" for QuickTime's
    // "qt  ", ".3gp" for the 3GPP brands, ".mp4" for every other brand.
    static const char* quickTimeExtension(EvidenceReader& evidence, std::int64_t H);
};

} // namespace morrow
