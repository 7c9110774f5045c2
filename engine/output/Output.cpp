#include "output/Output.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"

#include <cerrno>
#include <cstdio>

namespace morrow {

namespace {

// A full volume: the message, and carving stops.
OutputOutcome noFreeSpace() {
    OutputOutcome outcome = OutputOutcome::failed(
        "No free space availabe on the destination drive.\nCarving can't be continued.", false);
    outcome.stopsCarving = true;
    return outcome;
}

void appendReference(std::string& out, std::uint32_t codePoint) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "&#x%X;", codePoint);
    out += buf;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when the bytes are not valid UTF-8.
std::size_t decodeUtf8(const std::string& s, std::size_t i, std::uint32_t& cp) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
        return 0;
    }
    if (len == 1) {
        cp = c;
        return 1;
    }
    cp = c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    static const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

std::string convertForReport(const std::string& text, bool escapeLineBreaks) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        std::size_t len = decodeUtf8(text, i, cp);
        if (len == 0) {
            out.push_back(text[i]); // not UTF-8: keep the byte as it is
            ++i;
            continue;
        }
        i += len;
        if (escapeLineBreaks && (cp == '\t' || cp == '\n' || cp == '\r')) {
            appendReference(out, cp);
        } else if (cp == '\n') {
            out += "\r\n";
        } else if (cp == 0 || cp > 0xFF) {
            appendReference(out, cp);
        } else {
            out.push_back(static_cast<char>(static_cast<unsigned char>(cp)));
        }
    }
    return out;
}

} // namespace

Output::~Output() {
    closeReport();
}

bool Output::exists(const std::string& path) const {
    return pathExists(path);
}

