// Carves the kinds whose end is marked by a footer: GIF, JPEG, TIFF, PNG, HTML, and the PDF files
// whose length the size-driven pass could not read. Each file runs from its header at a sector
// start to the end of the first footer found after it, searched block by block; without a footer
// it gets the maximum size, or what is left of the evidence.
#include "HeaderFooterCarver.h"

#include "CandidateLoop.h"
#include "CarveEngine.h"
#include "HeaderScan.h"
#include "HexText.h"
#include "PatternSearch.h"
#include "formats/ExactEnds.h"
#include "formats/JpegValidator.h"

#include <algorithm>
#include <array>
#include <vector>

namespace morrow {

namespace {

constexpr std::int64_t blockSize = 32768;
constexpr std::size_t printableWindow = 16;
// The IEND chunk's CRC follows its type; without it a PNG reader rejects the file.
constexpr std::int64_t pngCrcBytes = 4;

// Every way out of a pass leaves both candidate lists empty, so the next pass and the next
// evidence file never see stale offsets.
struct CandidateListsGuard {
    CarveState& state;
    ~CandidateListsGuard() {
        state.headerIndex.clear();
        state.pdfHeaderIndex.clear();
    }
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

bool HeaderFooterCarver::carve(CarveEngine& engine, const CarvePass& pass) {
    CarveState& st = engine.state();
    CarveHost& host = engine.host();
    CandidateListsGuard guard{st};

    const bool isJpeg = pass.type == kind::Jpeg;
    const bool isGif = pass.type == kind::Gif;
    const bool isHtml = pass.type == kind::Html;
    const bool isPdf = pass.type == kind::Pdf;
    const bool isPng = pass.type == kind::Png;
    const bool labelled = isHtml || pass.type == kind::Tiff;
    // A GIF trailer 3B is an everyday byte inside image data; only after the block terminator 00
    // does it end the file. Other kinds' footers are taken as they come.
    const bool zeroBeforeFooter = isGif;

    // Upper-case closing tag, tried in full blocks only.
    const PreparedPattern upperHtmlFooter(std::string("</HTML>"));
    // A kind without a footer searches for nothing.
    const PreparedPattern footer(HexText::toBytes(pass.footerSignature));
    const std::int64_t f = footer.length();

    EvidenceReader* opened = engine.openEvidence(pass.evidencePath);
    if (opened == nullptr) {
        return false;
    }
    EvidenceReader& evidence = *opened;
    const auto E = static_cast<std::int64_t>(evidence.size());
    const auto M = static_cast<std::int64_t>(st.maxFileSizeBytes);

    std::int32_t pdfNumber = st.pdfCarvedBySize;
    std::int64_t fileNumber = 0;
    std::vector<unsigned char> block(static_cast<std::size_t>(blockSize));

    for (int n = 1;; ++n) {
        const std::string headerText = HexText::listField(pass.headerSignature, n, ',');
        if (headerText.empty()) {
            break;
        }
        if (labelled) {
            st.passLabel = "(" + std::to_string(n) + ")";
        }
        const std::string header = pass.headerBytes(headerText);
        const int headerLength = static_cast<int>(header.size());

        if (!isPdf) {
            HeaderScan::run(engine, pass.evidencePath, pass.kindTag, header);
        }
        const OffsetList& candidates = isPdf ? st.pdfHeaderIndex : st.headerIndex;
        const auto count = static_cast<std::int64_t>(candidates.size());

        if (count > 0) {
            host.setStatusText("");
            host.setStatusText("Please wait...");
            CandidateLoop loop(engine, pass.kindTag, count);
            ExactWalks walks(pass.type, evidence, candidates, static_cast<std::uint64_t>(M));
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
                    if (!extent) {
                        continue;
                    }
                    const auto length =
                        std::min<std::uint64_t>(extent.length, static_cast<std::uint64_t>(std::max<std::int64_t>(0, E - H)));
                    const std::int64_t exactNumber = isPdf ? pdfNumber++ : fileNumber++;
                    if (!engine.carve(pass, exactNumber, H, length, length, pass.extension)) {
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
                    evidence.readAt(S + static_cast<std::int64_t>(headerText.size()), window.data(), window.size());
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
                    std::int64_t tail = isPng ? pngCrcBytes : 0;
                    length = std::min(P - H + f + tail, remaining);
                    freeSpace = P - H + tail;
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
                        const auto match =
                            footer.find(block.data(), W, static_cast<std::uint32_t>(tailBytes), zeroBeforeFooter);
                        if (match && *match - H < M) {
                            footerEnd(*match);
                        }
                    }
                }

                if (!engine.carve(pass, number, H, static_cast<std::uint64_t>(length),
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

        st.headerIndex.clear();
        st.pdfHeaderIndex.clear();
        host.setProgressPos(0);
        if (st.scanAborted == 1) {
            return false;
        }
    }
    return true;
}

} // namespace morrow
