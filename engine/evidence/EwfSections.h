#pragma once

#include "evidence/EvidenceSource.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// What Morrow reads of an E01 image's segments itself, without libewf: which signature a file
// starts with, and what is wrong with a set that libewf refuses or finds incomplete.

// What the first bytes of a file say it is. EWF version 1 (EnCase 1 to 7, `.E01`) starts with
// "EVF\x09\x0d\x0a\xff\x00"; version 2 (EnCase 7's `.Ex01`) with "EVF2\x0d\x0a\x81\x00".
enum class EwfSignature { None, Ewf1, Ewf2 };
EwfSignature ewfSignature(const unsigned char* bytes, std::size_t length);

// The end of one version 1 segment's chain of sections, walked from its file header through
// every section descriptor (type, offset of the next, size, Adler-32 of the descriptor).
struct EwfSectionChain {
    enum class End { Done, Next, Broken };
    End end = End::Broken;
    std::uint64_t offset = 0;        // where the last descriptor read, or the fault, lies
    std::uint32_t segmentNumber = 0; // from the file header, 1 for the first segment
    std::string fault;               // for Broken: what is wrong, and where
};
EwfSectionChain walkEwfSections(EvidenceSource& segment);

// Why a set cannot be read, from its segments' file headers and section chains (a segment
// damaged, out of order, or missing after the last one given); empty when they look whole.
std::string explainEwfDamage(const std::vector<EvidenceSource*>& segments);

// Why an image claiming `mediaSize` bytes of media in chunks of `chunkBytes` cannot be stored in
// `storedBytes` bytes of segments; empty when it can. Every chunk needs at least its 4-byte entry
// in a table section.
std::string explainEwfOverClaim(std::uint64_t mediaSize, std::uint32_t chunkBytes, std::uint64_t storedBytes);

} // namespace morrow
