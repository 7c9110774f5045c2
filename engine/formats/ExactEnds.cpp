#include "formats/ExactEnds.h"

#include "evidence/EvidenceReader.h"
#include "formats/HtmlExtent.h"
#include "search/OffsetList.h"

#include <algorithm>
#include <cstring>

namespace morrow {

namespace {

// The evidence as if it ended at `end`: what a walk sees when it is held to its stretch. Reads go
// through the run's reader, whose window serves the small ones, so that walk after walk over
// neighbouring sectors fetches each part of the evidence once.
class StretchSource final : public EvidenceSource {
  public:
    StretchSource(EvidenceReader& evidence, std::uint64_t end) : evidence_(evidence), end_(end) {}

    const std::string& path() const override { return evidence_.path(); }
    std::uint64_t size() const override { return end_; }
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override {
        if (offset >= end_) {
            return 0;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length, end_ - offset));
        // Larger reads in one piece: split, their halves would chase the window back and forth
        // when they do not start on its alignment.
        return evidence_.readAt(static_cast<std::int64_t>(offset), out, n);
    }

  private:
    EvidenceReader& evidence_;
    std::uint64_t end_;
};

} // namespace

Extent ExactEnds::html(EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes) {
    if (!HtmlExtent::startsDocument(evidence, H)) {
        return Extent::rejected("no HTML document starts here");
    }
    const Extent closed = HtmlExtent::measure(evidence, H);
    if (closed) {
        return closed;
    }
    // No closing tag: the page runs as far as its text does, up to the maximum size.
    const std::uint64_t text = HtmlExtent::textLength(evidence, H, maxBytes);
    return text > 0 ? Extent::found(text, true) : Extent::rejected("no text");
}

ExactWalks::ExactWalks(ExactReader reader, EvidenceReader& evidence, const OffsetList& candidates,
                       std::uint64_t maxBytes)
    : reader_(reader), evidence_(evidence), candidates_(candidates), maxBytes_(maxBytes) {}

std::uint64_t ExactWalks::stretchEnd(std::size_t i) const {
    return i + 1 < candidates_.size() ? static_cast<std::uint64_t>(candidates_[i + 1]) : evidence_.size();
}

Extent ExactWalks::within(std::int64_t H, std::uint64_t end) {
    const auto key = std::make_pair(H, end);
    const auto known = walked_.find(key);
    if (known != walked_.end()) {
        return known->second;
    }
    const Extent extent = walk(H, end);
    walked_.emplace(key, extent);
    return extent;
}

Extent ExactWalks::walk(std::int64_t H, std::uint64_t end) {
    if (reader_ == nullptr) {
        return Extent::rejected("no structural reader for this kind");
    }
    if (end >= evidence_.size()) {
        return reader_(evidence_, H, maxBytes_);
    }
    StretchSource stretch(evidence_, end);
    EvidenceReader reader(stretch);
    return reader_(reader, H, maxBytes_);
}

bool ExactWalks::contests(std::size_t i, const Extent& alone) {
    if (alone) {
        return alone.truncated;
    }
    const std::uint64_t end = stretchEnd(i);
    if (end >= evidence_.size()) {
        return false; // rejected by its own bytes: the evidence really ends there
    }
    // Rejected: for want of the bytes past the next candidate when a longer stretch reads
    // otherwise. The longer stretch is the next candidate's too, so this costs each stretch a
    // bounded number of reads.
    const Extent longer = within(candidates_[i], stretchEnd(i + 1));
    return longer || std::strcmp(longer.whyNot, alone.whyNot) != 0;
}

Extent ExactWalks::measure(std::size_t i) {
    const std::int64_t H = candidates_[i];
    walked_.erase(walked_.begin(), walked_.lower_bound(std::make_pair(H, std::uint64_t{0})));
    const Extent alone = within(H, stretchEnd(i));
    if (!contests(i, alone)) {
        return alone;
    }
    std::size_t next = i + 1;
    while (next < candidates_.size() && !contests(next, within(candidates_[next], stretchEnd(next)))) {
        ++next;
    }
    const std::uint64_t end =
        next < candidates_.size() ? static_cast<std::uint64_t>(candidates_[next]) : evidence_.size();
    return end == stretchEnd(i) ? alone : within(H, end);
}

const char* ExactEnds::quickTimeExtension(EvidenceReader& evidence, std::int64_t H) {
    unsigned char brand[4];
    evidence.readAt(H + 8, brand, sizeof brand);
    if (std::memcmp(brand, "qt  ", 4) == 0) {
        return ".mov";
    }
    if (std::memcmp(brand, "3g", 2) == 0) {
        return ".3gp";
    }
    return ".mp4";
}

} // namespace morrow
