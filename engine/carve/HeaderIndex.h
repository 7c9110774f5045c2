#pragma once

#include "search/OffsetList.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// One header signature as a scan looks for it: its bytes, and whether it is compared 4 bytes
// after the sector start (the ftyp box type of the MP4 family) instead of at it.
struct HeaderKey {
    std::string signature;
    bool shifted = false;
    // When given, a sector that matches is indexed only when its first `opening` bytes pass it
    // (an exact-ends HTML page's start, whose one-byte openings match a sector in fifty).
    bool (*accepts)(const unsigned char* first, std::size_t n) = nullptr;
    bool operator==(const HeaderKey&) const = default;
    static constexpr std::size_t opening = 64;
};

// The matches of every header signature of a run over one evidence file, gathered by one read.
//
// A run scans each evidence file once per header alternative (up to 18 times with every kind
// ticked). The run driver tells this index which signatures the passes of an evidence file will
// look for; the first header scan then compares all of them at every sector start while it reads
// the file, and every later scan takes its matches from here instead of reading the file again.
// It costs 8 bytes per match, nothing per sector, in bounded memory (OffsetList).
class HeaderIndex {
  public:
    // Starts a new evidence file: forgets everything and records the signatures to gather.
    void prepare(const std::string& evidencePath, std::vector<HeaderKey> keys);
    void clear();

    // The matches of `key` when a complete read of this evidence file gathered them, else null.
    const OffsetList* complete(const std::string& evidencePath, const HeaderKey& key) const;

    // Whether a signature of two bytes or more that a complete read gathered starts at `offset`
    // (the one-byte openings of an HTML page in the exact mode start no file by themselves).
    bool startsFile(std::int64_t offset) const;
    // The lowest offset in [from, end) where such a signature starts, or -1.
    std::int64_t nextStart(std::int64_t from, std::int64_t end) const;

    // For the scan that reads: the signatures to gather (`key` included), in a fixed order.
    std::vector<HeaderKey> keysToGather(const std::string& evidencePath, const HeaderKey& key) const;
    // Stores what one read gathered for `keys`; `finished` is false when the read was stopped.
    void store(const std::string& evidencePath, const std::vector<HeaderKey>& keys,
               std::vector<OffsetList> matches, bool finished);
    // How many matches the stored reads gathered, of every signature: about the candidates this
    // evidence file's passes will handle.
    std::uint64_t gatheredMatches() const { return gatheredMatches_; }

  private:
    std::string evidencePath_;
    std::vector<HeaderKey> planned_;
    std::vector<HeaderKey> gathered_;
    std::vector<OffsetList> matches_;
    std::uint64_t gatheredMatches_ = 0;
};

} // namespace morrow
