#pragma once

#include "output/CarvedFile.h"
#include "output/Digest.h"
#include "platform/TempFile.h"

#include <cstdint>
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
};

// What was carved from, for the DFXML source element.
struct DfxmlSource {
    std::string imageFilename;
    std::vector<std::string> segments; // the files the image is stored in, in order
    std::uint64_t imageSize = 0;
    bool digestsKnown = false; // the run read the whole image
    std::string digestsOmitted; // why a whole read's digests are not the image's (damage, a change)
    Digest::Values digests;
    std::vector<std::pair<std::string, std::string>> acquisition; // what an E01 image holds of its case
    std::string storedMd5;                                         // the MD5 stored at acquisition, if any
};

// The Digital Forensics XML report written beside STEM~Report.xls: the creator, the source and
// one fileobject per carved file. File objects are kept in an anonymous scratch file as the run
// goes, so memory does not grow with the files carved; the document is written whole when the
// evidence file's passes end, complete or not, and closes with the run's resource use so that a
// reader can tell a finished report from a cut one.
class DfxmlReport {
public:
    // Starts a report to be written at `path`. False (error() set) when no scratch file can be made.
    bool begin(const std::string& path, DfxmlCreator creator);
    bool active() const { return active_; }
    const std::string& path() const { return path_; }

    // One carved file: its name, size, where it lies in the evidence (what lies past the end of
    // the evidence is a run of zeros) and, when it was written, its digests.
    void addFile(const CarvedFile& file, std::uint64_t evidenceSize, const Digest::Values* digests);

    // Writes the document and ends the report. False (error() set) when it could not be written;
    // nothing is left at `path` then.
    bool finish(const DfxmlSource& source);
    // Ends the report without writing it.
    void abandon();
    int error() const { return error_; }

    // Text for XML character data and attribute values: markup escaped, UTF-8 kept, bytes that
    // are not UTF-8 written as the Latin-1 characters they would be, and control characters
    // (which XML 1.0 cannot hold) as the pictures of U+2400.
    static std::string escape(const std::string& text);

private:
    void append(const std::string& text);

    bool active_ = false;
    std::string path_;
    DfxmlCreator creator_;
    TempFile objects_;
    std::uint64_t objectBytes_ = 0;
    bool objectsFailed_ = false;
    int error_ = 0;
};

} // namespace morrow
