#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstring>

namespace morrow {

std::size_t EvidenceReader::fetch(std::int64_t offset, unsigned char* out, std::size_t length) {
    if (stopped_ || (fetchPolls_ && stopped())) {
        return 0;
    }
    const auto start = static_cast<std::uint64_t>(offset);
    std::size_t done = 0;
    for (;;) {
        const std::size_t got = source_->read(start + done, out + done, length - done);
        bytesFetched_ += got;
        done += got;
        const std::uint64_t at = start + done;
        if (done == length || at >= size_) {
            return done;
        }
        // A short read inside the evidence: damage the source can tell the end of is read past as
        // zeros and noted; anything else ends what can be trusted.
        const std::uint64_t end = readFailed_ ? at : std::min(size_, source_->damageEnd(at));
        if (end <= at) {
            if (!readFailed_) {
                readFailed_ = true;
                failedAt_ = at;
            }
            return done;
        }
        if (damage_.empty()) {
            damageReason_ = source_->readFault();
        }
        if (!damage_.empty() && damage_.back().second == at) {
            damage_.back().second = end;
        } else if (std::find_if(damage_.begin(), damage_.end(), [&](const auto& d) {
                       return d.first <= at && at < d.second;
                   }) == damage_.end()) {
            damage_.emplace_back(at, end);
        }
        const std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, end - at));
        std::memset(out + done, 0, skip);
        done += skip;
    }
}

bool EvidenceReader::touchesDamage(std::int64_t offset, std::uint64_t length) const {
    const std::uint64_t first = offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
    const std::uint64_t end = offset < 0 ? 0 : first + length;
    return std::any_of(damage_.begin(), damage_.end(),
                       [&](const auto& d) { return d.first < end && first < d.second; });
}

std::string EvidenceReader::damageText() const {
    if (damage_.empty()) {
        return {};
    }
    std::string text = "sectors ";
    std::size_t listed = 0;
    for (const auto& [first, end] : damage_) {
        if (listed == 8) {
            text += " and " + std::to_string(damage_.size() - listed) + " stretches more";
            break;
        }
        text += (listed++ > 0 ? ", " : "") + std::to_string(first / 512) + " to " +
                std::to_string((end - 1) / 512);
    }
    text += " cannot be read";
    if (!damageReason_.empty()) {
        text += " (" + damageReason_ + ")";
    }
    return text;
}

std::size_t EvidenceReader::readAt(std::int64_t offset, void* outVoid, std::size_t length) {
    auto* out = static_cast<unsigned char*>(outVoid);
    if (length == 0) {
        return 0;
    }
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= size_) {
        std::memset(out, 0, length);
        return 0;
    }
    std::uint64_t available = size_ - static_cast<std::uint64_t>(offset);
    std::size_t want = length < available ? length : static_cast<std::size_t>(available);
    std::size_t got = 0;

    if (want > windowSize / 2) {
        got = fetch(offset, out, want);
    } else {
        bool inWindow = windowStart_ >= 0 && offset >= windowStart_ &&
                        static_cast<std::uint64_t>(offset - windowStart_) + want <= windowLength_;
        if (!inWindow) {
            if (window_.empty()) {
                window_.resize(windowSize);
            }
            // Align the window so that neighbouring small reads land in it too.
            std::int64_t start = offset & ~static_cast<std::int64_t>(4095);
            const std::size_t span = static_cast<std::size_t>(
                std::min<std::uint64_t>(windowSize, size_ - static_cast<std::uint64_t>(start)));
            windowLength_ = fetch(start, window_.data(), span);
            windowStart_ = start;
        }
        std::size_t skip = static_cast<std::size_t>(offset - windowStart_);
        got = windowLength_ > skip ? std::min(want, windowLength_ - skip) : 0;
        std::memcpy(out, window_.data() + skip, got);
    }
    // Whatever the evidence could not deliver reads as zero; only that part is cleared, so a big
    // block read does not write its buffer twice.
    std::memset(out + got, 0, length - got);
    return got;
}

std::string EvidenceReader::changed(bool* unreadable) {
    std::string what = source_->changed();
    if (unreadable != nullptr) {
        *unreadable = what.empty() && readFailed_;
    }
    if (what.empty() && readFailed_) {
        what = "sector " + std::to_string(failedAt_ / 512) + " cannot be read";
        const std::string why = source_->readFault();
        if (!why.empty()) {
            what += ": " + why;
        }
        if (!damage_.empty()) {
            what += "; before it, " + damageText();
        }
    }
    return what;
}

namespace {

// The N bytes at `offset` (zeros past the end), decoded.
template <std::size_t N, class Decode>
auto field(EvidenceReader& reader, std::int64_t offset, Decode decode) {
    unsigned char b[N];
    reader.readAt(offset, b, N);
    return decode(b);
}

} // namespace

std::uint8_t EvidenceReader::u8(std::int64_t offset) {
    return field<1>(*this, offset, [](const unsigned char* b) { return b[0]; });
}
std::uint16_t EvidenceReader::le16(std::int64_t offset) {
    return field<2>(*this, offset, morrow::le16);
}
std::uint32_t EvidenceReader::le32(std::int64_t offset) {
    return field<4>(*this, offset, morrow::le32);
}
std::uint64_t EvidenceReader::le64(std::int64_t offset) {
    return field<8>(*this, offset, morrow::le64);
}
std::uint16_t EvidenceReader::be16(std::int64_t offset) {
    return field<2>(*this, offset, morrow::be16);
}
std::uint32_t EvidenceReader::be32(std::int64_t offset) {
    return field<4>(*this, offset, morrow::be32);
}
std::uint64_t EvidenceReader::be64(std::int64_t offset) {
    return field<8>(*this, offset, morrow::be64);
}

} // namespace morrow
