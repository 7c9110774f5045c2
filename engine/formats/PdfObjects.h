#pragma once

#include "formats/FragmentJoin.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morrow {

class EvidenceReader;

// Text read forward from an evidence offset through a block of its own.
class PdfCursor {
  public:
    PdfCursor(EvidenceReader& evidence, std::uint64_t at, std::uint64_t end)
        : evidence_(evidence), at_(at), end_(end), block_(4096) {}
    std::uint64_t at() const { return at_; }
    int peek();
    void skipSpace();
    std::optional<std::uint64_t> number();
    bool keyword(const char* word);

  private:
    EvidenceReader& evidence_;
    std::uint64_t at_;
    std::uint64_t end_;
    std::vector<unsigned char> block_;
    std::uint64_t from_ = 0;
    std::size_t got_ = 0;
};

// An object in use as a cross-reference section gives it (ISO 32000-1, 7.5.4 and 7.5.8).
struct PdfEntry {
    std::uint64_t number = 0;
    std::uint64_t offset = 0; // from the file's first byte
    std::uint64_t found = 0;  // its evidence offset, once known
};

struct PdfSection {
    std::vector<PdfEntry> objects; // in use, stored at an offset (not in an object stream)
    std::optional<std::uint64_t> prev;
};

// A stream's data: where it starts, and its length when /Length gives it.
struct PdfStream {
    std::uint64_t data = 0;
    std::uint64_t length = 0;
    bool lengthKnown = false;
    bool flate = false;     // /FlateDecode
    std::string dictionary; // its text
};

// What the exact-ends reader and the join both read of a PDF's file structure: objects where the
// cross-reference sections put them, the sections themselves, and a stream's data.
class PdfObjects {
  public:
    static bool whiteSpace(int c);
    static bool digit(int c);

    // "number G obj" at the evidence offset P; the length of that text, or 0.
    static std::size_t objectAt(EvidenceReader& evidence, std::uint64_t P, std::uint64_t number);
    // The cross-reference table ("xref") at the evidence offset P, read no further than `end`.
    static std::optional<PdfSection> readTable(EvidenceReader& evidence, std::uint64_t P, std::uint64_t end,
                                               JoinBudget& budget);
    // A cross-reference table, or a cross-reference stream (an object of /Type /XRef whose
    // direct /Length, /W, /Index and PNG predictors are followed), at the evidence offset P.
    static std::optional<PdfSection> readSection(EvidenceReader& evidence, std::uint64_t P, std::uint64_t end,
                                                 JoinBudget& budget);

    // The stream of the object whose "obj" text ends at `body` under `layout`, its dictionary
    // read in the first `window` bytes; a /Length given by reference is looked up with `lookUp`
    // (which may be empty). Nothing when no stream keyword follows the dictionary.
    using LookUp = std::function<std::optional<std::uint64_t>(std::uint64_t)>;
    static std::optional<PdfStream> streamAt(EvidenceReader& evidence, const PieceLayout& layout,
                                             std::uint64_t body, const LookUp& lookUp,
                                             std::size_t window = 1024);

    // Cross-reference streams decoded at most.
    static constexpr std::uint64_t maxStreamBytes = std::uint64_t{64} << 20;
};

} // namespace morrow
