#pragma once

#include "verify/CheckBasics.h"

#include <string>

namespace morrow {

// The checks that decode a carved file with the library made for its format: JPEG with
// libjpeg-turbo, PNG with libpng, GIF with giflib, TIFF with libtiff and PDF with poppler. A build
// without them (MORROW_WITH_DECODERS off: the Windows build) has none, and each says "not
// checked". Every check decodes the whole file, keeps to check::maxPixels, and names the first
// fault and where it lies.
namespace decoder {

// Whether this build has the libraries.
bool builtIn();
// "libjpeg-turbo 2.1.5, libpng 1.6.39, ..." for --version, or empty.
std::string versions();

FileVerdict checkJpeg(check::Bytes file);
FileVerdict checkPng(check::Bytes file);
FileVerdict checkGif(check::Bytes file);
FileVerdict checkTiff(check::Bytes file);
// Page by page, at most maxPdfPages pages and maxPdfSeconds of parsing: what lies past them is
// taken as it is.
FileVerdict checkPdf(check::Bytes file);

inline constexpr int maxPdfPages = 2000;
inline constexpr int maxPdfSeconds = 20;

} // namespace decoder

} // namespace morrow
