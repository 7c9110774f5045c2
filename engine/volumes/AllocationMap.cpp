#include "volumes/AllocationMap.h"

#include <algorithm>

namespace morrow {

void AllocationMap::addAllocated(std::uint64_t begin, std::uint64_t length) {
    if (length == 0) {
        return;
    }
    // Block walks come in order: a block that continues the last run extends it.
    if (!allocated_.empty() && allocated_.back().end == begin) {
        allocated_.back().end += length;
        return;
    }
    allocated_.push_back(Run{begin, begin + length, 0});
}

std::uint32_t AllocationMap::addOwner(FileOwner owner) {
    owners_.push_back(std::move(owner));
    return static_cast<std::uint32_t>(owners_.size() - 1);
}

void AllocationMap::addOwned(std::uint64_t begin, std::uint64_t length, std::uint32_t owner) {
    if (length == 0) {
        return;
    }
    if (!owned_.empty() && owned_.back().owner == owner && owned_.back().end == begin) {
        owned_.back().end += length;
        return;
    }
    owned_.push_back(Run{begin, begin + length, owner});
}

void AllocationMap::seal() {
    std::sort(allocated_.begin(), allocated_.end(),
              [](const Run& a, const Run& b) { return a.begin < b.begin; });
    std::vector<Run> merged;
    for (const Run& run : allocated_) {
        if (!merged.empty() && run.begin <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, run.end);
        } else {
            merged.push_back(run);
        }
    }
    allocated_ = std::move(merged);
    allocated_.shrink_to_fit();
    // Owned runs by start; where a deleted file's guessed clusters overlap a live file's, the
    // live one is asked first (owner() looks at every run that starts at or before an offset
    // only as far back as runs can reach, so overlaps are rare and short).
    std::stable_sort(owned_.begin(), owned_.end(), [&](const Run& a, const Run& b) {
        if (a.begin != b.begin) {
            return a.begin < b.begin;
        }
        return owners_[a.owner].nameAllocated && !owners_[b.owner].nameAllocated;
    });
}

bool AllocationMap::allocated(std::uint64_t offset) const {
    auto after = std::upper_bound(allocated_.begin(), allocated_.end(), offset,
                                  [](std::uint64_t at, const Run& r) { return at < r.begin; });
    return after != allocated_.begin() && std::prev(after)->end > offset;
}

const FileOwner* AllocationMap::owner(std::uint64_t offset) const {
    auto after = std::upper_bound(owned_.begin(), owned_.end(), offset,
                                  [](std::uint64_t at, const Run& r) { return at < r.begin; });
    // The runs that start at or before `offset`, nearest first; a few steps back cover the
    // overlaps of deleted files' guessed runs with others.
    const FileOwner* found = nullptr;
    for (int steps = 0; after != owned_.begin() && steps < 64; ++steps) {
        --after;
        if (after->end > offset) {
            const FileOwner& candidate = owners_[after->owner];
            if (candidate.nameAllocated) {
                return &candidate;
            }
            found = found != nullptr ? found : &candidate;
        }
    }
    return found;
}

std::uint64_t AllocationMap::allocatedBytes() const {
    std::uint64_t total = 0;
    for (const Run& run : allocated_) {
        total += run.end - run.begin;
    }
    return total;
}

} // namespace morrow
