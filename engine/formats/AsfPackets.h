#pragma once

#include "evidence/EvidenceReader.h"
#include "formats/FragmentJoin.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace morrow::asf {

// What an ASF (WMV) file's exact end (AsfExtent) and its join (FragmentJoin::asf) both read of
// it: the header object with its File Properties object, and the data packets. Each object is a
// GUID and a 64-bit little-endian size that counts its own 24-byte header. Offsets count from the
// file's first byte; where a check fails, `failAt` is the byte at which the structure was found
// not to stand (the last byte of a small one).

inline constexpr unsigned char headerId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr unsigned char dataId[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr unsigned char filePropertiesId[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                       0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// The data object's header: GUID, size, file id, packet count, reserved.
inline constexpr std::uint64_t dataHeader = 50;
inline constexpr std::uint64_t maxPacket = std::uint64_t{1} << 20;
inline constexpr std::uint32_t maxPackets = std::uint32_t{1} << 24;

// The file's bytes through a layout (as it lies: PieceLayout{H, ~0, 0}), a small field at a time.
// A walk through every packet keeps a block of `blockSize` bytes to serve its fields from.
class Bytes {
  public:
    Bytes(EvidenceReader& evidence, const PieceLayout& layout, std::size_t blockSize = 0)
        : evidence_(evidence), layout_(layout), block_(blockSize) {}
    void read(std::uint64_t at, unsigned char* out, std::size_t n) {
        if (block_.empty() || n > block_.size()) {
            layout_.read(evidence_, at, out, n);
            return;
        }
        if (at < start_ || at - start_ > block_.size() - n) {
            start_ = at;
            layout_.read(evidence_, at, block_.data(), block_.size());
        }
        std::memcpy(out, block_.data() + (at - start_), n);
    }
    // A field of 0, 1, 2 or 4 bytes as a length type gives it.
    std::uint32_t field(std::uint64_t& at, unsigned type) {
        const std::size_t n = type == 3 ? 4 : type;
        unsigned char b[4] = {};
        read(at, b, n);
        at += n;
        return le32(b);
    }
    std::uint8_t byte(std::uint64_t at) {
        unsigned char b = 0;
        read(at, &b, 1);
        return b;
    }

  private:
    EvidenceReader& evidence_;
    const PieceLayout& layout_;
    std::vector<unsigned char> block_;
    std::uint64_t start_ = ~std::uint64_t{0};
};

struct Header {
    std::uint64_t headerSize = 0;
    std::uint64_t fileSize = 0;
    std::uint32_t packets = 0; // 0: not known (a broadcast file, or counts never written)
    std::uint32_t packetSize = 0;
    unsigned char fileId[16] = {};
};

// The header object and its File Properties object; the failing offset when they do not stand.
// Its packets must be of one fixed size. Unless `unsized`, the file's size and packet count must
// be known and agree (a broadcast file's are not yet known); with it, they are taken as they are.
std::optional<Header> header(Bytes& bytes, std::uint64_t& failAt, bool unsized = false);

// One data packet of `size` bytes at `at`; its send time must not go back from `sendTime`. False
// with `failAt` the byte at which it failed.
bool packet(Bytes& bytes, std::uint64_t at, std::uint32_t size, std::uint32_t& sendTime,
            std::uint64_t& failAt);

} // namespace morrow::asf
