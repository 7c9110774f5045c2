// One fuzzed file as the only segment of an E01 image: openEvidenceSource tells it by its
// signature and hands it to libewf, which must refuse it or read it; every read stays within the
// buffer and the media size, and the section walk that explains a refusal ends on any bytes.
#include "FuzzSupport.h"
#include "evidence/EvidenceSource.h"
#include "evidence/EwfSections.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const EwfSectionChain chain = walkEwfSections(input.source);
    fuzz::check(chain.end != EwfSectionChain::End::Broken || !chain.fault.empty(), "a fault in no words");
    fuzz::check(chain.end == EwfSectionChain::End::Broken || chain.offset + 76 <= size,
                "a chain that ends past the segment");

    fuzz::inputFile().write(data, size);
    std::string error;
    auto source = openEvidenceSource(fuzz::inputFile().path(), error);
    if (!source) {
        fuzz::check(!error.empty(), "refused without a reason");
        return 0;
    }
    // The media size comes from the input and may be anything: read its first MiB and a block at
    // its end, which is where a table that lies about the chunks shows.
    std::vector<unsigned char> block(1 << 16);
    const std::uint64_t mediaSize = source->size();
    for (std::uint64_t offset = 0; offset < std::min<std::uint64_t>(mediaSize, 1 << 20);
         offset += block.size()) {
        fuzz::check(source->read(offset, block.data(), block.size()) <= block.size(), "read past the buffer");
    }
    if (mediaSize > block.size()) {
        fuzz::check(source->read(mediaSize - block.size(), block.data(), block.size()) <= block.size(),
                    "read past the buffer");
    }
    source->changed();
    return 0;
}
