#include "Catalog.h"

#include "HexText.h"

namespace morrow {

FileTypeCatalog FileTypeCatalog::standard() {
    FileTypeCatalog c;
    c.headerSignatures = {
        "424D",                                                                    // BM
        "47494638",                                                                // GIF8
        "FFD8FF",                                                                  // JPEG SOI + marker
        "4D4D2A,4949,492049",                                                      // MM*, II, I I
        "89504E470D0A1A0A",                                                        // PNG
        "38425053",                                                                // 8BPS
        "D0CF11E0A1B11AE1",                                                        // compound document
        "25504446",                                                                // %PDF
        "3C21444F4354595045,3C48544D4C3E,3C68746D6C3E,3C21646F6374797065",          // HTML
        "504B0304",                                                                // PK 03 04
        "52494646",                                                                // RIFF
        "66747970",                                                                // ftyp, 4 bytes in
        "3026B2758E66CF11",                                                        // ASF header object
    };
    c.footerSignatures = {
        "",                 // BMP
        "3B",               // GIF trailer
        "FFD9",             // JPEG EOI
        "4D49423874746150", // TIFF
        "49454E44",         // PNG IEND
        "",                 // PSD
        "",                 // compound document
        "2525454F46",       // %%EOF
        "3C2F68746D6C3E",   // </html>
        "",                 // ZIP
    };
    // Both byte orders of TIFF as its header really is ("MM" 00 2A, "II" 2A 00, and 2B for BigTIFF); an HTML page may
    // open with a byte-order mark, white space, an XML declaration or a comment, so every sector
    // starting with one of those is a candidate, which the reader then judges.
    c.exactHeaderSignatures.assign(13, std::string());
    c.exactHeaderSignatures[kind::Tiff] = "4D4D002A,49492A00,4D4D002B,49492B00";
    c.exactHeaderSignatures[kind::Html] = "3C,EFBBBF,20,09,0A,0D";
    return c;
}

std::string CarvePass::headerBytes(const std::string& hex) const {
    return exactEnds ? HexText::toRawBytes(hex) : HexText::toBytes(hex);
}

const std::vector<std::string>& kindRowNames() {
    static const std::vector<std::string> names = {
        "BMP Files", "GIF Files", "JPEG Files", "PNG Files",  "PSD Files",   "TIFF Files",
        "Compound Doc Files", "PDF Files", "HTML Files", "ZIP Files", "Video Files",
    };
    return names;
}

const std::vector<std::string>& pictureRowNames() {
    static const std::vector<std::string> names = {
        "BMP Files", "GIF Files", "JPEG Files", "PNG Files", "PSD Files", "TIFF Files",
    };
    return names;
}

} // namespace morrow
