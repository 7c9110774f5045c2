#pragma once

#include "verify/CheckBasics.h"

#include <cstdint>
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

// A JPEG's scans decoded to at most maxJpegScans scans and maxJpegScanBlocks blocks in all (a
// block coded again in each scan that holds it): past them it is not checked, saying so.
FileVerdict checkJpeg(check::Bytes file);
FileVerdict checkPng(check::Bytes file);
// A GIF's frames decoded in turn while they hold maxGifPixels in all: those past it are not
// checked, saying so.
FileVerdict checkGif(check::Bytes file);
// A TIFF's pictures decoded in turn while they hold check::maxPixels in all, and maxTiffImages
// pictures at most: those past either are not checked, saying so.
FileVerdict checkTiff(check::Bytes file);
// Page by page, at most maxPdfPages pages and maxPdfSeconds of parsing: what lies past them is
// taken as it is. A file whose pages' forms, drawn as often as they are called, would run more
// than maxPdfFormOperators operators (pdf::countDraws) is not checked, saying so.
FileVerdict checkPdf(check::Bytes file);

// A progressive JPEG codes each block once per scan of its component: ten scans or so in a
// photograph. Thousands of scans that each end every block at once cost minutes to decode.
inline constexpr int maxJpegScans = 1000;
// 128 passes over every block of a component of the largest picture decoded (check::maxPixels in
// 8 by 8 blocks): four times the scans of a progressive CMYK photograph that large, and under a
// second of decoding.
inline constexpr std::uint64_t maxJpegScanBlocks = check::maxPixels / 64 * 128;
inline constexpr int maxTiffImages = 1000;
// LZW codes a run of one colour some 2700 times smaller than its pixels: a GIF of a few MiB may
// claim frames of billions of pixels. Four pictures of the largest size decoded, a few seconds.
inline constexpr std::uint64_t maxGifPixels = 4 * check::maxPixels;
inline constexpr int maxPdfPages = 2000;
inline constexpr std::uint64_t maxPdfFormOperators = 1'000'000;
inline constexpr int maxPdfSeconds = 20;

} // namespace decoder

} // namespace morrow
