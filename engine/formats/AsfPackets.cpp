// ASF (Advanced Systems Format): the header object (its child objects, the File Properties
// object among them: file id, file size, packet count, flags, minimum and maximum packet size) and
// the data packets of the data object, each of the one fixed packet size. A packet: optional
// error-correction data, its length-type flags and property flags, then the fields those flags
// size (packet length, sequence, padding length), send time and duration, then one payload or
// several, each a stream number, media object number, offset, replicated data and its data; the
// padding, zeros, fills the packet to its fixed size.
#include "formats/AsfPackets.h"

#include <cstring>

namespace morrow::asf {

std::optional<Header> header(Bytes& bytes, std::uint64_t& failAt, bool unsized) {
    unsigned char head[30] = {};
    bytes.read(0, head, sizeof head);
    Header h;
    h.headerSize = le64(head + 16);
    failAt = 0;
    if (std::memcmp(head, headerId, 16) != 0 || h.headerSize < 30 || h.headerSize > maxPacket) {
        return std::nullopt;
    }
    bool properties = false;
    std::uint64_t at = 30;
    for (std::uint32_t i = 0; i < le32(head + 24) && at < h.headerSize; ++i) {
        unsigned char object[104] = {};
        bytes.read(at, object, 24);
        const std::uint64_t size = le64(object + 16);
        failAt = at;
        if (size < 24 || size > h.headerSize - at) {
            return std::nullopt;
        }
        if (std::memcmp(object, filePropertiesId, 16) == 0 && size >= 104) {
            bytes.read(at, object, sizeof object);
            std::memcpy(h.fileId, object + 24, 16);
            h.fileSize = le64(object + 40);
            const std::uint64_t packets = le64(object + 56);
            const std::uint32_t minSize = le32(object + 92);
            h.packetSize = le32(object + 96);
            // A broadcast file's sizes are not yet known; one of varying packet sizes has no offsets.
            const bool known = (object[88] & 1) == 0 && packets != 0;
            if ((!known && !unsized) || minSize != h.packetSize || h.packetSize < 24 ||
                h.packetSize > maxPacket || packets > maxPackets) {
                return std::nullopt;
            }
            h.packets = known ? static_cast<std::uint32_t>(packets) : 0;
            properties = true;
        }
        at += size;
    }
    failAt = at;
    if (!properties || at != h.headerSize ||
        (!unsized && h.fileSize < h.headerSize + dataHeader + std::uint64_t{h.packets} * h.packetSize)) {
        return std::nullopt;
    }
    return h;
}

bool packet(Bytes& bytes, std::uint64_t at, std::uint32_t size, std::uint32_t& sendTime,
            std::uint64_t& failAt) {
    const std::uint64_t end = at + size;
    std::uint64_t p = at;
    auto fail = [&failAt](std::uint64_t where) {
        failAt = where;
        return false;
    };
    unsigned flags = bytes.byte(p++);
    if ((flags & 0x80) != 0) {
        // Error-correction data: its length in the low bits, of type 00, no length-type field.
        if ((flags & 0x70) != 0 || (flags & 0x0F) == 0) {
            return fail(at);
        }
        p += flags & 0x0F;
        flags = bytes.byte(p++);
        if ((flags & 0x80) != 0) {
            return fail(p - 1);
        }
    }
    const bool multiple = (flags & 1) != 0;
    const unsigned property = bytes.byte(p++);
    if (((property >> 6) & 3) != 1) {
        return fail(p - 1);
    }
    std::uint64_t length = bytes.field(p, (flags >> 5) & 3);
    if (((flags >> 5) & 3) == 0) {
        length = size;
    }
    bytes.field(p, (flags >> 1) & 3); // sequence
    const std::uint32_t padding = bytes.field(p, (flags >> 3) & 3);
    unsigned char times[6] = {};
    bytes.read(p, times, sizeof times);
    p += sizeof times;
    const std::uint32_t time = le32(times);
    // Some writers (GStreamer's) give the bytes in use as the packet's length and the padding
    // after them apart, the two making up the packet size; the others count the padding in.
    const bool paddingApart = length < size && length + padding == size;
    if (length > size || length < p - at || (padding > length && !paddingApart) || time < sendTime) {
        return fail(p - 1);
    }
    sendTime = time;
    const std::uint64_t payloadsEnd = paddingApart ? at + length : at + length - padding;
    unsigned payloads = 1;
    unsigned payloadLengthType = 0;
    if (multiple) {
        const unsigned payloadFlags = bytes.byte(p++);
        payloads = payloadFlags & 0x3F;
        payloadLengthType = payloadFlags >> 6;
        if (payloads == 0 || payloadLengthType == 0) {
            return fail(p - 1);
        }
    }
    for (unsigned i = 0; i < payloads; ++i) {
        if (p >= payloadsEnd || (bytes.byte(p++) & 0x7F) == 0) { // stream number
            return fail(p - 1);
        }
        bytes.field(p, (property >> 4) & 3); // media object number
        bytes.field(p, (property >> 2) & 3); // offset into it, or the presentation time
        const std::uint32_t replicated = bytes.field(p, property & 3);
        if (replicated != 0 && replicated < 8 && replicated != 1) {
            return fail(p - 1);
        }
        p += replicated;
        if (replicated == 1) {
            ++p; // the presentation time delta: sub-payloads follow
        }
        std::uint64_t data = multiple ? bytes.field(p, payloadLengthType) : 0;
        if (!multiple) {
            if (p > payloadsEnd) {
                return fail(std::min(p, end) - 1);
            }
            data = payloadsEnd - p;
        }
        if (data == 0 || p + data > payloadsEnd) {
            return fail(std::min(p, end) - 1);
        }
        if (replicated == 1) {
            // Compressed payload: sub-payloads of a length byte and data, filling it exactly.
            std::uint64_t q = p;
            while (q < p + data) {
                q += 1 + std::uint64_t{bytes.byte(q)};
            }
            if (q != p + data) {
                return fail(p + data - 1);
            }
        }
        p += data;
    }
    if (p != payloadsEnd) {
        return fail(std::min(p, end) - 1);
    }
    // The padding, zeros: the first byte that is not tells where it fails.
    unsigned char block[64];
    for (std::uint64_t q = payloadsEnd; q < end; q += sizeof block) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, end - q));
        bytes.read(q, block, n);
        for (std::size_t i = 0; i < n; ++i) {
            if (block[i] != 0) {
                return fail(q + i);
            }
        }
    }
    return true;
}

} // namespace morrow::asf
