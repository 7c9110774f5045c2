#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstring>

namespace morrow {

std::size_t EvidenceReader::fetch(std::int64_t offset, unsigned char* out, std::size_t length) {
    const std::size_t got = source_->read(static_cast<std::uint64_t>(offset), out, length);
    bytesFetched_ += got;
    if (got < length && static_cast<std::uint64_t>(offset) + got < size_) {
        readFailed_ = true;
    }
    return got;
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

std::string EvidenceReader::changed() {
    std::string what = source_->changed();
    if (what.empty() && readFailed_) {
        what = "a read came back short";
    }
    return what;
}

namespace {

// The N bytes at `offset` (zeros past the end), decoded.
template <std::size_t N, class Decode> auto field(EvidenceReader& reader, std::int64_t offset, Decode decode) {
    unsigned char b[N];
    reader.readAt(offset, b, N);
    return decode(b);
}

} // namespace

std::uint8_t EvidenceReader::u8(std::int64_t offset) {
    return field<1>(*this, offset, [](const unsigned char* b) { return b[0]; });
}
std::uint16_t EvidenceReader::le16(std::int64_t offset) { return field<2>(*this, offset, morrow::le16); }
std::uint32_t EvidenceReader::le32(std::int64_t offset) { return field<4>(*this, offset, morrow::le32); }
std::uint64_t EvidenceReader::le64(std::int64_t offset) { return field<8>(*this, offset, morrow::le64); }
std::uint16_t EvidenceReader::be16(std::int64_t offset) { return field<2>(*this, offset, morrow::be16); }
std::uint32_t EvidenceReader::be32(std::int64_t offset) { return field<4>(*this, offset, morrow::be32); }
std::uint64_t EvidenceReader::be64(std::int64_t offset) { return field<8>(*this, offset, morrow::be64); }

} // namespace morrow
