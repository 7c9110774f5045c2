// Digital Forensics XML, schema version 1.2.0 (the DFXML working group's dfxml.xsd): the root
// element in the DFXML namespace holding metadata (Dublin Core), creator, source, one fileobject
// per carved file with its byte_runs and hashdigests, then Morrow's run_status and, after a
// complete run, rusage. A run that checks its files adds each file's verdict in Morrow's own
// namespace (morrow:verdict).
#include "output/DfxmlReport.h"

#include "base/Limits.h"
#include "base/Text.h"
#include "platform/OutputFile.h"
#include "platform/SystemInfo.h"

#include <cerrno>
#include <ctime>
#include <zlib.h>

namespace morrow {

namespace {

// <name attributes...>text</name> (or <name attributes.../> when there is no text). When any of
// its values needs backslash escapes, all of them are escaped and the element says so.
std::string element(const std::string& indent, const std::string& name, const std::string& text,
                    const std::vector<std::pair<std::string, std::string>>& attributes = {}) {
    bool escaped = DfxmlReport::needsBackslashEscapes(text);
    for (const auto& attribute : attributes) {
        escaped = escaped || DfxmlReport::needsBackslashEscapes(attribute.second);
    }
    std::string tag = "<" + name;
    for (const auto& [attribute, value] : attributes) {
        tag += " " + attribute + "=\"" + DfxmlReport::escape(value, escaped) + "\"";
    }
    if (escaped) {
        tag += " encoding=\"backslash-escaped\"";
    }
    if (text.empty() && !attributes.empty()) {
        return indent + tag + "/>\n";
    }
    return indent + tag + ">" + DfxmlReport::escape(text, escaped) + "</" + name + ">\n";
}

std::string compilerText() {
#if defined(__clang__)
    return "clang " __clang_version__;
#elif defined(__GNUC__)
    return "GCC " __VERSION__;
#else
    return "unknown";
#endif
}

// The length of the UTF-8 sequence at text[i] when it is one whose character XML 1.0 can hold
// (tab, LF, CR, U+0020 to U+D7FF, U+E000 to U+FFFD, U+10000 to U+10FFFF), otherwise 0:
// overlong forms, encoded surrogates, code points past U+10FFFF, U+FFFE and U+FFFF, other
// control characters and stray bytes are not.
std::size_t xmlCharacterLength(const std::string& text, std::size_t i) {
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = at(i);
    if (c < 0x80) {
        return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
    }
    const std::size_t length = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    std::uint32_t cp = c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (at(i + k) & 0x3F);
    }
    static const std::uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < shortest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
        cp == 0xFFFF) {
        return 0;
    }
    return length;
}

// XML's own references for what may not stand for itself: markup, and tab, LF and CR, which a
// parser would turn into blanks (in attributes) or CR into LF.
const char* reference(char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\t':
        return "&#x9;";
    case '\n':
        return "&#xA;";
    case '\r':
        return "&#xD;";
    default:
        return nullptr;
    }
}

// The byte_runs of `file`, its first run at `at` in the file they describe.
std::string byteRuns(const std::string& indent, const CarvedFile& file, std::uint64_t evidenceSize,
                     std::uint64_t at) {
    std::string xml = indent + "<byte_runs>\n";
    for (const ByteRun& run : file.runs) {
        const auto start = static_cast<std::uint64_t>(run.offset);
        const std::uint64_t inEvidence =
            start >= evidenceSize ? 0 : std::min(run.length, evidenceSize - start);
        if (inEvidence > 0) {
            xml += indent + "  <byte_run offset=\"" + std::to_string(at) + "\" img_offset=\"" +
                   std::to_string(start) + "\" len=\"" + std::to_string(inEvidence) + "\"/>\n";
        }
        if (inEvidence < run.length) {
            // Zeros written for what the file claims past the end of the evidence.
            xml += indent + "  <byte_run offset=\"" + std::to_string(at + inEvidence) +
                   "\" fill=\"0\" len=\"" + std::to_string(run.length - inEvidence) + "\"/>\n";
        }
        at += run.length;
    }
    return xml + indent + "</byte_runs>\n";
}

// Whether the first byte at `offset` is allocated, and the file-system entry that owns it.
std::string owner(const AllocationMap& allocation, std::uint64_t offset) {
    std::string xml = element("    ", "alloc", allocation.allocated(offset) ? "1" : "0");
    const FileOwner* entry = allocation.owner(offset);
    if (entry == nullptr) {
        return xml;
    }
    xml += "    <original_fileobject>\n";
    xml += element("      ", "filename", entry->path);
    xml += element("      ", "inode", std::to_string(entry->inode));
    xml += element("      ", "alloc_name", entry->nameAllocated ? "1" : "0");
    xml += element("      ", "alloc_inode", entry->metaAllocated ? "1" : "0");
    const std::pair<const char*, std::int64_t> times[] = {{"mtime", entry->modified},
                                                          {"atime", entry->accessed},
                                                          {"ctime", entry->changed},
                                                          {"crtime", entry->created}};
    for (const auto& [name, seconds] : times) {
        if (seconds > 0) {
            const auto t = static_cast<std::time_t>(seconds);
            std::tm utc{};
#ifdef _WIN32
            gmtime_s(&utc, &t);
#else
            gmtime_r(&t, &utc);
#endif
            char text[32];
            std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
            xml += element("      ", name, text);
        }
    }
    return xml + "    </original_fileobject>\n";
}

} // namespace

