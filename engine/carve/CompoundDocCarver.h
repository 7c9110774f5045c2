#pragma once

#include "formats/CompoundDocAnalysis.h"

#include <cstdint>
#include <vector>

namespace morrow {

class EvidenceReader;
class OffsetList;
class PassContext;
struct CarvePass;

// Compound documents (the sector-allocated container of older office documents and thumbnail
// caches) carry neither a length field nor a footer: the length is read from the allocation
// table, the extension from the directory's stream names (CompoundDocAnalysis). Every indexed
// header is analysed first; only then is anything carved.
class CompoundDocCarver {
  public:
    // One pass over one evidence file. True when every candidate was handled, false when the
    // run must end (the message has been shown).
    static bool carve(PassContext& context, const CarvePass& pass);

    // Analyses the headers at headers[first..last] of `evidence` into `records`, one each; the
    // progress bar runs from 0 to `upper`. 1 when every header was analysed, 0 when the user
    // confirmed Stop or Quit (`records` is then empty).
    static int analyse(PassContext& context, EvidenceReader& evidence, const OffsetList& headers,
                       std::int64_t first, std::int64_t last, std::int64_t upper,
                       std::vector<CompoundDocRecord>& records);

    // Headers are analysed and carved this many at a time, so that the records of an image full
    // of compound document headers never fill the memory.
    static constexpr std::int64_t window = 16384;

    // The bytes carved for a document of `length` bytes at `offset`: the whole document, or the
    // evidence up to its end when the document runs past it.
    static std::uint64_t carvedLength(std::int64_t offset, std::uint64_t length, std::uint64_t evidenceSize);
};

} // namespace morrow
