#include "evidence/EwfSections.h"

#include "evidence/EvidenceReader.h"
#include "evidence/EwfSegmentNames.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <zlib.h>

namespace morrow {

namespace {

const unsigned char ewf1Signature[8] = {'E', 'V', 'F', 0x09, 0x0d, 0x0a, 0xff, 0x00};
const unsigned char ewf2Signature[8] = {'E', 'V', 'F', '2', 0x0d, 0x0a, 0x81, 0x00};

} // namespace

EwfSignature ewfSignature(const unsigned char* bytes, std::size_t length) {
    if (length >= 8 && std::memcmp(bytes, ewf1Signature, 8) == 0) {
        return EwfSignature::Ewf1;
    }
    if (length >= 8 && std::memcmp(bytes, ewf2Signature, 8) == 0) {
        return EwfSignature::Ewf2;
    }
    return EwfSignature::None;
}

// The section descriptor, as libewf's documentation of the format (EWF version 1, "Section
// descriptor") lays it out, 76 bytes:
//   type         16 bytes, a name padded with zeros ("header", "volume", "sectors", "table", …)
//   next         8 bytes, little-endian, where the next descriptor starts (from the segment's start)
//   size         8 bytes, the section's size with its descriptor
//   padding      40 bytes
//   checksum     4 bytes, Adler-32 of the 72 bytes before it
// The chain starts after the 13-byte file header (signature 8 bytes, a 1, the segment number in 2
// bytes little-endian counting from 1, two zeros) and ends at a "next" section (more segments
// follow) or a "done" section (the last), which point to themselves.
EwfSectionChain walkEwfSections(EvidenceSource& segment) {
    constexpr std::uint64_t fileHeaderSize = 13;
    constexpr std::uint64_t descriptorSize = 76;
    EvidenceReader reader(segment);
    EwfSectionChain chain;
    unsigned char header[8];
    reader.readAt(0, header, sizeof header);
    if (ewfSignature(header, sizeof header) != EwfSignature::Ewf1) {
        chain.fault = "it does not start with the EWF signature";
        return chain;
    }
    chain.segmentNumber = reader.le16(9);
    const std::uint64_t size = reader.size();
    std::uint64_t offset = fileHeaderSize;
    // Every step goes forward by a whole descriptor at least, so the walk ends.
    while (true) {
        chain.offset = offset;
        if (offset + descriptorSize > size) {
            chain.fault = "it ends at byte " + std::to_string(size) + ", before the section at byte " +
                          std::to_string(offset) + " is whole";
            return chain;
        }
        unsigned char d[descriptorSize];
        reader.readAt(static_cast<std::int64_t>(offset), d, sizeof d);
        const auto sum = static_cast<std::uint32_t>(::adler32(1, d, 72));
        if (sum != morrow::le32(d + 72)) {
            chain.fault = "the section descriptor at byte " + std::to_string(offset) + " fails its checksum";
            return chain;
        }
        std::string type(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 16));
        std::replace_if(
            type.begin(), type.end(), [](char c) { return c < ' ' || c > '~'; }, '?');
        if (type == "done" || type == "next") {
            chain.end = type == "done" ? EwfSectionChain::End::Done : EwfSectionChain::End::Next;
            return chain;
        }
        const std::uint64_t next = morrow::le64(d + 16);
        if (next < offset + descriptorSize || next > size) {
            chain.fault = "the \"" + type + "\" section at byte " + std::to_string(offset) +
                          " says the next one is at byte " + std::to_string(next) +
                          (next > size ? ", past the end" : ", not after it");
            return chain;
        }
        offset = next;
    }
}

std::string explainEwfDamage(const std::vector<EvidenceSource*>& segments) {
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const EwfSectionChain chain = walkEwfSections(*segments[i]);
        const std::string name = ewfSegmentFileName(segments[i]->path());
        if (chain.end == EwfSectionChain::End::Broken) {
            return "segment " + name + " is damaged: " + chain.fault;
        }
        if (chain.segmentNumber != i + 1) {
            return "segment " + name + " is number " + std::to_string(chain.segmentNumber) +
                   " of its set, not " + std::to_string(i + 1) + ": a segment is missing or misnamed";
        }
        if (chain.end == EwfSectionChain::End::Next && i + 1 == segments.size()) {
            // A lone first segment named otherwise (`disk.bin`) has no next name to look for.
            const std::string next = nextEwfSegmentName(segments[i]->path());
            const bool named =
                !next.empty() && (i > 0 || std::isdigit(static_cast<unsigned char>(next.back())));
            return named ? "segment " + ewfSegmentFileName(next) + " is missing"
                         : "the segment after " + name + " is missing";
        }
    }
    return {};
}

std::string explainEwfOverClaim(std::uint64_t mediaSize, std::uint32_t chunkBytes,
                                std::uint64_t storedBytes) {
    if (chunkBytes == 0) {
        return {};
    }
    const std::uint64_t claimed = mediaSize / chunkBytes + (mediaSize % chunkBytes != 0 ? 1 : 0);
    if (claimed <= storedBytes / 4) {
        return {};
    }
    return "it claims " + std::to_string(mediaSize) + " bytes of media (" + std::to_string(claimed) +
           " chunks), more than its segments can hold: " + std::to_string(storedBytes) +
           " bytes of segments hold at most " + std::to_string(storedBytes / 4) + " chunks";
}

} // namespace morrow
