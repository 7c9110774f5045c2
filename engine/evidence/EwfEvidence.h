#pragma once

#include "evidence/EvidenceSource.h"
#include "evidence/RawEvidence.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morrow {

// An Expert Witness (E01) image: the media data stored, chunk by chunk and mostly compressed, in
// segment files `disk.E01`, `disk.E02`, …, decoded by libewf. The segments are opened by Morrow as
// RawEvidence (read-only, without touching their access times) and handed to libewf through a file
// IO pool, so each one's changes are noticed like a raw image's. Bulk copies go through libewf in
// blocks: there is no kernel path from compressed chunks.
//
// Without libewf (MORROW_WITH_EWF off) the signatures are still told apart and the section walk
// still works, but open() refuses every image.
class EwfEvidence : public EvidenceSource {
  public:
    // What the first bytes of a file say it is. EWF version 1 (EnCase 1 to 7, `.E01`) starts with
    // "EVF\x09\x0d\x0a\xff\x00"; version 2 (EnCase 7's `.Ex01`) with "EVF2\x0d\x0a\x81\x00".
    enum class Signature { None, Ewf1, Ewf2 };
    static Signature signature(const unsigned char* bytes, std::size_t length);

    // Whether this build reads E01 images, and the libewf it reads them with ("" without).
    static bool builtIn();
    static std::string libraryVersion();

    // Opens the image whose first segment is `path`, every segment found from its name as libewf
    // names them (`.E01` to `.E99`, then `.EAA` …; a file whose name does not follow that is
    // taken as the only segment). Null when any segment cannot be opened or the set is missing a
    // segment or damaged, with the reason in `error` ("segment disk.E02 is missing", or libewf's
    // own words); never an image with zeros for what could not be read.
    //
    // libewf indexes the chunks it reads and keeps the index while its handle is open, about
    // 4 MiB per GiB of media; the handle is opened again whenever reads reach a third region of
    // `indexRegion` bytes, which bounds that index (tests use small regions).
    static constexpr std::uint64_t defaultIndexRegion = std::uint64_t{1} << 29;
    static std::unique_ptr<EwfEvidence> open(const std::string& path, std::string& error,
                                             std::uint64_t indexRegion = defaultIndexRegion);

    // The end of one version 1 segment's chain of sections, walked from its file header through
    // every section descriptor (type, offset of the next, size, Adler-32 of the descriptor).
    // Used to say what is wrong when libewf refuses a set or finds it incomplete.
    struct SectionChain {
        enum class End { Done, Next, Broken };
        End end = End::Broken;
        std::uint64_t offset = 0;        // where the last descriptor read, or the fault, lies
        std::uint32_t segmentNumber = 0; // from the file header, 1 for the first segment
        std::string fault;               // for Broken: what is wrong, and where
    };
    static SectionChain walkSections(EvidenceSource& segment);
    // The segment name after `path` in libewf's naming (`disk.E09` gives `disk.E10`, `disk.E99`
    // gives `disk.EAA`, `disk.EZZ` gives `disk.FAA`); empty when `path` is not so named.
    static std::string nextSegmentName(const std::string& path);

    ~EwfEvidence() override;
    EwfEvidence(const EwfEvidence&) = delete;
    EwfEvidence& operator=(const EwfEvidence&) = delete;

    const std::string& path() const override { return path_; }
    // The media size libewf reports, in bytes.
    std::uint64_t size() const override { return size_; }
    // Fewer bytes than asked when libewf fails on a chunk, or the chunk fails its checksum:
    // damaged data is not handed on as the evidence's. damageEnd() gives the end of that chunk,
    // so reading goes on after it, until more than badChunksRead chunks have failed; readFault()
    // says why.
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override;
    std::uint64_t damageEnd(std::uint64_t offset) override;
    std::string readFault() override;
    void adviseSequential() override;
    // The first change any segment reports, naming the segment.
    std::string changed() override;
    // The segment files, in order; the case data the image holds (case number, examiner, …, as
    // libewf names them); the MD5 stored at acquisition, lower-case hex, or "" when there is none.
    std::vector<std::string> segments() const override;
    std::vector<std::pair<std::string, std::string>> acquisitionData() const override { return acquisition_; }
    std::string storedMd5() const override { return storedMd5_; }

  private:
    struct Library; // libewf's handle and the file IO pool it reads the segments through
    EwfEvidence();
    // Closes libewf's handle and opens it again, letting go of its index of the chunks; false
    // (with the reason kept for changed()) when it cannot be opened again.
    bool reopen();
    // Decodes `length` bytes at `offset` through libewf; fewer (none) when it fails or the chunks
    // fail their checksums, with the reason kept for changed().
    std::size_t decode(std::uint64_t offset, void* out, std::size_t length);

    // The chunks decoded last, kept whole: a file's footer is sought and then the same bytes are
    // copied, neighbouring candidates overlap, and reads of a few bytes fall inside one chunk;
    // each is decoded once while it stays among the last few dozen. Memory: linesKept chunks.
    struct Line {
        std::uint64_t index = 0; // the chunk's number: offset / lineBytes_
        std::uint64_t lastUse = 0;
        std::vector<unsigned char> bytes; // the whole chunk (less at the media's end); empty: unused
    };
    static constexpr std::size_t linesKept = 64;
    // The chunk, decoded now unless it is among the lines; null when it cannot be decoded.
    const Line* cachedLine(std::uint64_t index);

    std::string path_;
    std::uint64_t size_ = 0;
    std::vector<std::unique_ptr<RawEvidence>> segments_;
    std::unique_ptr<Library> library_;
    std::uint32_t checksumErrors_ = 0;
    // Reading stopped for good (too many chunks failed, or libewf could not open the set again).
    std::string readFault_;
    // The chunks that could not be decoded, read past as damage, and why the first failed. Past
    // badChunksRead of them nothing more is read: an image that fails that much (or one that
    // claims far more media than it stores) is not read on chunk by chunk to its claimed end.
    static constexpr std::size_t badChunksRead = 64;
    std::vector<std::uint64_t> badLines_;
    std::string damageReason_;
    std::vector<std::pair<std::string, std::string>> acquisition_;
    std::string storedMd5_;
    std::uint64_t lineBytes_ = 32768;
    std::vector<Line> lines_;
    std::uint64_t useClock_ = 0;
};

} // namespace morrow
