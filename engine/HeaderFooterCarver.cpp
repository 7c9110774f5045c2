// Carves the kinds whose end is marked by a footer: GIF, JPEG, TIFF, PNG, HTML, and the PDF files
// whose length the size-driven pass could not read. Each file runs from its header at a sector
// start to the end of the first footer found after it, searched block by block; without a footer
// it gets the maximum size, or what is left of the evidence.
#include "HeaderFooterCarver.h"

#include "CarveEngine.h"
#include "HeaderScan.h"
#include "HexText.h"
#include "JpegValidator.h"
#include "PatternSearch.h"

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
bool gifVersionKnown(Evidence& evidence, std::int64_t start) {
    unsigned char version[2];
    evidence.readAt(start + 4, version, 2);
    return (version[0] == '7' || version[0] == '9') && version[1] == 'a';
}

} // namespace

bool HeaderFooterCarver::carve(CarveEngine& engine, const CarvePass& pass) {
    CarveState& st = engine.state();
    CarveHost& host = engine.host();
    CandidateListsGuard guard{st};

    const bool isJpeg = pass.extension == ".jpg";
    const bool isGif = pass.extension == ".gif";
    const bool isHtml = pass.extension == ".html";
    const bool isPdf = pass.extension == ".pdf";
    const bool isPng = pass.extension == ".png";
    const bool labelled = isHtml || pass.extension == ".tif";
    // A GIF trailer 3B is an everyday byte inside image data; only after the block terminator 00
    // does it end the file. Other kinds' footers are taken as they come.
    const bool zeroBeforeFooter = isGif;

    // Upper-case closing tag, tried in full blocks only.
    const PreparedPattern upperHtmlFooter(std::string("</HTML>"));
    // An empty footer text would leave the previous signature in the slot: search for nothing.
    HexText::toSignatureBytes(st, pass.footerSignature);
    const PreparedPattern footer(pass.footerSignature.empty() ? std::string() : st.signatureBytes);
    const std::int64_t f = footer.length();

    if (!engine.openEvidence(pass.evidencePath)) {
        return false;
    }
    const auto E = static_cast<std::int64_t>(st.evidenceSize);
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
        HexText::toSignatureBytes(st, headerText);
        const int headerLength = static_cast<int>(st.signatureBytes.size());

        if (!isPdf) {
            HeaderScan::run(engine, pass.evidencePath, pass.kindTag, std::string(st.signatureBytes));
        }
        const std::vector<std::int64_t>& candidates = isPdf ? st.pdfHeaderIndex : st.headerIndex;
        const auto count = static_cast<std::int64_t>(candidates.size());

        if (count > 0) {
            host.setStatusText("");
            host.setStatusText("Please wait...");
            host.setProgressPos(0);
            host.setProgressRange(count - 1);
            host.showProgress(true);
            std::int64_t k = 0;
            for (std::int64_t i = 0; i < count; ++i) {
                const std::int64_t H = candidates[static_cast<std::size_t>(i)];
                if (!engine.pollCandidate()) {
                    return false;
                }
                std::int64_t number = fileNumber;
                if (isPdf) {
                    number = pdfNumber++;
                }
                host.setStatusText("");
                host.setStatusText("Carving " + pass.kindTag + ": " + std::to_string(i + 1) + " Of " +
                                   std::to_string(count));
                host.setProgressPos(k);
                ++k;

                std::int64_t R = E - H;
                const std::string path =
                    engine.output().carvedFilePath(pass.evidencePath, pass.kindTag, number, pass.extension);

                // The JPEG search starts at the start of scan, past any thumbnail in the header
                // segments; D is how far the search runs ahead of the header.
                std::int64_t S = H;
                if (isJpeg) {
                    if (!JpegValidator::check(st, H, headerLength)) {
                        continue;
                    }
                    S = st.jpegScanStart;
                }
                std::int64_t D = S - H;

                if (isHtml) {
                    // The window sits as many bytes after the header as the header text has hex
                    // digits: for <html> that is the 16 bytes from H + 12.
                    std::array<unsigned char, printableWindow> window{};
                    st.evidence.readAt(S + static_cast<std::int64_t>(headerText.size()), window.data(),
                                       window.size());
                    if (!printableAscii(window.data(), window.size())) {
                        continue;
                    }
                }
                if (isGif && !gifVersionKnown(st.evidence, S)) {
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
                    st.evidence.readAt(W, block.data(), block.size());
                    const auto n32 = static_cast<std::uint32_t>(block.size());
                    if (footer.find(st, block.data(), W, n32, SearchTarget::Footer, zeroBeforeFooter) ||
                        (isHtml &&
                         upperHtmlFooter.find(st, block.data(), W, n32, SearchTarget::Footer, zeroBeforeFooter))) {
                        footerEnd(st.footerMatchOffset);
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
                        st.evidence.readAt(W, block.data(), static_cast<std::size_t>(tailBytes));
                        if (footer.find(st, block.data(), W, static_cast<std::uint32_t>(tailBytes),
                                        SearchTarget::Footer, zeroBeforeFooter) &&
                            st.footerMatchOffset - H < M) {
                            footerEnd(st.footerMatchOffset);
                        }
                    }
                }

                if (!engine.output().carveFile(path, H, static_cast<std::uint64_t>(length),
                                               static_cast<std::uint64_t>(freeSpace))) {
                    return false;
                }
                if (!isPdf) {
                    ++fileNumber;
                }
            }
            host.setProgressPos(0);
            host.showProgress(false);
        }

        st.headerIndex.clear();
        st.pdfHeaderIndex.clear();
        host.setProgressPos(0);
        if (st.scanAborted == 1) {
            return false;
        }
    }

    st.evidence.close();
    return true;
}

} // namespace morrow
