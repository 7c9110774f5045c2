// Digital Forensics XML, schema version 1.2.0 (the DFXML working group's dfxml.xsd): the root
// element in the DFXML namespace holding metadata (Dublin Core), creator, source, one fileobject
// per carved file with its byte_runs and hashdigests, and rusage.
#include "output/DfxmlReport.h"

#include "base/Limits.h"
#include "base/Text.h"
#include "platform/OutputFile.h"
#include "platform/SystemInfo.h"

#include <cerrno>
#include <zlib.h>

namespace morrow {

namespace {

std::string element(const std::string& indent, const std::string& name, const std::string& value) {
    return indent + "<" + name + ">" + DfxmlReport::escape(value) + "</" + name + ">\n";
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

} // namespace

std::string DfxmlReport::escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '"') {
            out += "&quot;";
        } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out += "&#x24";
            out.push_back(upperHexDigits[c >> 4]);
            out.push_back(upperHexDigits[c & 15]);
            out.push_back(';');
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            // A whole UTF-8 sequence is kept; a byte that starts none is written as a reference.
            std::size_t length = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
            bool valid = length != 0 && i + length <= text.size();
            for (std::size_t k = 1; valid && k < length; ++k) {
                valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            }
            if (valid) {
                out.append(text, i, length);
                i += length;
                continue;
            }
            out += "&#x";
            out.push_back(upperHexDigits[c >> 4]);
            out.push_back(upperHexDigits[c & 15]);
            out.push_back(';');
        }
        ++i;
    }
    return out;
}

bool DfxmlReport::begin(const std::string& path, DfxmlCreator creator) {
    abandon();
    path_ = path;
    creator_ = std::move(creator);
    if (!objects_.create()) {
        error_ = errno != 0 ? errno : EIO;
        return false;
    }
    active_ = true;
    return true;
}

void DfxmlReport::append(const std::string& text) {
    if (objectsFailed_ || !objects_.writeAt(objectBytes_, text.data(), text.size())) {
        objectsFailed_ = true;
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
    xml += "    <byte_runs>\n";
    std::uint64_t at = 0; // where the run starts in the carved file
    for (const ByteRun& run : file.runs) {
        const auto start = static_cast<std::uint64_t>(run.offset);
        const std::uint64_t inEvidence = start >= evidenceSize ? 0 : std::min(run.length, evidenceSize - start);
        if (inEvidence > 0) {
            xml += "      <byte_run offset=\"" + std::to_string(at) + "\" img_offset=\"" + std::to_string(start) +
                   "\" len=\"" + std::to_string(inEvidence) + "\"/>\n";
        }
        if (inEvidence < run.length) {
            // Zeros written for what the file claims past the end of the evidence.
            xml += "      <byte_run offset=\"" + std::to_string(at + inEvidence) + "\" fill=\"0\" len=\"" +
                   std::to_string(run.length - inEvidence) + "\"/>\n";
        }
        at += run.length;
    }
    xml += "    </byte_runs>\n";
    if (digests != nullptr) {
        xml += "    <hashdigest type=\"md5\">" + digests->md5 + "</hashdigest>\n";
        xml += "    <hashdigest type=\"sha256\">" + digests->sha256 + "</hashdigest>\n";
    }
    xml += "  </fileobject>\n";
    append(xml);
}

bool DfxmlReport::finish(const DfxmlSource& source) {
    if (!active_) {
        return true;
    }
    active_ = false;
    if (objectsFailed_) {
        error_ = EIO;
        objects_.close();
        return false;
    }
    std::string head = "<?xml version='1.0' encoding='UTF-8'?>\n"
                       "<dfxml xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\" "
                       "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" version=\"1.2.0\">\n"
                       "  <metadata>\n    <dc:type>Carve Report</dc:type>\n  </metadata>\n"
                       "  <creator version=\"1.0\">\n";
    head += element("    ", "program", creator_.program);
    head += element("    ", "version", creator_.version);
    head += "    <build_environment>\n";
    head += element("      ", "compiler", compilerText());
    head += "      <library name=\"zlib\" version=\"" + escape(zlibVersion()) + "\"/>\n";
    head += "      <library name=\"OpenSSL\" version=\"" + escape(Digest::libraryVersion()) + "\"/>\n";
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
    }
    if (!source.storedMd5.empty()) {
        head += "    <acquisition_hashdigest type=\"md5\">" + escape(source.storedMd5) + "</acquisition_hashdigest>\n";
    }
    for (const auto& [name, value] : source.acquisition) {
        head += "    <acquisition_data name=\"" + escape(name) + "\">" + escape(value) + "</acquisition_data>\n";
    }
    head += "  </source>\n";

    OutputFile out;
    const bool created = out.open(path_, OutputFile::Mode::CreateNew);
    bool ok = created && out.write(head.data(), head.size());
    std::string block(1 << 16, '\0');
    for (std::uint64_t at = 0; ok && at < objectBytes_; at += block.size()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), objectBytes_ - at));
        ok = objects_.readAt(at, block.data(), n) && out.write(block.data(), n);
    }
    const ResourceUsage usage = resourceUsage();
    auto seconds = [](std::uint64_t microseconds) {
        return std::to_string(microseconds / 1000000) + "." + std::to_string(1000000 + microseconds % 1000000).substr(1);
    };
    const std::string tail = "  <rusage>\n" + element("    ", "utime", seconds(usage.userMicroseconds)) +
                             element("    ", "stime", seconds(usage.systemMicroseconds)) +
                             element("    ", "maxrss", std::to_string(usage.peakResidentKiB)) + "  </rusage>\n</dfxml>\n";
    ok = ok && out.write(tail.data(), tail.size());
    const int writeError = out.error();
    if (!out.close() || !ok) {
        error_ = writeError != 0 ? writeError : out.error() != 0 ? out.error() : EIO;
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
    objectsFailed_ = false;
    error_ = 0;
}

} // namespace morrow
