#include "Catalog.h"

#include "formats/AsfExtent.h"
#include "formats/BmpExtent.h"
#include "formats/CompoundDocAnalysis.h"
#include "formats/GifExtent.h"
#include "formats/JpegExtent.h"
#include "formats/PdfExtent.h"
#include "formats/PngExtent.h"
#include "formats/PsdExtent.h"
#include "formats/QuickTimeExtent.h"
#include "formats/RiffExtent.h"
#include "formats/TiffExtent.h"
#include "formats/ZipExtent.h"

#include <algorithm>

namespace morrow {

namespace {

using CS = CarveState;
using CF = CarverFamily;
using EE = ExactEnds;

// clang-format off
const KindInfo table[] = {
    {kind::Bmp, "BMP Files", 0, &CS::bmpSelected, true, {"bmp"}, "BMP",
     "BMPFile", ".bmp", "424D" /* BM */, nullptr, "",
     CF::SizeDriven, false, nullptr, false, false, 0, &EE::structural<&BmpExtent::measure>, false, nullptr},
    {kind::Gif, "GIF Files", 1, &CS::gifSelected, true, {"gif"}, "GIF",
     "GIFFile", ".gif", "47494638" /* GIF8 */, nullptr, "3B" /* trailer */,
     CF::HeaderFooter, false, nullptr, false, false, 0, &EE::structural<&GifExtent::measure>, false, nullptr},
    {kind::Jpeg, "JPEG Files", 2, &CS::jpegSelected, true, {"jpeg", "jpg"}, "JPEG",
     "JPEGFile", ".jpg", "FFD8FF" /* SOI + marker */, nullptr, "FFD9" /* EOI */,
     CF::HeaderFooter, false, nullptr, false, false, 0, &EE::structural<&JpegExtent::measure>, false, nullptr},
    // Both byte orders of TIFF as its header really is in the exact mode ("MM" 00 2A, "II" 2A 00,
    // and 2B for BigTIFF).
    {kind::Tiff, "TIFF Files", 5, &CS::tiffSelected, true, {"tiff", "tif"}, "TIFF",
     "TIFFile", ".tif", "4D4D2A,4949,492049" /* MM*, II, I I */, "4D4D002A,49492A00,4D4D002B,49492B00",
     "4D49423874746150",
     CF::HeaderFooter, false, nullptr, false, true, 0, &EE::structural<&TiffExtent::measure>, true, &TiffExtent::parts},
    {kind::Png, "PNG Files", 3, &CS::pngSelected, true, {"png"}, "PNG",
     "PNGFile", ".png", "89504E470D0A1A0A", nullptr, "49454E44" /* IEND */,
     CF::HeaderFooter, false, nullptr, false, false, 4, &EE::structural<&PngExtent::measure>, false, nullptr},
    {kind::Psd, "PSD Files", 4, &CS::psdSelected, true, {"psd"}, "PSD",
     "PSDFile", ".psd", "38425053" /* 8BPS */, nullptr, "",
     CF::SizeDriven, false, nullptr, false, false, 0, &EE::structural<&PsdExtent::measure>, true, &PsdExtent::parts},
    {kind::CompoundDoc, "Compound Doc Files", 6, &CS::compoundDocSelected, false, {"cdoc", "doc", "xls", "ppt"},
     "compound documents",
     "CDocFile", "", "D0CF11E0A1B11AE1", nullptr, "",
     CF::CompoundDoc, false, nullptr, false, false, 0, nullptr, true, &CompoundDocAnalysis::parts},
    {kind::Pdf, "PDF Files", 7, &CS::pdfSelected, false, {"pdf"}, "PDF",
     "PDFFile", ".pdf", "25504446" /* %PDF */, nullptr, "2525454F46" /* %%EOF */,
     CF::SizeDriven, true, nullptr, false, false, 0, &EE::structural<&PdfExtent::measure>, true, &PdfExtent::parts},
    // An HTML page in the exact mode may open with a byte-order mark, white space, an XML
    // declaration or a comment, so every sector starting with one of those is a candidate, which
    // the reader then judges.
    {kind::Html, "HTML Files", 8, &CS::htmlSelected, false, {"html", "htm"}, "HTML",
     "HTMLFile", ".html", "3C21444F4354595045,3C48544D4C3E,3C68746D6C3E,3C21646F6374797065", "3C,EFBBBF,20,09,0A,0D",
     "3C2F68746D6C3E" /* </html> */,
     CF::HeaderFooter, false, nullptr, false, true, 0, &EE::html, false, nullptr},
    {kind::Zip, "ZIP Files", 9, &CS::zipSelected, false, {"zip"}, "ZIP",
     "ZIPFile", ".zip", "504B0304" /* PK 03 04 */, nullptr, "",
     CF::SizeDriven, false, nullptr, false, false, 0, nullptr, true, &ZipExtent::parts},
    {kind::VideoRiff, "Video Files", 10, &CS::videoSelected, false, {"video", "avi", "dat"}, "AVI/DAT",
     "VideoFiles", "", "52494646" /* RIFF */, nullptr, "",
     CF::SizeDriven, false, "(AVI,DAT)", false, false, 0, &EE::structural<&RiffExtent::measure>, true,
     &RiffExtent::parts},
    {kind::VideoQuickTime, "Video Files", 10, &CS::videoSelected, false, {"mp4", "mov", "3gp"}, "MP4/3GP/MOV",
     "VideoFiles", "", "66747970" /* ftyp, 4 bytes in */, nullptr, "",
     CF::SizeDriven, false, "(MP4,3GP,MOV)", true, false, 0, &EE::structural<&QuickTimeExtent::measure>, true, &QuickTimeExtent::parts},
    {kind::VideoAsf, "Video Files", 10, &CS::videoSelected, false, {"wmv"}, "WMV",
     "VideoFiles", ".wmv", "3026B2758E66CF11" /* ASF header object */, nullptr, "",
     CF::SizeDriven, false, "(WMV)", false, false, 0, &EE::structural<&AsfExtent::measure>, true,
     &AsfExtent::parts},
};
// clang-format on

static_assert(std::size(table) == kind::count, "one row per kind");

std::vector<std::string> rowNames(bool picturesOnly) {
    std::vector<std::string> names;
    for (int position = 0;; ++position) {
        auto row = std::find_if(std::begin(table), std::end(table),
                                [&](const KindInfo& k) { return k.listPosition == position; });
        if (row == std::end(table)) {
            return names;
        }
        if (!picturesOnly || row->picture) {
            names.emplace_back(row->rowText);
        }
    }
}

} // namespace

std::span<const KindInfo> kindTable() {
    return table;
}

const KindInfo& kindInfo(FileTypeId id) {
    return table[id];
}

const std::vector<std::string>& kindRowNames() {
    static const std::vector<std::string> names = rowNames(false);
    return names;
}

const std::vector<std::string>& pictureRowNames() {
    static const std::vector<std::string> names = rowNames(true);
    return names;
}

std::vector<std::string> kindWords() {
    std::vector<std::string> words;
    for (const KindInfo& k : table) {
        for (const char* word : k.words) {
            if (word != nullptr) {
                words.emplace_back(word);
            }
        }
    }
    words.emplace_back("pictures");
    words.emplace_back("all");
    return words;
}

std::vector<std::string> rowsForWord(const std::string& word) {
    if (word == "all") {
        return kindRowNames();
    }
    if (word == "pictures") {
        return pictureRowNames();
    }
    for (const KindInfo& k : table) {
        if (std::any_of(k.words.begin(), k.words.end(),
                        [&](const char* w) { return w != nullptr && word == w; })) {
            return {k.rowText};
        }
    }
    return {};
}

} // namespace morrow
