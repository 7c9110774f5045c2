#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morrow {

class EvidenceReader;

// Chooses the extension of a carved ZIP archive (the exact-ends mode) from what it holds: office
// documents, OpenDocument files, e-books, Java archives and Android packages are ZIP archives
// that their programs know only by their own extension. ".docx", ".xlsx", ".pptx" ([Content_Types].xml
// and the main part), ".odt", ".ods", ".odp", ".odg", ".epub" (the stored `mimetype` member),
// ".apk" (AndroidManifest.xml), ".jar" (META-INF/MANIFEST.MF), else ".zip".
class ZipClassifier {
  public:
    // The member names that tell the kinds apart, and the `mimetype` member's bytes.
    struct Members {
        bool contentTypes = false;
        bool wordDocument = false;
        bool workbook = false;
        bool presentation = false;
        bool javaManifest = false;
        bool androidManifest = false;
        std::string mimetype;

        void note(std::string_view name);
    };

    static std::string extension(const Members& members);

    // The archive's `length` bytes at H (as carved). `directory` is the offset in the evidence
    // of the central directory the walk ended with, or 0 when it found none of this archive's;
    // then the local headers are read from H on. Reads stay inside the archive.
    static std::string classify(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                                std::uint64_t directory);

    // Entries examined at most: the names that matter come early in every archive seen, and a
    // hostile directory of a million entries costs no more than this.
    static constexpr std::size_t maxEntries = 4096;
};

} // namespace morrow
