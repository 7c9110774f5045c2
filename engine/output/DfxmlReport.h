#pragma once

#include "output/CarvedFile.h"
#include "output/Digest.h"
#include "output/FileVerdict.h"
#include "platform/TempFile.h"
#include "volumes/AllocationMap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace morrow {

// Who wrote a report, for the DFXML creator element.
struct DfxmlCreator {
    std::string program = "Morrow";
    std::string version;
    std::string commandLine; // the command line, or the dialog's settings in words
    std::string startTime;   // ISO 8601, UTC
    // Libraries beyond zlib and the digests that shaped the report (the decoders behind verdicts),
    // as name and version.
    std::vector<std::pair<std::string, std::string>> libraries;
};

// What was carved from, for the DFXML source element.
struct DfxmlSource {
    std::string imageFilename;
    std::vector<std::string> segments; // the files the image is stored in, in order
    std::uint64_t imageSize = 0;
    bool digestsKnown = false;  // the run read the whole image
    std::string digestsOmitted; // why a whole read's digests are not the image's (damage, a change)
    Digest::Values digests;
    std::vector<std::pair<std::string, std::string>> acquisition; // what an E01 image holds of its case
    std::string storedMd5;                                        // the MD5 stored at acquisition, if any
};

// The Digital Forensics XML report written beside STEM~Report.xls: the creator, the source and
// one fileobject per carved file. File objects are kept in an anonymous scratch file as the run
// goes, so memory does not grow with the files carved; the document is written whole when the
// evidence file's passes end, complete or not. It closes with run_status, "complete" or
// "incomplete", and only a complete run's document with the run's resource use (rusage), so
// that a reader can tell a finished report from a cut one.
//
// Every text is written so that the document is well-formed XML 1.0 and names what it names
// exactly: markup characters, tab, LF and CR as XML references. A text holding bytes that XML
// cannot carry (bytes that are not UTF-8, control characters other than tab, LF and CR, encoded
// surrogates, U+FFFE and U+FFFF) is backslash-escaped instead: each such byte as \xHH (two
// upper-case hex digits) and each backslash as \\; its element carries
// encoding="backslash-escaped". Texts without such bytes stay as they are, backslashes included.
class DfxmlReport {
  public:
    // Whether a scratch file can be made and written; otherwise false with what failed in
    // `failure` (naming the temporary folder). Asked before a run makes anything.
    static bool probeScratch(std::string& failure);

    // Starts a report to be written at `path`. False (failure() set) when no scratch file can be made.
    bool begin(const std::string& path, DfxmlCreator creator);
    bool active() const { return active_; }
    const std::string& path() const { return path_; }

    // One carved file: its name, size, where it lies in the evidence (what lies past the end of
    // the evidence is a run of zeros) and, when it was written, its digests.
    void addFile(const CarvedFile& file, std::uint64_t evidenceSize, const Digest::Values* digests);
    // A run that checks its files: each file object added from now on holds a place for its
    // verdict (morrow:verdict, in Morrow's own namespace), filled in by setVerdict when the check
    // is done, perhaps some files later; a place never filled stays blank. The place is a line
    // of verdictPlaceBytes, so the file objects still wait in the scratch file and not in memory.
    void holdVerdicts(bool hold) { holdVerdicts_ = hold; }
    // The place of the last file object added (0 when it has none), for setVerdict.
    std::uint64_t lastVerdictPlace() const { return lastVerdictPlace_; }
    // <morrow:verdict state="opens|damaged|not-checked">fault</morrow:verdict> (for not-checked,
    // why a check refused the file, when it did), a text too long for the place cut short.
    void setVerdict(std::uint64_t place, const FileVerdict& verdict);
    static constexpr std::size_t verdictPlaceBytes = 384;
    // The namespace of Morrow's own elements.
    static constexpr const char* morrowNamespace = "urn:morrow:dfxml:1";
    // The file systems of the evidence, when they were read: each file object then says whether
    // its first byte is allocated and names the entry that owns it (original_fileobject: its
    // path, inode, whether its name and inode are live, and its times). Null: neither is said.
    void setAllocation(const AllocationMap* allocation) { allocation_ = allocation; }
    // A file found inside another carved file (`holderPath`, `inHolder` bytes from its start) and
    // not written again: where it lies, and its holder as its parent object.
    void addEmbedded(const CarvedFile& file, std::uint64_t evidenceSize, const std::string& holderPath,
                     std::uint64_t inHolder);

    // Writes the document and ends the report; `complete` when every pass of the evidence file
    // ran to its end. `stillGoing`, when given, is asked between the blocks written: once it says
    // false the run counts as stopped, and the report (written whole) says incomplete. False
    // (failure() set) when it could not be written, the scratch file included; nothing is left at
    // `path` then.
    bool finish(const DfxmlSource& source, bool complete, const std::function<bool()>& stillGoing = {});
    // Ends the report without writing it.
    void abandon();
    // Why begin() or finish() failed, in words for a message.
    const std::string& failure() const { return failure_; }

    // The text as it stands in the document (see above); `backslashEscaped` asks for the
    // backslash escapes, which needsBackslashEscapes() tells.
    static std::string escape(const std::string& text, bool backslashEscaped);
    static bool needsBackslashEscapes(const std::string& text);

  private:
    void append(const std::string& text);

    bool active_ = false;
    std::string path_;
    DfxmlCreator creator_;
    TempFile objects_;
    std::uint64_t objectBytes_ = 0;
    int scratchError_ = 0; // the system's error once a write to the scratch file failed
    std::string failure_;
    const AllocationMap* allocation_ = nullptr;
    bool holdVerdicts_ = false;
    std::uint64_t lastVerdictPlace_ = 0;
};

} // namespace morrow
