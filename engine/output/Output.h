#pragma once

#include "platform/FileSystem.h"
#include "platform/OutputFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace morrow {

class EvidenceReader;

// What an output operation tells the run driver: whether it went through, and when it did not,
// what the user is to be told and what that does to the run. Output itself never speaks to the
// user and keeps no run state; the run driver shows the message and acts on the rest.
struct OutputOutcome {
    enum class Field { None, CarvingPath };

    bool ok = true;
    std::string message;       // what the user is told; empty for nothing
    bool hardError = false;    // told as a hard error (stop icon) rather than a plain message
    bool stopsCarving = false; // carving can't be continued: the run is no longer in progress
    Field focus = Field::None; // the form field that gets the focus

    explicit operator bool() const { return ok; }
    static OutputOutcome done() { return {}; }
    static OutputOutcome failed(std::string message, bool hardError) {
        OutputOutcome outcome;
        outcome.ok = false;
        outcome.message = std::move(message);
        outcome.hardError = hardError;
        return outcome;
    }
};

// Where Morrow's output goes: the carving path, one output folder per evidence file, the names of
// the carved files in it and the tab-separated report that records each of them. FileSink writes
// the carved files themselves.
//
// The report is 8-bit text (ISO 8859-1) with CR LF line ends. Paths are UTF-8 on this platform;
// a character the report cannot hold as one byte (above U+00FF), and the tab, CR and LF
// characters that would break a row, are written as an XML-style reference "&#xHEX;", so no row
// is cut and every path stays readable. Bytes that are not valid UTF-8 are written as they are.
class Output {
  public:
    Output() = default;
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Creates the carving path (one level) when missing. On failure: "Folder creation failed: " +
    // path, with the focus to the path field.
    OutputOutcome ensureCarvingPath(const std::string& carvingPath);
    // Creates carvingPath/stem, or stem(1), stem(2) ... when taken; sets outputFolder() (also on
    // failure, so the caller can name it, with the reason in lastError()). A name another run
    // takes at the same moment counts as taken: each run gets a folder of its own.
    bool createOutputFolder(const std::string& carvingPath, const std::string& evidencePath);
    // The output folder of the evidence file being carved.
    const std::string& outputFolder() const { return outputFolder_; }

    // Undo what was made for a run that could not go on with it, so that no empty folder is
    // left behind: the output folder last made, with the report openReport made in it (nothing
    // else is there yet), and the carving path when this run made it and it is empty.
    void discardOutputFolder();
    void discardCarvingPath();

    enum class ReportStatus { Created, Exists, Failed };
    // Creates outputFolder/stem~Report.xls and writes `headerLine`. Never touches a report
    // that is already there. On failure lastError() says why.
    ReportStatus openReport(const std::string& evidencePath, const std::string& headerLine = reportHeader());
    std::string reportPath(const std::string& evidencePath) const;
    // The system's error number of the last folder or report creation that failed.
    int lastError() const { return lastError_; }
    void closeReport();
    bool reportOpen() const { return report_.isOpen(); }

    std::string carvedFilePath(const std::string& evidencePath, const std::string& kindTag,
                               std::int64_t number, const std::string& extension) const;
    // Opens `path` into `file` for writing, emptied, never through a symbolic link. False on
    // failure, with the system's error in file.error().
    static bool createCarvedFile(const std::string& path, OutputFile& file);
    // Fails with the "No free space" message, which stops carving, when the volume holding the
    // output folder has fewer free bytes than `bytesNeeded`. A failed query means no test.
    OutputOutcome checkFreeSpace(std::uint64_t bytesNeeded);
    // Writes one report row. Fails when the row could not be written: the run must end, since a
    // carved file would otherwise go unrecorded.
    OutputOutcome appendReportRow(const std::string& path, std::int64_t offset, std::int64_t size);

    // Goes through while the evidence is the one that was opened, as it was, and every read of it
    // was whole. Otherwise nothing more may be recorded from it: fails with what changed, which
    // stops carving, and the run ends as a partial run.
    static OutputOutcome evidenceIntact(EvidenceReader& evidence);

    // A write that failed with the system's error `error`: a full volume (or quota) gets the
    // "No free space" message, which stops carving; anything else gets `text` as a hard error.
    static OutputOutcome writeFailure(int error, const std::string& text);

    // The free bytes Morrow can write on the volume holding `folder`, or nothing when the query
    // fails. Replaceable so tests can play a full volume.
    using FreeSpaceProbe = std::function<std::optional<std::uint64_t>(const std::string& folder)>;
    void setFreeSpaceProbe(FreeSpaceProbe probe) { freeSpaceProbe_ = std::move(probe); }

    // The evidence file's name after the last path separator (on Windows a slash counts as one
    // too), cut before its last full stop; empty when the name has no full stop.
    static std::string evidenceStem(const std::string& evidencePath);
    static std::string reportHeader();
    // The report's bytes for a UTF-8 text: Latin-1, "\n" as CR LF, the rest as described above.
    static std::string toReportBytes(const std::string& text);
    // Converts a path for the report: as toReportBytes, but tab, CR and LF are escaped too.
    static std::string pathToReportBytes(const std::string& path);

  private:
    bool exists(const std::string& path) const;

    std::string outputFolder_;
    OutputFile report_;
    std::string reportPath_;
    bool reportMade_ = false;     // openReport created reportPath_
    std::string madeCarvingPath_; // the carving path, when this run made it
    int lastError_ = 0;
    FreeSpaceProbe freeSpaceProbe_;
};

} // namespace morrow