bool DfxmlReport::needsBackslashEscapes(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = xmlCharacterLength(text, i);
        if (length == 0) {
            return true;
        }
        i += length;
    }
    return false;
}

std::string DfxmlReport::escape(const std::string& text, bool backslashEscaped) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = xmlCharacterLength(text, i);
        if (length == 0) {
            const auto c = static_cast<unsigned char>(text[i++]);
            out += "\\x";
            out.push_back(upperHexDigits[c >> 4]);
            out.push_back(upperHexDigits[c & 15]);
            continue;
        }
        if (const char* ref = reference(text[i])) {
            out += ref;
        } else if (text[i] == '\\' && backslashEscaped) {
            out += "\\\\";
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

namespace {

std::string scratchFailure(int error) {
    return "its scratch file in " + TempFile::describeFolder() +
           " failed: " + systemErrorText(error != 0 ? error : EIO);
}

} // namespace

bool DfxmlReport::probeScratch(std::string& failure) {
    TempFile probe;
    const std::string block(512, '\0');
    errno = 0;
    if (probe.create() && probe.writeAt(0, block.data(), block.size())) {
        return true;
    }
    failure = TempFile::describeFolder() + ": " + systemErrorText(errno != 0 ? errno : EIO);
    return false;
}

bool DfxmlReport::begin(const std::string& path, DfxmlCreator creator) {
    abandon();
    path_ = path;
    creator_ = std::move(creator);
    errno = 0;
    if (!objects_.create()) {
        failure_ = scratchFailure(errno);
        return false;
    }
    active_ = true;
    return true;
}

void DfxmlReport::append(const std::string& text) {
    if (scratchError_ != 0) {
        return;
    }
    errno = 0;
    if (!objects_.writeAt(objectBytes_, text.data(), text.size())) {
        scratchError_ = errno != 0 ? errno : EIO;
        return;
    }
    objectBytes_ += text.size();
}

void DfxmlReport::addFile(const CarvedFile& file, std::uint64_t evidenceSize, const Digest::Values* digests) {
    if (!active_) {
        return;
    }
    std::string xml = "  <fileobject>\n";
    xml += element("    ", "filename", file.path);
    xml += element("    ", "filesize", std::to_string(file.length()));
    xml += byteRuns("    ", file, evidenceSize, 0);
    if (allocation_ != nullptr) {
        xml += owner(*allocation_, static_cast<std::uint64_t>(file.offset()));
    }
    if (digests != nullptr) {
        xml += "    <hashdigest type=\"md5\">" + digests->md5 + "</hashdigest>\n";
        xml += "    <hashdigest type=\"sha256\">" + digests->sha256 + "</hashdigest>\n";
    }
    lastVerdictPlace_ = 0;
    if (holdVerdicts_) {
        lastVerdictPlace_ = objectBytes_ + xml.size() + 1;
        xml += std::string(verdictPlaceBytes - 1, ' ') + "\n";
    }
    xml += "  </fileobject>\n";
    append(xml);
}

void DfxmlReport::setVerdict(std::uint64_t place, const FileVerdict& verdict) {
    if (!active_ || place == 0 || scratchError_ != 0) {
        return;
    }
    const char* state = verdict.state == FileVerdict::State::Opens     ? "opens"
                        : verdict.state == FileVerdict::State::Damaged ? "damaged"
                                                                       : "not-checked";
    std::string fault = verdict.fault;
    std::string xml = element("    ", "morrow:verdict", fault, {{"state", state}});
    while (xml.size() >= verdictPlaceBytes && !fault.empty()) {
        fault.resize(fault.size() * 3 / 4);
        xml = element("    ", "morrow:verdict", fault + "...", {{"state", state}});
    }
    xml.pop_back(); // the place keeps its own line end
    xml.resize(verdictPlaceBytes - 1, ' ');
    errno = 0;
    if (!objects_.writeAt(place - 1, xml.data(), xml.size())) {
        scratchError_ = errno != 0 ? errno : EIO;
    }
}

void DfxmlReport::addEmbedded(const CarvedFile& file, std::uint64_t evidenceSize,
                              const std::string& holderPath, std::uint64_t inHolder) {
    if (!active_) {
        return;
    }
    std::string xml = "  <fileobject>\n";
    xml += "    <!-- " + file.kindTag + " inside another carved file: not written -->\n";
    xml += element("    ", "filesize", std::to_string(file.length()));
    xml += byteRuns("    ", file, evidenceSize, 0);
    xml += "    <parent_object>\n";
    xml += element("      ", "filename", holderPath);
    xml += byteRuns("      ", file, evidenceSize, inHolder);
    xml += "    </parent_object>\n";
    xml += "  </fileobject>\n";
    append(xml);
}

bool DfxmlReport::finish(const DfxmlSource& source, bool complete, const std::function<bool()>& stillGoing) {
    if (!active_) {
        return true;
    }
    active_ = false;
    auto going = [&] {
        complete = complete && (!stillGoing || stillGoing());
        return complete;
    };
    if (scratchError_ != 0) {
        failure_ = scratchFailure(scratchError_);
        objects_.close();
        return false;
    }
    std::string head =
        "<?xml version='1.0' encoding='UTF-8'?>\n"
        "<dfxml xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"" +
        std::string(holdVerdicts_ ? " xmlns:morrow=\"" + std::string(morrowNamespace) + "\"" : "") +
        " version=\"1.2.0\">\n"
        "  <metadata>\n    <dc:type>Carve Report</dc:type>\n  </metadata>\n"
        "  <creator version=\"1.0\">\n";
    head += element("    ", "program", creator_.program);
    head += element("    ", "version", creator_.version);
    head += "    <build_environment>\n";
    head += element("      ", "compiler", compilerText());
    head += element("      ", "library", "", {{"name", "zlib"}, {"version", zlibVersion()}});
    head += element("      ", "library", "",
                    {{"name", Digest::libraryName()}, {"version", Digest::libraryVersion()}});
    for (const auto& [name, version] : creator_.libraries) {
        head += element("      ", "library", "", {{"name", name}, {"version", version}});
    }
    head += "    </build_environment>\n    <execution_environment>\n";
    if (const auto system = describeSystem()) {
        head += element("      ", "os_sysname", system->sysname);
        head += element("      ", "os_release", system->release);
        head += element("      ", "os_version", system->version);
        head += element("      ", "host", system->host);
        head += element("      ", "arch", system->arch);
    }
    head += element("      ", "uid", currentUser());
    head += element("      ", "command_line", creator_.commandLine);
    head += element("      ", "start_time", creator_.startTime);
    head += "    </execution_environment>\n  </creator>\n  <source>\n";
    if (source.segments.empty()) {
        head += element("    ", "image_filename", source.imageFilename);
    }
    for (const std::string& segment : source.segments) {
        head += element("    ", "image_filename", segment);
    }
    head += element("    ", "image_size", std::to_string(source.imageSize));
    head += element("    ", "sectorsize", std::to_string(limits::sectorSize));
    if (source.digestsKnown) {
        head += "    <hashdigest type=\"md5\">" + source.digests.md5 + "</hashdigest>\n";
        head += "    <hashdigest type=\"sha256\">" + source.digests.sha256 + "</hashdigest>\n";
    } else if (!source.digestsOmitted.empty()) {
        std::string why = escape(source.digestsOmitted, needsBackslashEscapes(source.digestsOmitted));
        for (std::size_t dash = why.find("--"); dash != std::string::npos; dash = why.find("--", dash)) {
            why.replace(dash, 2, "- -"); // a comment cannot hold two dashes running
        }
        head += "    <!-- no hashdigest of the image: " + why + " -->\n";
    }
    if (!source.storedMd5.empty()) {
        head += element("    ", "acquisition_hashdigest", source.storedMd5, {{"type", "md5"}});
    }
    for (const auto& [name, value] : source.acquisition) {
        head += element("    ", "acquisition_data", value, {{"name", name}});
    }
    head += "  </source>\n";

    OutputFile out;
    const bool created = out.open(path_, OutputFile::Mode::CreateNew);
    bool ok = created && out.write(head.data(), head.size());
    std::string block(1 << 16, '\0');
    for (std::uint64_t at = 0; ok && at < objectBytes_; at += block.size()) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), objectBytes_ - at));
        ok = objects_.readAt(at, block.data(), n) && out.write(block.data(), n);
        going();
    }
    going();
    std::string tail = element("  ", "run_status", complete ? "complete" : "incomplete");
    if (complete) {
        const ResourceUsage usage = resourceUsage();
        auto seconds = [](std::uint64_t microseconds) {
            return std::to_string(microseconds / 1000000) + "." +
                   std::to_string(1000000 + microseconds % 1000000).substr(1);
        };
        tail += "  <rusage>\n" + element("    ", "utime", seconds(usage.userMicroseconds)) +
                element("    ", "stime", seconds(usage.systemMicroseconds)) +
                element("    ", "maxrss", std::to_string(usage.peakResidentKiB)) + "  </rusage>\n";
    }
    tail += "</dfxml>\n";
    ok = ok && out.write(tail.data(), tail.size());
    const int writeError = out.error();
    if (!out.close() || !ok) {
        failure_ = systemErrorText(writeError != 0 ? writeError : out.error() != 0 ? out.error() : EIO);
        if (created) {
            removeFile(path_); // a cut document is no report
        }
        objects_.close();
        return false;
    }
    objects_.close();
    objectBytes_ = 0;
    return true;
}

void DfxmlReport::abandon() {
    active_ = false;
    objects_.close();
    objectBytes_ = 0;
    lastVerdictPlace_ = 0;
    scratchError_ = 0;
    failure_.clear();
}

} // namespace morrow
