#pragma once

#include "base/FileType.h"
#include "output/FileVerdict.h"
#include "verify/CheckBasics.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace morrow {

// Whether a carved file opens: the file read back whole and handed to the check of its kind
// (DecoderChecks, ContainerChecks, RasterChecks, MovieCheck). Kinds without a check (HTML, AVI,
// ASF; the pictures and PDFs in a build without the format libraries) are not checked, nor are
// files larger than check::maxFileBytes. A check never throws: what it cannot decide is "not
// checked".
class FileCheck {
  public:
    static FileVerdict check(check::Bytes file, FileTypeId type);
    // The file written at `path` (UTF-8), read back whole and handed to `run` (check itself, or
    // a check made elsewhere: a worker process). One that cannot be read back is damaged, named so.
    using Run = std::function<FileVerdict(check::Bytes, FileTypeId)>;
    static FileVerdict checkFile(const std::string& path, FileTypeId type, const Run& run = {});
    // Whether this build checks files of `type`.
    static bool checks(FileTypeId type);
    // What this build checks and with what, for --version: "carved-file checks: ..." lines.
    static std::string describe();
    // The format libraries the checks decode with, as name and version (none without them).
    static std::vector<std::pair<std::string, std::string>> libraries();
};

} // namespace morrow
