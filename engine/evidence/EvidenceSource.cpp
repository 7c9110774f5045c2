#include "evidence/EvidenceSource.h"

#include "evidence/EwfEvidence.h"
#include "evidence/RawEvidence.h"
#include "evidence/SplitRawEvidence.h"

#include <algorithm>
#include <cctype>

namespace morrow {

namespace {

// Whether the name ends in .E01 or .Ex01 (in either case), as the first segment of an E01 image.
bool namedAsEwf(const std::string& path) {
    std::string tail = path.substr(path.size() - std::min<std::size_t>(path.size(), 5));
    for (char& c : tail) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return tail.size() == 5 && (tail.substr(1) == ".e01" || tail == ".ex01");
}

} // namespace

// The kind of evidence is told by its content first: a file that starts with an EWF signature is
// an E01 image whatever it is called (and one called .E01 that does not is a raw image). Only then
// does the name count: a first piece of a split image (`.001`, `.aa`) whose next piece is there.
// Everything else, block devices included, is a raw image.
std::unique_ptr<EvidenceSource> openEvidenceSource(const std::string& path, std::string& error) {
    auto raw = RawEvidence::open(path, error);
    if (!raw) {
        return nullptr;
    }
    if (raw->size() == 0 && namedAsEwf(path)) {
        // Not an image at all: carving its zero bytes would complete without a word.
        error = "the file is empty (0 bytes), not an E01 image";
        return nullptr;
    }
    unsigned char head[8] = {};
    const std::size_t headLength = raw->size() > 0 ? raw->read(0, head, sizeof head) : 0;
    if (EwfEvidence::signature(head, headLength) != EwfEvidence::Signature::None) {
        raw.reset();
        return EwfEvidence::open(path, error);
    }
    const std::vector<std::string> pieces = SplitRawEvidence::pieceNames(path);
    // A gap in the numbering would shorten the image without a word: the examiner must see the
    // whole set (or give the pieces another name) before anything is carved.
    if (const std::string gap = SplitRawEvidence::gapAfter(pieces); !gap.empty()) {
        error = gap;
        return nullptr;
    }
    if (pieces.size() > 1) {
        raw.reset();
        return SplitRawEvidence::open(pieces, error);
    }
    return raw;
}

} // namespace morrow
