#pragma once

#include <string>
#include <vector>

namespace morrow {

// The index of a carvable kind. The "Video Files" row of the kind list covers three entries
// (10, 11 and 12), one per container family.
using FileTypeId = int;

namespace kind {
inline constexpr FileTypeId Bmp = 0;
inline constexpr FileTypeId Gif = 1;
inline constexpr FileTypeId Jpeg = 2;
inline constexpr FileTypeId Tiff = 3;
inline constexpr FileTypeId Png = 4;
inline constexpr FileTypeId Psd = 5;
inline constexpr FileTypeId CompoundDoc = 6;
inline constexpr FileTypeId Pdf = 7;
inline constexpr FileTypeId Html = 8;
inline constexpr FileTypeId Zip = 9;
inline constexpr FileTypeId VideoRiff = 10;
inline constexpr FileTypeId VideoQuickTime = 11;
inline constexpr FileTypeId VideoAsf = 12;
} // namespace kind

// Header and footer signatures as upper-case hex text. A header entry may hold several
// alternatives separated by commas (TIFF, HTML). There are footer entries for kinds 0 to 9 only;
// an empty entry means the kind has no footer.
struct FileTypeCatalog {
    std::vector<std::string> headerSignatures; // 13 entries, index = FileTypeId
    std::vector<std::string> footerSignatures; // 10 entries, index = FileTypeId 0..9
    // The header signatures of the exact-ends mode, where they differ (13 entries; empty: the
    // same as headerSignatures). Their 00 bytes are real zeros.
    std::vector<std::string> exactHeaderSignatures;

    static FileTypeCatalog standard();
};

// The kind list's row texts, in the order they are added to the list. These texts are the keys by
// which a run finds the selected kinds, so they must stay exactly as written.
const std::vector<std::string>& kindRowNames();

// The six rows that "All Picture Files" ticks.
const std::vector<std::string>& pictureRowNames();

// What a carver receives for one pass over one evidence file. All texts are UTF-8.
struct CarvePass {
    FileTypeId type = 0;         // the kind this pass carves
    std::string kindTag;         // the kind's word in carved file names, e.g. "JPEGFile"
    std::string extension;       // with its leading dot, or empty when the carver picks it
    std::string headerSignature; // hex text, possibly a comma list
    std::string footerSignature; // hex text or empty; unused by the compound document carver
    std::string evidencePath;
    bool exactEnds = false;      // the run's exact-ends mode: ends by each file's own structure

    // The bytes of one header signature of this pass as the scan compares them.
    std::string headerBytes(const std::string& hex) const;
};

} // namespace morrow
