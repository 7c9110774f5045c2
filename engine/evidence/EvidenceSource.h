#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace morrow {

class OutputFile;

// Where the bytes of one evidence image come from: a raw file or block device (RawEvidence), a
// split raw image (SplitRawEvidence), an E01 image (EwfEvidence) or a buffer in memory (tests).
// Sources are opened read-only, once per run, and never written.
class EvidenceSource {
  public:
    virtual ~EvidenceSource() = default;

    // The path the examiner gave (the first piece of a multi-file image).
    virtual const std::string& path() const = 0;
    // The image's size in bytes, taken when it was opened.
    virtual std::uint64_t size() const = 0;

    // Reads up to `length` bytes at `offset` (which is below size()) into `out`. Returns the bytes
    // delivered; fewer than asked only at the end of the image or when the read failed.
    virtual std::size_t read(std::uint64_t offset, void* out, std::size_t length) = 0;

    // The fast path for bulk copies: copies up to `length` bytes at `offset` into `out` at its
    // current position without passing them through our memory. `copied` is what went across;
    // `error` (an errno value) is set when the destination failed, in which case the caller must
    // give up; a source without a fast path, or one that stopped for any other reason, returns
    // with error 0 and the caller copies the rest through a buffer.
    struct CopyResult {
        std::uint64_t copied = 0;
        int error = 0;
    };
    virtual CopyResult copyTo(OutputFile& out, std::uint64_t offset, std::uint64_t length) {
        (void)out, (void)offset, (void)length;
        return {};
    }

    // Hint that the caller is about to read the whole image front to back.
    virtual void adviseSequential() {}

    // The first offset at or after `offset` that may hold data; what lies before it is a hole of
    // a sparse image and reads as zeros. size() when only holes follow. Sources that cannot tell
    // answer `offset`.
    virtual std::uint64_t nextData(std::uint64_t offset) { return offset; }

    // Empty while the image is the one that was opened, unchanged; otherwise what changed (its
    // size, or the file its path names; for a split or E01 image, that of any piece or segment,
    // or data that failed its checksum), in words for a message.
    virtual std::string changed() { return {}; }

    // After a read came back short at `offset` (below size()): where the damage there ends when
    // the reader may read on past it (a chunk of an E01 image that cannot be decoded), its bytes
    // then reading as zeros and never carved; `offset` itself when nothing past it can be trusted
    // (the image changed, or too much of it fails), which ends the run.
    virtual std::uint64_t damageEnd(std::uint64_t offset) { return offset; }
    // Why reads came back short, in words; "" when the source cannot tell.
    virtual std::string readFault() { return {}; }

    // The files the image is stored in, in order (the path alone for a single file).
    virtual std::vector<std::string> segments() const { return {path()}; }
    // What an image format records of its acquisition (case number, examiner ...), as name and
    // value, and the MD5 it stored then (lower-case hex); nothing for a raw image.
    virtual std::vector<std::pair<std::string, std::string>> acquisitionData() const { return {}; }
    virtual std::string storedMd5() const { return {}; }
};

// Opens the evidence at `path`. On failure returns null and puts the reason in `error`: the
// system's, or what is wrong with a split or E01 image (naming the piece or segment).
using EvidenceOpener =
    std::function<std::unique_ptr<EvidenceSource>(const std::string& path, std::string& error)>;

// The opener a run uses unless told otherwise: it tells the kind of evidence by its content (an
// EWF signature), then its name (the first piece of a split image), else takes it as raw.
std::unique_ptr<EvidenceSource> openEvidenceSource(const std::string& path, std::string& error);

} // namespace morrow
