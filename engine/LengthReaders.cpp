#include "LengthReaders.h"

#include "CarveState.h"
#include "HexText.h"
#include "PatternSearch.h"

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

// BMP, "Windows Bitmap File Format": a 14-byte file header (BM, 32-bit file size at 2, ...)
// followed by the info header, whose first field is its own size: 40 for BITMAPINFOHEADER,
// 12 for the OS/2 BITMAPCOREHEADER. Only its low byte is compared.
bool LengthReaders::checkBitmap(CarveState& state, std::int64_t H) {
    unsigned char b = state.evidence.u8(H + 14);
    const std::string text = HexText::fromBytes(&b, 1, HexStyle::Padded);
    return text == "28" || text == "0C" || text == "F0";
}

// PDF Reference, appendix F (linearized PDF): the first object of a linearized file is the
// linearization dictionary, << /Linearized 1 /L <file length> /H [...] ... >>. Only its /L key,
// written with one blank after it, is read.
bool LengthReaders::readPdfLinearized(CarveState& state, std::int64_t H) {
    static const PreparedPattern keyword(std::string("Linearized"));

    std::array<unsigned char, 512> head{};
    state.evidence.readAt(H, head.data(), head.size());
    if (!keyword.find(state, head.data(), H, static_cast<std::uint32_t>(head.size()),
                      SearchTarget::HeaderField)) {
        return false;
    }
    const std::int64_t F = state.fieldMatchOffset;

    std::array<unsigned char, 128> dict{};
    state.evidence.readAt(F + 10, dict.data(), dict.size());
    const std::string text = textUpToZero(dict.data(), dict.size());
    const std::size_t i = text.find("/L ");
    if (i == std::string::npos) {
        return false;
    }

    // At most 16 digits: the value stays below 10^16, far inside a signed 64-bit number, so a
    // hostile run of digits can neither overflow nor turn negative. Whatever it claims, the carver
    // clips it at the end of the evidence.
    std::array<unsigned char, 16> digits{};
    state.evidence.readAt(F + 10 + static_cast<std::int64_t>(i) + 3, digits.data(), digits.size());
    std::int64_t value = 0;
    for (unsigned char c : digits) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
    }
    state.pdfLinearizedLength = static_cast<std::uint64_t>(value);
    return true;
}

// ASF (Advanced Systems Format, revision 01.20), section 3.2, File Properties Object: object id (16 bytes,
// A1 DC AB 8C 47 A9 CF 11 8E E4 00 C0 0C 20 53 65 as stored), object size (64 bits), file id
// (16 bytes), then the File Size (64 bits, little-endian) 40 bytes after the object's start.
bool LengthReaders::readAsfFileSize(CarveState& state, std::int64_t H) {
    state.videoLength = 0;
    HexText::toSignatureBytes(state, "A1DCAB8C47A9");
    const PreparedPattern fileProperties(state.signatureBytes.substr(0, 6));

    std::array<unsigned char, 512> block{};
    state.evidence.readAt(H + 8, block.data(), block.size());
    if (!fileProperties.find(state, block.data(), H + 8, static_cast<std::uint32_t>(block.size()),
                             SearchTarget::HeaderField)) {
        return false;
    }
    state.videoLength = state.evidence.le64(state.fieldMatchOffset + 40);
    return true;
}

// RIFF (Microsoft/IBM multimedia programming interface, 1991): "RIFF", a 32-bit
// little-endian size of what follows it, then the form type. QuickTime File Format / ISO 14496-12:
// a sequence of top-level boxes, each a 32-bit big-endian size (itself included) and a four-letter
// type; the file type box comes first and its major brand follows its type.
bool LengthReaders::readVideoLength(CarveState& state, std::int64_t H, std::int32_t mp4Pass) {
    state.videoLength = 0;
    state.videoContainer = 0;

    if (mp4Pass == 0) {
        std::array<unsigned char, 4> form{};
        state.evidence.readAt(H + 8, form.data(), form.size());
        std::uint8_t container = 0;
        if (std::memcmp(form.data(), "CDXA", 4) == 0) {
            container = 2;
        } else if (std::memcmp(form.data(), "AVI ", 4) == 0) {
            container = 1;
        } else {
            return false;
        }
        // Summed in 64 bits: a size field of 0xFFFFFFFF must not wrap round to a short length.
        state.videoLength = static_cast<std::uint64_t>(state.evidence.le32(H + 4)) + 8;
        state.videoContainer = container;
        return true;
    }

    std::array<unsigned char, 3> brand{};
    state.evidence.readAt(H + 8, brand.data(), brand.size());
    std::uint8_t container = 0;
    if (std::memcmp(brand.data(), "mp4", 3) == 0) {
        container = 3;
    } else if (std::memcmp(brand.data(), "3gp", 3) == 0) {
        container = 5;
    } else if (std::memcmp(brand.data(), "mov", 3) == 0 || std::memcmp(brand.data(), "moo", 3) == 0) {
        container = 4;
    } else {
        return false;
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
        const std::uint32_t size = state.evidence.be32(P - 4);
        total += size;
        P += size;
        std::array<unsigned char, 4> type{};
        state.evidence.readAt(P, type.data(), type.size());
        const std::string typeText = textUpToZero(type.data(), type.size());
        if (typeText.empty() || continuing.find(typeText) == std::string::npos) {
            break;
        }
        if (total >= quickTimeWalkLimit || size == 0) {
            break;
        }
    }
    state.videoLength = total;
    state.videoContainer = container;
    return true;
}

} // namespace morrow
