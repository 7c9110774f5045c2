// The checks of carved files written with Morrow's own code (ZIP, compound documents, BMP, PSD,
// movies) over a fuzzed file; its first byte picks the check.
#include "FuzzSupport.h"
#include "verify/FileCheck.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static const FileTypeId kinds[] = {kind::Bmp, kind::Psd, kind::Zip, kind::CompoundDoc,
                                       kind::VideoQuickTime};
    const FileTypeId type = kinds[data[0] % std::size(kinds)];
    const FileVerdict verdict = FileCheck::check(check::Bytes{data + 1, size - 1}, type);
    fuzz::check((verdict.state == FileVerdict::State::Damaged) == !verdict.fault.empty(),
                "a fault without damage, or damage without a fault");
    return 0;
}
