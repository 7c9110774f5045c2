#pragma once

#include "platform/TempFile.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace morrow {

// A list of evidence offsets (header matches, candidates) that may grow as long as the evidence
// has sectors, in bounded memory: past one chunk of entries it moves whole chunks to an anonymous
// scratch file and reads them back a chunk at a time. An image whose every sector starts with a
// header thus costs a scratch file of 8 bytes a sector, not that much memory. When no scratch
// file can be made the list stays in memory: a list is never cut short.
//
// Reading is cheapest front to back; any index works.
class OffsetList {
  public:
    OffsetList() = default;
    OffsetList(std::initializer_list<std::int64_t> values) { assign(values.begin(), values.end()); }
    OffsetList(OffsetList&& other) noexcept = default;
    OffsetList& operator=(OffsetList&& other) noexcept = default;
    OffsetList(const OffsetList&) = delete;
    OffsetList& operator=(const OffsetList&) = delete;
    OffsetList& operator=(std::initializer_list<std::int64_t> values) {
        assign(values.begin(), values.end());
        return *this;
    }
    OffsetList& operator=(const std::vector<std::int64_t>& values) {
        assign(values.data(), values.data() + values.size());
        return *this;
    }

    void push_back(std::int64_t offset);
    std::size_t size() const { return spilled_ + tail_.size(); }
    bool empty() const { return size() == 0; }
    void clear();
    std::int64_t operator[](std::size_t i) const;
    std::int64_t back() const { return (*this)[size() - 1]; }
    std::vector<std::int64_t> toVector() const;

    // Entries per chunk: 128 KiB of offsets.
    static constexpr std::size_t chunkEntries = 16384;

  private:
    void assign(const std::int64_t* first, const std::int64_t* last);

    std::vector<std::int64_t> tail_; // the entries after the spilled ones
    std::size_t spilled_ = 0;        // entries in the scratch file, whole chunks
    bool spillFailed_ = false;
    TempFile file_;
    mutable std::vector<std::int64_t> cache_; // the spilled chunk read last
    mutable std::size_t cachedChunk_ = static_cast<std::size_t>(-1);
};

bool operator==(const OffsetList& list, const std::vector<std::int64_t>& values);

} // namespace morrow
