#include "formats/LengthReaders.h"

#include "evidence/EvidenceReader.h"
#include "search/HexText.h"
#include "search/PatternSearch.h"

#include <array>
#include <cstring>
#include <string>

namespace morrow {

namespace {

// A NUL-terminated view of a zero-filled buffer as text: one character per byte, up to the first
// zero byte.
std::string textUpToZero(const unsigned char* p, std::size_t n) {
    std::size_t len = 0;
    while (len < n && p[len] != 0) {
        ++len;
    }
    return std::string(reinterpret_cast<const char*>(p), len);
}

} // namespace

const char* videoExtension(VideoContainer container) {
    switch (container) {
    case VideoContainer::Avi:
        return ".avi";
    case VideoContainer::Dat:
        return ".dat";
    case VideoContainer::Mp4:
        return ".mp4";
    case VideoContainer::Mov:
        return ".mov";
    case VideoContainer::ThreeGp:
        return ".3gp";
    default:
        return nullptr;
    }
}

// BMP, "Windows Bitmap File Format": a 14-byte file header (BM, 32-bit file size at 2, ...)
// followed by the info header, whose first field is its own size: 40 for BITMAPINFOHEADER,
// 12 for the OS/2 BITMAPCOREHEADER. Only its low byte is compared.
bool LengthReaders::checkBitmap(EvidenceReader& evidence, std::int64_t H) {
    unsigned char b = evidence.u8(H + 14);
    const std::string text = HexText::fromBytes(&b, 1, HexStyle::Padded);
    return text == "28" || text == "0C" || text == "F0";
}

// PDF Reference, appendix F (linearized PDF): the first object of a linearized file is the
// linearization dictionary, << /Linearized 1 /L <file length> /H [...] ... >>. Only its /L key,
// written with one blank after it, is read.
std::optional<std::uint64_t> LengthReaders::readPdfLinearized(EvidenceReader& evidence, std::int64_t H) {
    static const PreparedPattern keyword(std::string("Linearized"));

    std::array<unsigned char, 512> head{};
    evidence.readAt(H, head.data(), head.size());
    const auto match = keyword.find(head.data(), H, static_cast<std::uint32_t>(head.size()));
    if (!match) {
        return std::nullopt;
    }
    const std::int64_t F = *match;

    std::array<unsigned char, 128> dict{};
    evidence.readAt(F + 10, dict.data(), dict.size());
    const std::string text = textUpToZero(dict.data(), dict.size());
    const std::size_t i = text.find("/L ");
    if (i == std::string::npos) {
        return std::nullopt;
    }

    // At most 16 digits: the value stays below 10^16, far inside a signed 64-bit number, so a
    // hostile run of digits can neither overflow nor turn negative. Whatever it claims, the carver
    // clips it at the end of the evidence.
    std::array<unsigned char, 16> digits{};
    evidence.readAt(F + 10 + static_cast<std::int64_t>(i) + 3, digits.data(), digits.size());
    std::int64_t value = 0;
    for (unsigned char c : digits) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
    }
    return static_cast<std::uint64_t>(value);
}

// ASF (Advanced Systems Format, revision 01.20), section 3.2, File Properties Object: object id (16 bytes,
// A1 DC AB 8C 47 A9 CF 11 8E E4 00 C0 0C 20 53 65 as stored), object size (64 bits), file id
// (16 bytes), then the File Size (64 bits, little-endian) 40 bytes after the object's start.
std::optional<std::uint64_t> LengthReaders::readAsfFileSize(EvidenceReader& evidence, std::int64_t H) {
    static const PreparedPattern fileProperties(HexText::toBytes("A1DCAB8C47A9"));

    std::array<unsigned char, 512> block{};
    evidence.readAt(H + 8, block.data(), block.size());
    const auto match = fileProperties.find(block.data(), H + 8, static_cast<std::uint32_t>(block.size()));
    if (!match) {
        return std::nullopt;
    }
    return evidence.le64(*match + 40);
}

// RIFF (Microsoft/IBM multimedia programming interface, 1991): "RIFF", a 32-bit
// little-endian size of what follows it, then the form type. QuickTime File Format / ISO 14496-12:
// a sequence of top-level boxes, each a 32-bit big-endian size (itself included) and a four-letter
// type; the file type box comes first and its major brand follows its type.
std::optional<VideoLength> LengthReaders::readVideoLength(EvidenceReader& evidence, std::int64_t H,
                                                          bool quickTime) {
    if (!quickTime) {
        std::array<unsigned char, 4> form{};
        evidence.readAt(H + 8, form.data(), form.size());
        VideoContainer container = VideoContainer::None;
        if (std::memcmp(form.data(), "CDXA", 4) == 0) {
            container = VideoContainer::Dat;
        } else if (std::memcmp(form.data(), "AVI ", 4) == 0) {
            container = VideoContainer::Avi;
        } else {
            return std::nullopt;
        }
        // Summed in 64 bits: a size field of 0xFFFFFFFF must not wrap round to a short length.
        return VideoLength{static_cast<std::uint64_t>(evidence.le32(H + 4)) + 8, container};
    }

    std::array<unsigned char, 3> brand{};
    evidence.readAt(H + 8, brand.data(), brand.size());
    VideoContainer container = VideoContainer::None;
    if (std::memcmp(brand.data(), "mp4", 3) == 0) {
        container = VideoContainer::Mp4;
    } else if (std::memcmp(brand.data(), "3gp", 3) == 0) {
        container = VideoContainer::ThreeGp;
    } else if (std::memcmp(brand.data(), "mov", 3) == 0 || std::memcmp(brand.data(), "moo", 3) == 0) {
        container = VideoContainer::Mov;
    } else {
        return std::nullopt;
    }

    // The walk goes on while the next box's type occurs in this list (a substring test). A type
    // that begins with a zero byte is no box: it ends the walk. Taking it as listed added the
    // size field in front of it, which past the end of a file is whatever the disk holds there,
    // and stretched a carved video by up to 4 GiB of unrelated data. (Where those bytes are
    // zeros, as after a file on a freshly written disk, the length is the same either way.)
    // Each step adds a non-zero size to total and the walk stops at the limit, so it ends after
    // at most quickTimeWalkLimit steps and total never overflows.
    static const std::string continuing = "moov,mdat,free,skip,wide,pnot,mdhd,minf,trac";
    std::int64_t P = H + 4;
    std::uint64_t total = 0;
    for (;;) {
        const std::uint32_t size = evidence.be32(P - 4);
        total += size;
        P += size;
        std::array<unsigned char, 4> type{};
        evidence.readAt(P, type.data(), type.size());
        const std::string typeText = textUpToZero(type.data(), type.size());
        if (typeText.empty() || continuing.find(typeText) == std::string::npos) {
            break;
        }
        if (total >= quickTimeWalkLimit || size == 0) {
            break;
        }
    }
    return VideoLength{total, container};
}

} // namespace morrow
