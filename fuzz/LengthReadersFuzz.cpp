// The four length readers over one fuzzed candidate at offset 0: BMP, linearized PDF, ASF and
// RIFF / QuickTime (both passes). Each input goes through all of them.
#include "FuzzSupport.h"
#include "LengthReaders.h"

#include <cstring>
#include <string>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CarveState state;
    fuzz::inputFile().load(state, data, size);

    const std::uint8_t infoSize = size > 14 ? data[14] : 0;
    fuzz::check(LengthReaders::checkBitmap(state, 0) == (infoSize == 0x28 || infoSize == 0x0C || infoSize == 0xF0),
                "bitmap check disagrees with the byte at 14");

    if (LengthReaders::readPdfLinearized(state, 0)) {
        const std::string head(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 512));
        fuzz::check(head.find("Linearized") != std::string::npos, "linearized without the keyword");
        fuzz::check(state.pdfLinearizedLength < 10000000000000000ull, "more than 16 digits taken");
    }

    state.videoLength = 12345;
    if (!LengthReaders::readAsfFileSize(state, 0)) {
        fuzz::check(state.videoLength == 0, "refused ASF left a length");
    }

    if (LengthReaders::readVideoLength(state, 0, 0)) {
        fuzz::check(state.videoContainer == 1 || state.videoContainer == 2, "RIFF container code");
        fuzz::check(size >= 12, "a RIFF form type read from zeros");
        std::uint32_t riffSize = 0;
        std::memcpy(&riffSize, data + 4, 4); // little-endian host
        fuzz::check(state.videoLength == std::uint64_t{riffSize} + 8, "RIFF length is not size + 8");
    } else {
        fuzz::check(state.videoLength == 0 && state.videoContainer == 0, "refused RIFF left a result");
    }

    if (LengthReaders::readVideoLength(state, 0, 1)) {
        fuzz::check(state.videoContainer >= 3 && state.videoContainer <= 5, "QuickTime container code");
        // The walk stops once the boxes add up to the limit: the last box adds at most 2^32 - 1.
        fuzz::check(state.videoLength < LengthReaders::quickTimeWalkLimit + (std::uint64_t{1} << 32),
                    "QuickTime walk ran past its limit");
    } else {
        fuzz::check(state.videoLength == 0 && state.videoContainer == 0, "refused QuickTime left a result");
    }
    state.evidence.close();
    return 0;
}