std::string Output::evidenceStem(const std::string& evidencePath) {
    const std::string name = baseName(evidencePath);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

std::string Output::reportHeader() {
    return "File Name\tFile Offset\tStarting Sector\tNo: of Sectors\tFile Size(in Bytes)";
}

std::string Output::toReportBytes(const std::string& text) {
    return convertForReport(text, false);
}

std::string Output::pathToReportBytes(const std::string& path) {
    return convertForReport(path, true);
}

OutputOutcome Output::ensureCarvingPath(const std::string& carvingPath) {
    int error = 0;
    madeCarvingPath_.clear();
    if (!exists(carvingPath)) {
        error = createFolder(carvingPath);
        if (error == 0) {
            madeCarvingPath_ = carvingPath;
        }
    }
    if (!exists(carvingPath)) {
        OutputOutcome outcome = OutputOutcome::failed("Folder creation failed: " + carvingPath + ": " +
                                                          systemErrorText(error != 0 ? error : ENOENT),
                                                      false);
        outcome.focus = OutputOutcome::Field::CarvingPath;
        return outcome;
    }
    return OutputOutcome::done();
}

bool Output::createOutputFolder(const std::string& carvingPath, const std::string& evidencePath) {
    const std::string base = carvingPath + pathSeparator + evidenceStem(evidencePath);
    for (long n = 0;; ++n) {
        const std::string candidate = n == 0 ? base : base + "(" + std::to_string(n) + ")";
        outputFolder_ = candidate;
        if (exists(candidate)) {
            continue;
        }
        const int error = createFolder(candidate);
        if (error == 0) {
            return true;
        }
        if (error != EEXIST) {
            lastError_ = error;
            return false;
        }
        // Another run made it between the look and the mkdir: it is theirs; take the next name.
    }
}

void Output::discardOutputFolder() {
    closeReport();
    if (reportMade_) {
        removeFile(reportPath_);
        reportMade_ = false;
    }
    removeEmptyFolder(outputFolder_);
}

void Output::discardCarvingPath() {
    if (!madeCarvingPath_.empty()) {
        removeEmptyFolder(madeCarvingPath_);
        madeCarvingPath_.clear();
    }
}

std::string Output::reportPath(const std::string& evidencePath) const {
    return outputFolder_ + pathSeparator + evidenceStem(evidencePath) + "~Report" + ".xls";
}

Output::ReportStatus Output::openReport(const std::string& evidencePath, const std::string& headerLine) {
    closeReport();
    const std::string path = reportPath(evidencePath);
    reportPath_ = path;
    reportMade_ = false;
    if (exists(path)) {
        lastError_ = EEXIST;
        return ReportStatus::Exists;
    }
    if (!report_.open(path, OutputFile::Mode::CreateNew)) {
        lastError_ = report_.error();
        return report_.error() == EEXIST ? ReportStatus::Exists : ReportStatus::Failed;
    }
    std::string header = toReportBytes(headerLine);
    if (!report_.write(header.data(), header.size())) {
        lastError_ = report_.error();
        report_.close();
        removeFile(path);
        return ReportStatus::Failed;
    }
    reportMade_ = true;
    return ReportStatus::Created;
}

void Output::closeReport() {
    report_.close();
}

std::string Output::carvedFilePath(const std::string& evidencePath, const std::string& kindTag,
                                   std::int64_t number, const std::string& extension) const {
    return outputFolder_ + pathSeparator + evidenceStem(evidencePath) + "~" + kindTag +
           std::to_string(number) + extension;
}

bool Output::createCarvedFile(const std::string& path, OutputFile& file) {
    return file.open(path, OutputFile::Mode::Replace);
}

OutputOutcome Output::checkFreeSpace(std::uint64_t bytesNeeded) {
    // The volume tested is the one holding the output folder: on this platform the folder itself.
    std::optional<std::uint64_t> freeBytes;
    if (freeSpaceProbe_) {
        freeBytes = freeSpaceProbe_(outputFolder_);
    } else {
        freeBytes = freeSpace(outputFolder_);
    }
    if (freeBytes && *freeBytes < bytesNeeded) {
        return noFreeSpace();
    }
    return OutputOutcome::done();
}

OutputOutcome Output::appendReportRow(const std::string& path, std::int64_t offset, std::int64_t size) {
    constexpr std::int64_t sector = limits::sectorSize;
    std::int64_t startSector = (offset >= 0 ? offset / sector : -((-offset + sector - 1) / sector)) - 1;
    std::int64_t sectors = size > 0 ? (size + sector - 1) / sector : 0;
    const std::string row = "\r\n" + pathToReportBytes(path) + "\t" + std::to_string(offset) + "\t" +
                            std::to_string(startSector) + "\t" + std::to_string(sectors) + "\t" +
                            std::to_string(size) + "\t";
    const std::int64_t rowStart = report_.isOpen() ? report_.position() : -1;
    if (!report_.isOpen() || !report_.write(row.data(), row.size())) {
        const int err = report_.isOpen() ? report_.error() : EBADF;
        // A row cut short by a full volume or a size limit must not stay in the report as if
        // it were one: the report keeps only whole rows.
        if (rowStart >= 0) {
            report_.truncate(rowStart);
        }
        return writeFailure(err, "Report write failed: " + reportPath_ + ": " + systemErrorText(err));
    }
    return OutputOutcome::done();
}

OutputOutcome Output::evidenceIntact(EvidenceReader& evidence) {
    bool unreadable = false;
    const std::string what = evidence.changed(&unreadable);
    if (what.empty()) {
        return OutputOutcome::done();
    }
    OutputOutcome outcome =
        OutputOutcome::failed(std::string(unreadable ? "Evidence file could not be read: "
                                                     : "Evidence file changed during carving: ") +
                                  evidence.path() + ": " + what,
                              true);
    outcome.stopsCarving = true;
    return outcome;
}

OutputOutcome Output::writeFailure(int error, const std::string& text) {
    return isOutOfSpace(error) ? noFreeSpace() : OutputOutcome::failed(text, true);
}

} // namespace morrow
