// The ZIP walk over a fuzzed archive whose first local file header sits at offset 0, and the
// exact mode's walk and naming of what it found.
#include "FuzzSupport.h"
#include "formats/ZipClassifier.h"
#include "formats/ZipExtent.h"

#include <set>
#include <string>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const ZipExtent::Result zip = ZipExtent::measure(input.reader, 0);
    if (zip.extent) {
        // The end record was found in the evidence, after at least one local header; the archive
        // ends 22 bytes after its start and the walk resumes there.
        const std::uint64_t end = zip.extent.length;
        fuzz::check(end >= 30 + 22 && end - 22 + 4 <= size, "end record outside the evidence");
        const std::uint8_t* record = data + (end - 22);
        fuzz::check(record[0] == 0x50 && record[1] == 0x4B && record[2] == 0x05 && record[3] == 0x06,
                    "the extent does not end 22 bytes after an end record");
        fuzz::check(zip.resumeOffset == end, "resume offset is not the end of the archive");
    } else {
        fuzz::check(zip.resumeOffset < size || zip.resumeOffset == 0, "resume offset past the evidence");
    }

    static const std::set<std::string> extensions = {".zip", ".docx", ".xlsx", ".pptx", ".odt", ".ods",
                                                     ".odp", ".odg",  ".epub", ".jar",  ".apk"};
    const ZipExtent::Result exact = ZipExtent::measure(input.reader, 0, true);
    fuzz::check(exact.directory < size, "directory past the evidence");
    const std::uint64_t length = exact.extent ? ZipExtent::lengthWithComment(input.reader, 0, exact) : size;
    fuzz::check(extensions.count(ZipClassifier::classify(input.reader, 0, length, exact.directory)) == 1,
                "unknown extension");
    return 0;
}
