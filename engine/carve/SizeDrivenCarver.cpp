#include "carve/SizeDrivenCarver.h"

#include "carve/CandidateLoop.h"
#include "carve/CarvePass.h"
#include "carve/HeaderScan.h"
#include "carve/PassContext.h"
#include "evidence/EvidenceReader.h"
#include "formats/ExactEnds.h"
#include "formats/LengthReaders.h"
#include "formats/PdfExtent.h"
#include "formats/ZipClassifier.h"
#include "formats/ZipExtent.h"

#include <algorithm>
#include <string>
#include <vector>

namespace morrow {

bool SizeDrivenCarver::carve(PassContext& context, const CarvePass& pass) {
    EvidenceReader* opened = context.openEvidence(pass.evidencePath);
    if (opened == nullptr) {
        return false;
    }
    EvidenceReader& evidence = *opened;
    // A scan the user stopped ends the pass at the loop's first poll (or below, when it found
    // nothing); one that met unreadable evidence, through scanAborted at the end.
    const OffsetList headers =
        HeaderScan::run(context, evidence, pass.evidencePath, pass.kindTag + pass.passLabel,
                        HeaderKey{pass.headerBytes(pass.headerSignature), pass.headerShifted})
            .matches;
    OffsetList& pdfHeaders = context.pdfHeaderIndex();
    std::int32_t& pdfCarvedBySize = context.pdfCarvedBySize();

    // No later pass of the run takes these once the run ends.
    auto endRun = [&pdfHeaders] {
        pdfHeaders.clear();
        return false;
    };

    const auto n = static_cast<std::int64_t>(headers.size());
    CandidateLoop loop(context, pass.kindTag, n);
    loop.setRange();
    if (n == 0) {
        // A confirmed Stop or Quit during the scan ends the run even when it found nothing.
        return context.scanAborted() ? endRun() : true;
    }
    loop.show();

    const bool video =
        pass.type == kind::VideoRiff || pass.type == kind::VideoQuickTime || pass.type == kind::VideoAsf;
    const std::int64_t h = static_cast<std::int64_t>(pass.headerSignature.size() / 2);
    std::string extension = pass.extension;
    std::int64_t fileNumber = 0;
    // Where the last archive walked ends: local headers before it belong to that archive.
    std::uint64_t zipResumeOffset = 0;
    // The pieces of the last archive reassembled from fragments.
    std::vector<ByteRun> zipPieces;
    ExactWalks walks(pass.exactReader, evidence, headers, pass.maxFileSizeBytes);

    for (std::int64_t w = 0; w < n; ++w) {
        if (!loop.next(w, w + 1)) {
            return endRun();
        }
        std::uint64_t L = pass.maxFileSizeBytes;
        const std::int64_t H = headers[static_cast<std::size_t>(w)];
        const std::uint64_t room = evidence.size() - static_cast<std::uint64_t>(H);

        // ZIP has no exact reader: its own rules below already follow the structure.
        if (pass.exactEnds && pass.exactReader != nullptr) {
            std::string exactExtension = pass.extension;
            if (pass.type == kind::Pdf) {
                // A linearized file keeps its /L when a %%EOF that its cross-reference proves ends
                // exactly there; any other goes to the footer pass, which follows its updates to
                // the last %%EOF.
                const auto linearized = LengthReaders::readPdfLinearized(evidence, H);
                if (!linearized || !PdfExtent::linearizedLengthAgrees(evidence, H, *linearized) ||
                    !PdfExtent::endProven(evidence, H, *linearized)) {
                    pdfHeaders.push_back(H);
                    continue;
                }
                L = *linearized;
                pdfCarvedBySize += 1;
            } else {
                if (pass.type == kind::VideoRiff) {
                    const auto found = LengthReaders::readVideoLength(evidence, H, false);
                    if (!found) {
                        continue;
                    }
                    exactExtension = videoExtension(found->container);
                }
                // A movie whose chunks or packets break may go on past a gap, its index or its
                // packet size telling where.
                if (pass.reassemble && (pass.type == kind::VideoRiff || pass.type == kind::VideoAsf)) {
                    std::vector<ByteRun> joined;
                    if (!context.carveJoined(pass, evidence, fileNumber, H, exactExtension, joined)) {
                        return endRun();
                    }
                    if (!joined.empty()) {
                        ++fileNumber;
                        continue;
                    }
                }
                const Extent extent = walks.measure(static_cast<std::size_t>(w));
                // A movie whose media data's box ends on no box, or whose movie box breaks
                // inside, may go on past a gap, its movie box's sample offsets telling where: the
                // walk of the top-level boxes alone runs through a gap inside the movie box.
                if (pass.reassemble && pass.type == kind::VideoQuickTime) {
                    std::vector<ByteRun> joined;
                    if (!context.carveJoined(pass, evidence, fileNumber, H,
                                             ExactEnds::quickTimeExtension(evidence, H), joined)) {
                        return endRun();
                    }
                    if (!joined.empty()) {
                        ++fileNumber;
                        continue;
                    }
                }
                if (!extent) {
                    continue;
                }
                L = extent.length;
                // A bitmap's pixels carry no check: a whole file of another kind starting in
                // them shows where the bitmap broke.
                if (pass.type == kind::Bmp) {
                    L = context.foreignFileWithin(pass.type, H, std::min(L, room));
                }
                if (pass.type == kind::VideoQuickTime) {
                    exactExtension = ExactEnds::quickTimeExtension(evidence, H);
                }
            }
            const std::uint64_t x = L > room ? room : L;
            if (!context.carve(pass, fileNumber, H, x, x, exactExtension)) {
                return endRun();
            }
            ++fileNumber;
            continue;
        }

        if (video) {
            if (pass.type == kind::VideoAsf) {
                if (pass.reassemble) {
                    // A movie whose packets break may go on past a gap, each packet's offset known.
                    std::vector<ByteRun> joined;
                    if (!context.carveJoined(pass, evidence, fileNumber, H, extension, joined)) {
                        return endRun();
                    }
                    if (!joined.empty()) {
                        ++fileNumber;
                        continue;
                    }
                }
                const auto length = LengthReaders::readAsfFileSize(evidence, H);
                if (!length) {
                    continue;
                }
                L = *length;
            } else {
                if (pass.reassemble && pass.type == kind::VideoRiff) {
                    // An AVI whose chunk chain breaks may go on past a gap, its index telling where.
                    std::vector<ByteRun> joined;
                    if (!context.carveJoined(pass, evidence, fileNumber, H, ".avi", joined)) {
                        return endRun();
                    }
                    if (!joined.empty()) {
                        ++fileNumber;
                        continue;
                    }
                }
                const auto found =
                    LengthReaders::readVideoLength(evidence, H, pass.type == kind::VideoQuickTime);
                if (!found) {
                    continue;
                }
                if (const char* ext = videoExtension(found->container)) {
                    extension = ext;
                }
                L = found->length;
            }
        }

        if (pass.type == kind::Bmp) {
            if (!LengthReaders::checkBitmap(evidence, H)) {
                continue;
            }
            const std::uint64_t sizeField = evidence.le32(H + h);
            if (sizeField < pass.maxFileSizeBytes) {
                L = sizeField;
            }
        } else if (pass.type == kind::Pdf) {
            const auto length = LengthReaders::readPdfLinearized(evidence, H);
            if (!length) {
                pdfHeaders.push_back(H); // the footer pass carves it
                continue;
            }
            L = *length;
            pdfCarvedBySize += 1;
        } else if (pass.type == kind::Zip) {
            // A local header inside an archive already walked is part of that archive.
            if (w > 0 && zipResumeOffset > static_cast<std::uint64_t>(H)) {
                continue;
            }
            if (pass.reassemble) {
                // A local header in the pieces of an archive reassembled is one of its members.
                if (std::any_of(zipPieces.begin(), zipPieces.end(), [H](const ByteRun& run) {
                        return H >= run.offset && static_cast<std::uint64_t>(H - run.offset) < run.length;
                    })) {
                    continue;
                }
                // A fragmented archive's directory is found further on than it says: its members
                // are then taken from where their offsets put them, in two pieces.
                std::vector<ByteRun> joined;
                if (!context.carveJoined(pass, evidence, fileNumber, H, extension, joined)) {
                    return endRun();
                }
                if (!joined.empty()) {
                    zipPieces = std::move(joined);
                    ++fileNumber;
                    continue;
                }
            }
            const ZipExtent::Result zip = ZipExtent::measure(evidence, H, pass.exactEnds);
            zipResumeOffset = zip.resumeOffset;
            if (!zip.extent || zip.extent.length == 0) {
                continue;
            }
            if (pass.exactEnds) {
                L = ZipExtent::lengthWithComment(evidence, H, zip);
                // Named by what it holds (.docx, .odt, .jar ...); the tag and numbering stay ZIP's.
                extension = ZipClassifier::classify(evidence, H, L, zip.directory);
            } else {
                L = zip.extent.length;
            }
        }

        // The free space is tested for the length the data claims; only the copy stops at the
        // end of the evidence. The copy goes through one fixed buffer, whatever L says.
        if (!context.carve(pass, fileNumber, H, L > room ? room : L, L, extension)) {
            return endRun();
        }
        ++fileNumber;
    }

    loop.hide();
    return context.scanAborted() ? endRun() : true;
}

} // namespace morrow
