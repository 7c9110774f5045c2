#include "Catalog.h"

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
    return c;
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
