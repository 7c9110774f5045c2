// The four length readers over one fuzzed candidate at offset 0: BMP, linearized PDF, ASF and
// RIFF / QuickTime (both passes). Each input goes through all of them.
#include "FuzzSupport.h"
#include "formats/LengthReaders.h"

#include <cstring>
#include <string>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    EvidenceReader& evidence = input.reader;

    const std::uint8_t infoSize = size > 14 ? data[14] : 0;
    fuzz::check(LengthReaders::checkBitmap(evidence, 0) ==
                    (infoSize == 0x28 || infoSize == 0x0C || infoSize == 0xF0),
                "bitmap check disagrees with the byte at 14");

    if (const auto length = LengthReaders::readPdfLinearized(evidence, 0)) {
        const std::string head(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 512));
        fuzz::check(head.find("Linearized") != std::string::npos, "linearized without the keyword");
        fuzz::check(*length < 10000000000000000ull, "more than 16 digits taken");
    }

    LengthReaders::readAsfFileSize(evidence, 0);

    if (const auto riff = LengthReaders::readVideoLength(evidence, 0, false)) {
        fuzz::check(riff->container == VideoContainer::Avi || riff->container == VideoContainer::Dat,
                    "RIFF container");
        fuzz::check(size >= 12, "a RIFF form type read from zeros");
        std::uint32_t riffSize = 0;
        std::memcpy(&riffSize, data + 4, 4); // little-endian host
        fuzz::check(riff->length == std::uint64_t{riffSize} + 8, "RIFF length is not size + 8");
    }

    if (const auto box = LengthReaders::readVideoLength(evidence, 0, true)) {
        fuzz::check(box->container == VideoContainer::Mp4 || box->container == VideoContainer::Mov ||
                        box->container == VideoContainer::ThreeGp,
                    "QuickTime container");
        // The walk stops once the boxes add up to the limit: the last box adds at most 2^32 - 1.
        fuzz::check(box->length < LengthReaders::quickTimeWalkLimit + (std::uint64_t{1} << 32),
                    "QuickTime walk ran past its limit");
    }
    return 0;
}
