#pragma once

#include "base/Limits.h"
#include "evidence/EvidenceSource.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

namespace morrow {

// How every carver and format reader sees an evidence image. Every read is positioned (64-bit
// offsets) and fills its whole buffer: bytes beyond the end of the evidence, or that a failing
// read could not deliver, read as zero, so a reader never sees stale bytes and never has to check
// a short read.
//
// Small reads (a format reader's few bytes) are served from one cached window so that a marker
// walk or an allocation-table read costs a memcpy, not a system call per field.
//
// The reader does not own its source; the source must outlive it.
class EvidenceReader {
  public:
    explicit EvidenceReader(EvidenceSource& source) : source_(&source), size_(source.size()) {}
    EvidenceReader(const EvidenceReader&) = delete;
    EvidenceReader& operator=(const EvidenceReader&) = delete;

    EvidenceSource& source() { return *source_; }
    const std::string& path() const { return source_->path(); }
    // Size in bytes, taken when the source was opened.
    std::uint64_t size() const { return size_; }
    // Whole 512-byte sectors.
    std::uint64_t sectors() const { return size_ / limits::sectorSize; }

    // Fills `out[0..length)` with the evidence bytes at `offset`; what lies beyond the end (or a
    // negative offset) reads as 0. Returns the number of real evidence bytes delivered.
    std::size_t readAt(std::int64_t offset, void* out, std::size_t length);

    // Little- and big-endian fields; bytes beyond the end read as 0.
    std::uint8_t u8(std::int64_t offset);
    std::uint16_t le16(std::int64_t offset);
    std::uint32_t le32(std::int64_t offset);
    std::uint64_t le64(std::int64_t offset);
    std::uint16_t be16(std::int64_t offset);
    std::uint32_t be32(std::int64_t offset);
    std::uint64_t be64(std::int64_t offset);

    // Bytes fetched from the source since the reader was made (what a run really reads).
    std::uint64_t bytesFetched() const { return bytesFetched_; }
    // True once a read inside the evidence came back short where it could not be read past: the
    // image changed or failed under us, and the run must end.
    bool readFailed() const { return readFailed_; }

    // Damage read past: byte ranges [first, end) that could not be read and read as zeros, in
    // the order met, neighbours joined. The source bounds how many there can be.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& damage() const { return damage_; }
    // Whether any of the `length` bytes at `offset` lie in damage read past: such bytes are not
    // the evidence's, and nothing holding them is carved.
    bool touchesDamage(std::int64_t offset, std::uint64_t length) const;
    // The damaged sectors and why, in words ("sectors 64 to 127 cannot be read (…)"); "" for none.
    std::string damageText() const;

    // Hint that the caller is about to read the whole evidence front to back.
    void adviseSequential() { source_->adviseSequential(); }
    // See EvidenceSource::nextData.
    std::uint64_t nextData(std::uint64_t offset) { return source_->nextData(offset); }
    // Empty while every read so far was whole or read past damage, and the evidence is the one
    // that was opened, as it was; otherwise what went wrong, in words for a message.
    // `unreadable` (when given) is set when it is a read that failed rather than a change.
    std::string changed(bool* unreadable = nullptr);

    // The run's Stop and Quit poll for the walks that may take long over one candidate (a
    // measure's checksums, a join's search, a carved file's copy), which have no poll point of
    // their own: `poll` returns false once the user confirmed a Stop or a Quit that ends the run
    // now. It is asked at every fetch from the source and wherever a walk asks stopped(). From
    // then on stopped() stays true and every read delivers zeros without fetching, as if past the
    // end, so that whatever walk is under way runs out at once; what such a walk found is not
    // carved (the run ends). Not copied with the reader's other state, and cheap to ask often:
    // the run's poll is a counter until something is pending.
    void setStopPoll(std::function<bool()> poll) { stopPoll_ = std::move(poll); }
    // Whether a fetch asks the poll: not while a walk that has poll points of its own (the header
    // scan, once per sector) reads, so that its polls stay its own. Returns the setting before.
    bool setFetchPolls(bool on) { return std::exchange(fetchPolls_, on); }
    bool stopped() {
        if (!stopped_ && stopPoll_ && !stopPoll_()) {
            stopped_ = true;
        }
        return stopped_;
    }

    // What one search of the evidence indexed once for the searches after it (the PDF joins'
    // cross-reference words), one of each type, kept as long as the reader.
    template <typename T> T& memo() {
        std::shared_ptr<void>& slot = memos_[std::type_index(typeid(T))];
        if (!slot) {
            slot = std::make_shared<T>();
        }
        return *static_cast<T*>(slot.get());
    }

  private:
    std::size_t fetch(std::int64_t offset, unsigned char* out, std::size_t length);

    EvidenceSource* source_;
    std::uint64_t size_ = 0;
    std::uint64_t bytesFetched_ = 0;
    bool readFailed_ = false;
    std::uint64_t failedAt_ = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> damage_;
    std::string damageReason_;

    // Small enough that a candidate's few scattered field reads do not fetch data nobody uses,
    // large enough for a marker walk or an allocation-table sector.
    static constexpr std::size_t windowSize = 8 * 1024;
    std::vector<unsigned char> window_;
    std::map<std::type_index, std::shared_ptr<void>> memos_;
    std::function<bool()> stopPoll_;
    bool stopped_ = false;
    bool fetchPolls_ = true;
    std::int64_t windowStart_ = -1;
    std::size_t windowLength_ = 0;
};

// Little- and big-endian helpers over a byte buffer.
inline std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t le64(const unsigned char* p) {
    return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}
inline std::uint16_t be16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t be32(const unsigned char* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t be64(const unsigned char* p) {
    return (static_cast<std::uint64_t>(be32(p)) << 32) | static_cast<std::uint64_t>(be32(p + 4));
}

} // namespace morrow
