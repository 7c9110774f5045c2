// Carves the kinds whose end is marked by a footer: GIF, JPEG, TIFF, PNG, HTML, and the PDF files
// whose length the size-driven pass could not read. Each file runs from its header at a sector
// start to the end of the first footer found after it, searched block by block; without a footer
// it gets the maximum size, or what is left of the evidence.
#include "carve/HeaderFooterCarver.h"

#include "carve/CandidateLoop.h"
#include "carve/CarvePass.h"
#include "carve/HeaderScan.h"
#include "carve/PassContext.h"
#include "evidence/EvidenceReader.h"
#include "formats/ExactEnds.h"
#include "formats/HtmlExtent.h"
#include "formats/JpegValidator.h"
#include "search/HexText.h"
#include "search/PatternSearch.h"

#include <algorithm>
#include <array>
#include <vector>

namespace morrow {

namespace {

constexpr std::int64_t blockSize = 32768;
constexpr std::size_t printableWindow = 16;

// Every way out of a pass leaves the PDF candidates empty, so the next pass and the next
// evidence file never see stale offsets.
struct CandidateListsGuard {
    OffsetList& pdfHeaders;
    ~CandidateListsGuard() { pdfHeaders.clear(); }
};

bool printableAscii(const unsigned char* bytes, std::size_t count) {
    return std::all_of(bytes, bytes + count, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

// The GIF header is "GIF87a" or "GIF89a"; "GIF8" is the signature, the version follows.
bool gifVersionKnown(EvidenceReader& evidence, std::int64_t start) {
    unsigned char version[2];
    evidence.readAt(start + 4, version, 2);
    return (version[0] == '7' || version[0] == '9') && version[1] == 'a';
}

} // namespace

bool HeaderFooterCarver::carve(PassContext& context, const CarvePass& pass) {
    PassDisplay& host = context.display();
    CandidateListsGuard guard{context.pdfHeaderIndex()};

    const bool isJpeg = pass.type == kind::Jpeg;
    const bool isGif = pass.type == kind::Gif;
    const bool isHtml = pass.type == kind::Html;
    const bool isPdf = pass.type == kind::Pdf;
    // The bytes after the footer that belong to the file: the IEND chunk's CRC follows its
    // type, and without it a PNG reader rejects the file.
    const std::int64_t footerTail = pass.footerTail;
    // A GIF trailer 3B is an everyday byte inside image data; only after the block terminator 00
    // does it end the file. Other kinds' footers are taken as they come.
    const bool zeroBeforeFooter = isGif;

    // Upper-case closing tag, tried in full blocks only.
    const PreparedPattern upperHtmlFooter(std::string("</HTML>"));
    // A kind without a footer searches for nothing.
    const PreparedPattern footer(HexText::toBytes(pass.footerSignature));
    const std::int64_t f = footer.length();

    EvidenceReader* opened = context.openEvidence(pass.evidencePath);
    if (opened == nullptr) {
        return false;
    }
    EvidenceReader& evidence = *opened;
    const auto E = static_cast<std::int64_t>(evidence.size());
    const auto M = static_cast<std::int64_t>(pass.maxFileSizeBytes);

    std::int32_t pdfNumber = context.pdfCarvedBySize();
    std::int64_t fileNumber = 0;
    std::vector<unsigned char> block(static_cast<std::size_t>(blockSize));

    for (int n = 1;; ++n) {
        const std::string headerText = HexText::listField(pass.headerSignature, n, ',');
        if (headerText.empty()) {
            break;
        }
        const std::string label = pass.labelsAlternatives ? "(" + std::to_string(n) + ")" : pass.passLabel;
        const std::string header = pass.headerBytes(headerText);
        const int headerLength = static_cast<int>(header.size());

        HeaderScan::Result scan;
        if (!isPdf) {
            scan = HeaderScan::run(context, evidence, pass.evidencePath, pass.kindTag + label,
                                   HeaderKey{header, pass.headerShifted,
                                             pass.exactEnds && isHtml ? &HtmlExtent::opensPage : nullptr});
        }
        // An exact-ends HTML pass takes the sectors that open with white space or "<" and may
        // open a page by their first bytes: those that open none, read in full as no stretch of
        // the walks reads them (bytes past a stretch read as zeros, which are no text), are left
        // out before the walks.
        if (pass.exactEnds && isHtml) {
            OffsetList pages;
            for (std::size_t k = 0; k < scan.matches.size(); ++k) {
                const std::int64_t at = scan.matches[k];
                if (HtmlExtent::startsDocument(evidence, at)) {
                    pages.push_back(at);
                }
            }
            scan.matches = std::move(pages);
        }
        const OffsetList& candidates = isPdf ? context.pdfHeaderIndex() : scan.matches;
        const auto count = static_cast<std::int64_t>(candidates.size());

        if (count > 0) {
            host.setStatusText("");
            host.setStatusText("Please wait...");
            CandidateLoop loop(context, pass.kindTag, count);
            ExactWalks walks(pass.exactReader, evidence, candidates, static_cast<std::uint64_t>(M));
            loop.setRange();
            loop.show();
            for (std::int64_t i = 0; i < count; ++i) {
                const std::int64_t H = candidates[static_cast<std::size_t>(i)];
                if (!loop.next(i, i)) {
                    return false;
                }
                if (pass.exactEnds) {
                    // The file's own structure decides; a candidate that is none takes no number.
                    const Extent extent = walks.measure(static_cast<std::size_t>(i));
                    // A JPEG's walk reads its scan only for markers, and runs through a gap of
                    // zeros or of another file's data to the next piece's EOI: only decoding
                    // tells that such an extent is no picture.
                    // A PDF's walk runs through a gap to the next piece's %%EOF: only its
                    // cross-reference offsets tell.
                    if (pass.reassemble && (!extent || extent.truncated || isJpeg || isPdf)) {
                        std::vector<ByteRun> joined;
                        const std::int64_t number = isPdf ? pdfNumber : fileNumber;
                        if (!context.carveJoined(pass, evidence, number, H, pass.extension, joined)) {
                            return false;
                        }
                        if (!joined.empty()) {
                            isPdf ? ++pdfNumber : ++fileNumber;
                            continue;
                        }
                    }
                    if (!extent) {
                        continue;
                    }
                    const auto length = std::min<std::uint64_t>(
                        extent.length, static_cast<std::uint64_t>(std::max<std::int64_t>(0, E - H)));
                    const std::int64_t exactNumber = isPdf ? pdfNumber++ : fileNumber++;
                    if (!context.carve(pass, exactNumber, H, length, length, pass.extension)) {
                        return false;
                    }
                    continue;
                }
                std::int64_t number = fileNumber;
                if (isPdf) {
                    number = pdfNumber++;
                }

                std::int64_t R = E - H;
                // The JPEG search starts at the start of scan, past any thumbnail in the header
                // segments; D is how far the search runs ahead of the header.
                std::int64_t S = H;
                if (isJpeg) {
                    const auto scanStart = JpegValidator::check(evidence, H, headerLength);
                    if (!scanStart) {
                        continue;
                    }
                    S = *scanStart;
                }
                std::int64_t D = S - H;

                if (isHtml) {
                    // The window sits as many bytes after the header as the header text has hex
                    // digits: for <html> that is the 16 bytes from H + 12.
                    std::array<unsigned char, printableWindow> window{};
                    evidence.readAt(S + static_cast<std::int64_t>(headerText.size()), window.data(),
                                    window.size());
                    if (!printableAscii(window.data(), window.size())) {
                        continue;
                    }
                }
                if (isGif && !gifVersionKnown(evidence, S)) {
                    continue;
                }

                // Decide the extent. Nothing is written past the end of the evidence: those
                // bytes do not exist, and zeros in their place would pass for carved data.
                const std::int64_t remaining = std::max<std::int64_t>(0, E - H);
                const std::int64_t capped = std::min(M, remaining);
                std::int64_t length = capped;
                std::int64_t freeSpace = capped;
                auto footerEnd = [&](std::int64_t P) {
                    length = std::min(P - H + f + footerTail, remaining);
                    freeSpace = P - H + footerTail;
                };

                std::int64_t W = S;
                bool decided = false;
                while (R > blockSize) {
                    if (D > M) {
                        decided = true; // length = min(M, what is left)
                        break;
                    }
                    evidence.readAt(W, block.data(), block.size());
                    const auto n32 = static_cast<std::uint32_t>(block.size());
                    auto match = footer.find(block.data(), W, n32, zeroBeforeFooter);
                    if (!match && isHtml) {
                        match = upperHtmlFooter.find(block.data(), W, n32);
                    }
                    if (match) {
                        footerEnd(*match);
                        decided = true;
                        break;
                    }
                    W += blockSize;
                    D += blockSize;
                    R -= blockSize;
                }
                if (!decided) {
                    // The last block: only the bytes up to the end of the evidence are searched.
                    const std::int64_t tailBytes = std::clamp<std::int64_t>(E - W, 0, blockSize);
                    if (tailBytes > 0) {
                        evidence.readAt(W, block.data(), static_cast<std::size_t>(tailBytes));
                        const auto match = footer.find(block.data(), W, static_cast<std::uint32_t>(tailBytes),
                                                       zeroBeforeFooter);
                        if (match && *match - H < M) {
                            footerEnd(*match);
                        }
                    }
                }

                if (!context.carve(pass, number, H, static_cast<std::uint64_t>(length),
                                   static_cast<std::uint64_t>(freeSpace), pass.extension)) {
                    return false;
                }
                if (!isPdf) {
                    ++fileNumber;
                }
            }
            host.setProgressPos(0);
            loop.hide();
        }

        context.pdfHeaderIndex().clear();
        host.setProgressPos(0);
        if (context.scanAborted()) {
            return false;
        }
    }
    return true;
}

} // namespace morrow
