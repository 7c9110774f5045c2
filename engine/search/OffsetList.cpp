#include "search/OffsetList.h"

namespace morrow {

void OffsetList::push_back(std::int64_t offset) {
    tail_.push_back(offset);
    if (tail_.size() < chunkEntries || spillFailed_) {
        return;
    }
    if (!file_.isOpen() && !file_.create()) {
        spillFailed_ = true;
        return;
    }
    if (!file_.writeAt(spilled_ * sizeof(std::int64_t), tail_.data(), tail_.size() * sizeof(std::int64_t))) {
        spillFailed_ = true; // what was not written stays in memory
        return;
    }
    spilled_ += tail_.size();
    tail_.clear();
}

void OffsetList::clear() {
    tail_.clear();
    tail_.shrink_to_fit();
    spilled_ = 0;
    spillFailed_ = false;
    file_.close();
    cache_.clear();
    cache_.shrink_to_fit();
    cachedChunk_ = static_cast<std::size_t>(-1);
}

std::int64_t OffsetList::operator[](std::size_t i) const {
    if (i >= spilled_) {
        return tail_[i - spilled_];
    }
    const std::size_t chunk = i / chunkEntries;
    if (chunk != cachedChunk_) {
        cache_.resize(chunkEntries);
        if (!file_.readAt(chunk * chunkEntries * sizeof(std::int64_t), cache_.data(),
                          chunkEntries * sizeof(std::int64_t))) {
            // The scratch file is ours alone; a read that fails there is a failing disk. No
            // offset can be trusted then: -1 lies before every sector and matches nothing.
            cache_.assign(chunkEntries, -1);
        }
        cachedChunk_ = chunk;
    }
    return cache_[i % chunkEntries];
}

std::vector<std::int64_t> OffsetList::toVector() const {
    std::vector<std::int64_t> values;
    values.reserve(size());
    for (std::size_t i = 0; i < size(); ++i) {
        values.push_back((*this)[i]);
    }
    return values;
}

void OffsetList::assign(const std::int64_t* first, const std::int64_t* last) {
    clear();
    for (; first != last; ++first) {
        push_back(*first);
    }
}

bool operator==(const OffsetList& list, const std::vector<std::int64_t>& values) {
    if (list.size() != values.size()) {
        return false;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (list[i] != values[i]) {
            return false;
        }
    }
    return true;
}

} // namespace morrow
