#include "SizeDrivenCarver.h"

#include "CarveEngine.h"
#include "HeaderScan.h"
#include "HexText.h"
#include "LengthReaders.h"
#include "ZipExtent.h"

#include <string>

namespace morrow {

namespace {

const char* containerExtension(std::uint8_t container) {
    switch (container) {
    case 1:
        return ".avi";
    case 2:
        return ".dat";
    case 3:
        return ".mp4";
    case 4:
        return ".mov";
    case 5:
        return ".3gp";
    default:
        return nullptr;
    }
}

// Numbers in status texts are printed as the 32-bit values the dialog has always shown.
std::string countText(std::int64_t n) {
    return std::to_string(static_cast<std::int32_t>(n));
}

} // namespace

bool SizeDrivenCarver::carve(CarveEngine& engine, const CarvePass& pass) {
    CarveState& st = engine.state();
    CarveHost& host = engine.host();

    if (!engine.openEvidence(pass.evidencePath)) {
        return false;
    }
    HexText::toSignatureBytes(st, pass.headerSignature);
    // An aborted scan is seen through scanAborted at the end, after the headers it found.
    HeaderScan::run(engine, pass.evidencePath, pass.kindTag, std::string(st.signatureBytes));

    // No later pass of the run takes these once the run ends.
    auto endRun = [&st] {
        st.headerIndex.clear();
        st.pdfHeaderIndex.clear();
        return false;
    };

    const auto n = static_cast<std::int64_t>(st.headerIndex.size());
    host.setProgressPos(0);
    host.setProgressRange(n - 1);
    if (n == 0) {
        st.evidence.close();
        // A confirmed Stop or Quit during the scan ends the run even when it found nothing.
        return st.scanAborted == 1 ? endRun() : true;
    }
    host.showProgress(true);

    const bool video = pass.kindTag == "VideoFiles";
    const std::int64_t h = static_cast<std::int64_t>(pass.headerSignature.size() / 2);
    const std::string nText = countText(n);
    std::string extension = pass.extension;
    std::int64_t fileNumber = 0;

    for (std::int64_t w = 0; w < n; ++w) {
        if (!engine.pollCandidate()) {
            return endRun();
        }
        std::uint64_t L = st.maxFileSizeBytes;
        host.setStatusText("");
        host.setStatusText("Carving " + pass.kindTag + ": " + countText(w + 1) + " " + "Of" + " " + nText);
        host.setProgressPos(w + 1);
        const std::int64_t H = st.headerIndex[static_cast<std::size_t>(w)];

        if (video) {
            if (extension == ".wmv") {
                if (!LengthReaders::readAsfFileSize(st, H)) {
                    continue;
                }
            } else {
                if (!LengthReaders::readVideoLength(st, H, st.mp4Pass)) {
                    continue;
                }
                if (const char* ext = containerExtension(st.videoContainer)) {
                    extension = ext;
                }
            }
            L = st.videoLength;
        }

        const std::string path =
            engine.output().carvedFilePath(pass.evidencePath, pass.kindTag, fileNumber, extension);

        if (extension == ".bmp") {
            if (!LengthReaders::checkBitmap(st, H)) {
                continue;
            }
            const std::uint64_t sizeField = st.evidence.le32(H + h);
            if (sizeField < st.maxFileSizeBytes) {
                L = sizeField;
            }
        } else if (extension == ".pdf") {
            if (!LengthReaders::readPdfLinearized(st, H)) {
                st.pdfHeaderIndex.push_back(H); // the footer pass carves it
                continue;
            }
            L = st.pdfLinearizedLength;
            st.pdfCarvedBySize += 1;
        } else if (extension == ".zip") {
            // A local header inside an archive already walked is part of that archive.
            if (w > 0 && st.zipResumeOffset > static_cast<std::uint64_t>(H)) {
                continue;
            }
            st.zipResumeOffset = static_cast<std::uint64_t>(H);
            ZipExtent::measure(st, H);
            if (st.zipSkip == 1 || st.zipLength == 0) {
                continue;
            }
            L = st.zipLength;
        }

        // The free space is tested for the length the data claims; only the copy stops at the
        // end of the evidence. The copy goes through one fixed buffer, whatever L says.
        const std::uint64_t room = st.evidenceSize - static_cast<std::uint64_t>(H);
        const std::uint64_t x = L > room ? room : L;
        if (!engine.output().carveFile(path, H, x, L)) {
            return endRun();
        }
        ++fileNumber;
    }

    host.showProgress(false);
    st.headerIndex.clear();
    st.evidence.close();
    return st.scanAborted == 1 ? endRun() : true;
}

} // namespace morrow
