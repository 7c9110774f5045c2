#include "carve/HeaderIndex.h"

#include <algorithm>

namespace morrow {

void HeaderIndex::prepare(const std::string& evidencePath, std::vector<HeaderKey> keys) {
    clear();
    evidencePath_ = evidencePath;
    planned_ = std::move(keys);
}

void HeaderIndex::clear() {
    evidencePath_.clear();
    planned_.clear();
    gathered_.clear();
    matches_.clear();
    gatheredMatches_ = 0;
}

const OffsetList* HeaderIndex::complete(const std::string& evidencePath, const HeaderKey& key) const {
    if (evidencePath != evidencePath_) {
        return nullptr;
    }
    auto it = std::find(gathered_.begin(), gathered_.end(), key);
    return it == gathered_.end() ? nullptr : &matches_[static_cast<std::size_t>(it - gathered_.begin())];
}

bool HeaderIndex::startsFile(std::int64_t offset) const {
    return nextStart(offset, offset + 1) == offset;
}

std::int64_t HeaderIndex::nextStart(std::int64_t from, std::int64_t end) const {
    std::int64_t first = -1;
    for (std::size_t k = 0; k < gathered_.size(); ++k) {
        if (gathered_[k].signature.size() < 2) {
            continue;
        }
        // Matches are in ascending order.
        const OffsetList& list = matches_[k];
        std::size_t low = 0;
        std::size_t high = list.size();
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (list[mid] < from) {
                low = mid + 1;
            } else {
                high = mid;
            }
        }
        if (low < list.size() && list[low] < end && (first < 0 || list[low] < first)) {
            first = list[low];
        }
    }
    return first;
}

std::vector<HeaderKey> HeaderIndex::keysToGather(const std::string& evidencePath,
                                                 const HeaderKey& key) const {
    std::vector<HeaderKey> keys{key};
    if (evidencePath == evidencePath_) {
        for (const auto& k : planned_) {
            if (std::find(keys.begin(), keys.end(), k) == keys.end() &&
                std::find(gathered_.begin(), gathered_.end(), k) == gathered_.end()) {
                keys.push_back(k);
            }
        }
    }
    return keys;
}

void HeaderIndex::store(const std::string& evidencePath, const std::vector<HeaderKey>& keys,
                        std::vector<OffsetList> matches, bool finished) {
    if (!finished) {
        return; // a stopped read ends the run; nothing of it may serve a later scan
    }
    if (evidencePath != evidencePath_ || evidencePath_.empty()) {
        return; // only a run that prepared this evidence file keeps what was read
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        gathered_.push_back(keys[i]);
        gatheredMatches_ += matches[i].size();
        matches_.push_back(std::move(matches[i]));
    }
}

} // namespace morrow
