// PKWARE APPNOTE.TXT 4.3.7 (local file header), 4.3.12 (central directory file header), 4.5.3
// (ZIP64 extended information extra field, id 0x0001: the original size, the compressed size and
// the local header's offset, each 8 bytes and present only where its 4-byte field is FFFFFFFF).
#include "formats/ZipMembers.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace morrow {

namespace {

constexpr std::uint32_t maxField = 0xFFFFFFFF;

// Raw deflate from `read` (which fills a buffer from a byte offset of the data) until the stream
// ends, its input held to `maxFed` bytes and its output to `maxProduced`.
struct Decoded {
    int status = Z_OK;
    std::uint64_t fed = 0;      // bytes read, the last ones perhaps not taken
    std::uint64_t consumed = 0; // bytes the stream took
    std::uint64_t produced = 0;
    uLong crc = 0;
};

template <typename Read>
Decoded inflateRaw(Read&& read, std::uint64_t maxFed, std::uint64_t maxProduced,
                   std::vector<unsigned char>& in, std::vector<unsigned char>& out) {
    Decoded d;
    d.crc = crc32(0L, Z_NULL, 0);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        d.status = Z_MEM_ERROR;
        return d;
    }
    while (d.status == Z_OK) {
        if (z.avail_in == 0) {
            if (d.fed == maxFed) {
                break;
            }
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(maxFed - d.fed, in.size()));
            read(d.fed, in.data(), n);
            d.fed += n;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        d.status = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = out.size() - z.avail_out;
        d.crc = crc32(d.crc, out.data(), static_cast<uInt>(got));
        d.produced += got;
        if (d.produced > maxProduced) {
            break;
        }
    }
    d.consumed = d.fed - z.avail_in;
    inflateEnd(&z);
    return d;
}

} // namespace

void ZipMembers::zip64Fields(const std::vector<unsigned char>& extra,
                             std::initializer_list<std::uint64_t*> values) {
    for (std::size_t i = 0; i + 4 <= extra.size(); i += 4 + std::size_t{le16(&extra[i + 2])}) {
        if (le16(&extra[i]) != 0x0001) {
            continue;
        }
        const std::size_t end = std::min(extra.size(), i + 4 + le16(&extra[i + 2]));
        std::size_t f = i + 4;
        for (std::uint64_t* value : values) {
            if (*value == maxField && f + 8 <= end) {
                *value = le64(&extra[f]);
                f += 8;
            }
        }
        return;
    }
}

std::optional<ZipMember> ZipMembers::readEntry(EvidenceReader& evidence, std::uint64_t at, std::uint64_t end,
                                               std::uint64_t& length) {
    unsigned char head[46] = {};
    evidence.readAt(static_cast<std::int64_t>(at), head, sizeof head);
    if (std::memcmp(head, "PK\x01\x02", 4) != 0 || at + 46 > end) {
        return std::nullopt;
    }
    ZipMember m;
    m.method = le16(head + 10);
    m.crc = le32(head + 16);
    m.compressed = le32(head + 20);
    m.size = le32(head + 24);
    m.offset = le32(head + 42);
    const std::uint64_t nameLength = le16(head + 28);
    const std::uint64_t extraLength = le16(head + 30);
    m.name.resize(nameLength);
    evidence.readAt(static_cast<std::int64_t>(at + 46), m.name.data(), m.name.size());
    length = 46 + nameLength + extraLength + le16(head + 32);
    m.zip64 = m.compressed == maxField || m.size == maxField || m.offset == maxField;
    if (m.zip64) {
        std::vector<unsigned char> extra(extraLength);
        evidence.readAt(static_cast<std::int64_t>(at + 46 + nameLength), extra.data(), extra.size());
        zip64Fields(extra, {&m.size, &m.compressed, &m.offset});
    }
    return m;
}

std::optional<std::vector<ZipMember>> ZipMembers::readDirectory(EvidenceReader& evidence, std::uint64_t D,
                                                                std::uint64_t length, std::uint64_t count) {
    std::vector<ZipMember> members;
    std::uint64_t at = D;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t entry = 0;
        auto m = readEntry(evidence, at, D + length, entry);
        if (!m) {
            return std::nullopt;
        }
        at += entry;
        members.push_back(std::move(*m));
    }
    std::stable_sort(members.begin(), members.end(),
                     [](const ZipMember& a, const ZipMember& b) { return a.offset < b.offset; });
    return members;
}

std::uint64_t ZipMembers::localData(EvidenceReader& evidence, const PieceLayout& layout, const ZipMember& m) {
    unsigned char head[30] = {};
    layout.read(evidence, m.offset, head, sizeof head);
    if (std::memcmp(head, "PK\x03\x04", 4) != 0 || le16(head + 26) != m.name.size()) {
        return 0;
    }
    std::string name(m.name.size(), '\0');
    layout.read(evidence, m.offset + 30, reinterpret_cast<unsigned char*>(name.data()), name.size());
    return name == m.name ? m.offset + 30 + m.name.size() + le16(head + 28) : 0;
}

bool ZipMembers::dataHolds(EvidenceReader& evidence, const PieceLayout& layout, const ZipMember& m,
                           std::uint64_t data, JoinBudget& budget, std::vector<unsigned char>& in,
                           std::vector<unsigned char>& out, std::uint64_t* failedAt) {
    if (!budget.spend(m.compressed, 1)) {
        return false;
    }
    auto read = [&](std::uint64_t done, unsigned char* to, std::size_t n) {
        layout.read(evidence, data + done, to, n);
    };
    if (m.method == 0) {
        if (m.compressed != m.size) {
            return false;
        }
        uLong crc = crc32(0L, Z_NULL, 0);
        for (std::uint64_t done = 0; done < m.compressed;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(m.compressed - done, in.size()));
            read(done, in.data(), n);
            crc = crc32(crc, in.data(), static_cast<uInt>(n));
            done += n;
        }
        return crc == m.crc;
    }
    if (m.method != 8) {
        return false; // no other method is checked
    }
    const Decoded d = inflateRaw(read, m.compressed, m.size, in, out);
    if (failedAt != nullptr && d.status == Z_DATA_ERROR) {
        *failedAt = data + d.consumed;
    }
    return d.status == Z_STREAM_END && d.produced == m.size && d.crc == m.crc;
}

std::optional<ZipMembers::Inflated> ZipMembers::inflateToEnd(EvidenceReader& evidence, std::uint64_t data,
                                                             std::uint64_t limit,
                                                             std::vector<unsigned char>& in,
                                                             std::vector<unsigned char>& out) {
    if (limit <= data) {
        return std::nullopt;
    }
    auto read = [&](std::uint64_t done, unsigned char* to, std::size_t n) {
        evidence.readAt(static_cast<std::int64_t>(data + done), to, n);
    };
    const Decoded d = inflateRaw(read, limit - data, ~std::uint64_t{0}, in, out);
    if (d.status != Z_STREAM_END) {
        return std::nullopt;
    }
    return Inflated{d.consumed, d.produced, static_cast<std::uint32_t>(d.crc)};
}

} // namespace morrow
