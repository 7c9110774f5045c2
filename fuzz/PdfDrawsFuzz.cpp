// The count of a PDF's form draws (pdf::countDraws) over a fuzzed file: it ends, and keeps to
// its limit when it names a page.
#include "FuzzSupport.h"
#include "verify/PdfDraws.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint64_t limit = 100000;
    const pdf::Draws draws = pdf::countDraws(check::Bytes{data, size}, limit, 50);
    fuzz::check(draws.page == 0 || draws.formOperators > limit, "a page named under the limit");
    fuzz::check(draws.formOperators <= limit + 1, "a count past its saturation");
    fuzz::check(draws.page <= 50, "a page past the pages asked for");
    return 0;
}
