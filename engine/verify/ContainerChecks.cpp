#include "verify/ContainerChecks.h"

#include <cstring>
#include <memory>
#include <vector>
#include <zlib.h>

namespace morrow::container {

using check::le16;
using check::le32;

// ZIP ---------------------------------------------------------------------------------------------

namespace {

std::uint64_t le64(const unsigned char* p) {
    return std::uint64_t{le32(p + 4)} << 32 | le32(p);
}

// A member's stored or deflated data, its CRC-32 and length against the directory's.
struct Member {
    std::string name;
    int method = 0;
    std::uint32_t crc = 0;
    std::uint64_t packed = 0;
    std::uint64_t size = 0;
};

// Empty when the member's data gives its CRC and size, otherwise the fault.
std::string inflateMember(const unsigned char* data, const Member& m, std::uint64_t& budget) {
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t out = 0;
    if (m.method == 0) {
        for (std::uint64_t at = 0; at < m.packed;) {
            const auto n = static_cast<uInt>(std::min<std::uint64_t>(m.packed - at, 1u << 30));
            crc = crc32(crc, data + at, n);
            at += n;
        }
        out = m.packed;
    } else {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
            return {};
        }
        // One block per checking thread, never cleared: zeroing a fresh one for every member cost
        // as much as inflating the members of a small document.
        constexpr std::size_t blockSize = std::size_t{1} << 16;
        thread_local const std::unique_ptr<unsigned char[]> block(new unsigned char[blockSize]);
        z.next_in = const_cast<unsigned char*>(data);
        z.avail_in = static_cast<uInt>(std::min<std::uint64_t>(m.packed, UINT32_MAX));
        int status = Z_OK;
        while (status == Z_OK) {
            z.next_out = block.get();
            z.avail_out = static_cast<uInt>(blockSize);
            status = inflate(&z, Z_NO_FLUSH);
            const std::size_t made = blockSize - z.avail_out;
            crc = crc32(crc, block.get(), static_cast<uInt>(made));
            out += made;
            if (out > m.size || out > budget) {
                break;
            }
            if (status == Z_BUF_ERROR && z.avail_in == 0) {
                break;
            }
        }
        const std::uint64_t consumed = z.total_in;
        inflateEnd(&z);
        if (out > budget) {
            budget = 0;
            return {};
        }
        if (status == Z_DATA_ERROR) {
            return "ZIP member " + m.name + ": its deflate data is corrupt " + std::to_string(consumed) +
                   " bytes in";
        }
        if (status != Z_STREAM_END && out <= m.size) {
            return "ZIP member " + m.name + ": its deflate data ends after " + check::percent(out, m.size) +
                   " of its bytes";
        }
    }
    budget -= std::min(budget, out);
    if (out != m.size) {
        return "ZIP member " + m.name + ": " + std::to_string(out) + " bytes, its directory entry says " +
               std::to_string(m.size);
    }
    if (static_cast<std::uint32_t>(crc) != m.crc) {
        return "ZIP member " + m.name + ": CRC-32 mismatch";
    }
    return {};
}

} // namespace

FileVerdict checkZip(check::Bytes file) {
    const unsigned char* d = file.data;
    const std::size_t size = file.size;
    // The end record: in the last 64 KiB and 22 bytes (its comment is at most 65535 bytes).
    std::size_t end = SIZE_MAX;
    if (size >= 22) {
        const std::size_t lowest = size - 22 > 65535 ? size - 22 - 65535 : 0;
        for (std::size_t at = size - 22 + 1; at-- > lowest;) {
            if (std::memcmp(d + at, "PK\5\6", 4) == 0) {
                end = at;
                break;
            }
        }
    }
    if (end == SIZE_MAX) {
        // A cut archive: its members from the start, to the one the cut runs through.
        for (std::uint64_t local = 0; size - local >= 30 && std::memcmp(d + local, "PK\3\4", 4) == 0;) {
            const std::uint64_t dataAt = local + 30 + le16(d + local + 26) + le16(d + local + 28);
            const std::uint64_t packed = le32(d + local + 18);
            const std::string name(reinterpret_cast<const char*>(d + local + 30),
                                   std::min<std::size_t>(le16(d + local + 26), size - local - 30));
            if (dataAt > size || packed > size - dataAt) {
                return check::damaged("ZIP member " + name + " at byte " + std::to_string(local) +
                                      ": the archive ends inside it, at byte " + std::to_string(size));
            }
            if ((le16(d + local + 6) & 8) != 0) {
                break; // its sizes follow its data: the walk cannot step over it
            }
            local = dataAt + packed;
        }
        return check::damaged("ZIP end of central directory not found: the archive ends at byte " +
                              std::to_string(size) + " without it");
    }
    std::uint64_t entries = le16(d + end + 10);
    std::uint64_t directorySize = le32(d + end + 12);
    std::uint64_t directoryAt = le32(d + end + 16);
    std::uint64_t base = 0; // bytes before the archive (a self-extractor's program)
    if (end >= 20 && std::memcmp(d + end - 20, "PK\6\7", 4) == 0) {
        const std::uint64_t record = le64(d + end - 20 + 8);
        if (size < 56 || record > size - 56 || std::memcmp(d + record, "PK\6\6", 4) != 0) {
            return check::damaged("ZIP64 end of central directory at byte " + std::to_string(record) +
                                  " is not one");
        }
        entries = le64(d + record + 32);
        directorySize = le64(d + record + 40);
        directoryAt = le64(d + record + 48);
    } else if (directoryAt + directorySize <= end) {
        base = end - directoryAt - directorySize;
    }
    // (Sizes read from the file may be anything: no sum is formed that could wrap.)
    if (directoryAt > end || directorySize > end - directoryAt || base > end - directoryAt - directorySize) {
        return check::damaged("ZIP central directory at byte " + std::to_string(directoryAt) +
                              " runs past its end record");
    }
    std::uint64_t budget = maxInflatedBytes;
    std::uint64_t at = base + directoryAt;
    const std::uint64_t directoryEnd = at + directorySize;
    for (std::uint64_t i = 0; i < entries; ++i) {
        if (directoryEnd - at < 46 || std::memcmp(d + at, "PK\1\2", 4) != 0) {
            return check::damaged("ZIP central directory entry " + std::to_string(i + 1) + " at byte " +
                                  std::to_string(at) + " is not one");
        }
        const unsigned char* e = d + at;
        const std::uint64_t entryLength = 46ull + le16(e + 28) + le16(e + 30) + le16(e + 32);
        if (entryLength > directoryEnd - at) {
            return check::damaged("ZIP central directory entry " + std::to_string(i + 1) + " at byte " +
                                  std::to_string(at) + " runs past the directory");
        }
        Member m;
        m.name.assign(reinterpret_cast<const char*>(e + 46), le16(e + 28));
        m.method = le16(e + 10);
        m.crc = le32(e + 16);
        m.packed = le32(e + 20);
        m.size = le32(e + 24);
        std::uint64_t local = le32(e + 42);
        // ZIP64 sizes and offset, in the order the fields that overflow appear.
        for (std::uint64_t x = 46ull + le16(e + 28); x + 4 <= 46ull + le16(e + 28) + le16(e + 30);) {
            const unsigned id = le16(e + x);
            const unsigned length = le16(e + x + 2);
            if (id == 1) {
                std::uint64_t f = x + 4;
                const std::uint64_t fieldEnd = x + 4 + length;
                for (std::uint64_t* field : {&m.size, &m.packed, &local}) {
                    if (*field == 0xFFFFFFFFu && f + 8 <= fieldEnd) {
                        *field = le64(e + f);
                        f += 8;
                    }
                }
            }
            x += 4ull + length;
        }
        at += entryLength;
        const bool encrypted = (le16(e + 8) & 1) != 0;
        if (encrypted || (m.method != 0 && m.method != 8) || m.name.empty() || m.name.back() == '/') {
            continue;
        }
        local += base;
        if (local > size || size - local < 30 || std::memcmp(d + local, "PK\3\4", 4) != 0) {
            return check::damaged("ZIP member " + m.name + ": no local header at byte " +
                                  std::to_string(local));
        }
        const std::uint64_t dataAt = local + 30 + le16(d + local + 26) + le16(d + local + 28);
        if (dataAt > size || m.packed > size - dataAt) {
            return check::damaged("ZIP member " + m.name + " at byte " + std::to_string(local) +
                                  ": its data runs past the end of the archive");
        }
        if (const std::string fault = inflateMember(d + dataAt, m, budget); !fault.empty()) {
            return check::damaged(fault);
        }
        if (budget == 0) {
            return check::notChecked();
        }
    }
    return check::opens();
}

// Compound documents ------------------------------------------------------------------------------

namespace {

constexpr std::uint32_t endOfChain = 0xFFFFFFFEu;

struct CompoundDoc {
    check::Bytes file;
    unsigned shift = 9;
    std::uint64_t sectorSize = 512;
    std::uint64_t sectors = 0; // whole sectors after the header
    std::vector<std::uint32_t> table;

    std::uint64_t offset(std::uint32_t sector) const { return (std::uint64_t{sector} + 1) << shift; }
    const unsigned char* at(std::uint32_t sector) const { return file.data + offset(sector); }

    // The chain from `start` through `next`, at most `limit` links: empty fault when it ends where
    // a chain ends, otherwise why not.
    std::string walk(std::uint32_t start, const std::vector<std::uint32_t>& next, std::uint64_t within,
                     std::vector<std::uint32_t>& chain, const std::string& what) const {
        chain.clear();
        for (std::uint32_t s = start; s != endOfChain;) {
            if (s >= within) {
                return what + ": sector " + std::to_string(s) +
                       (&next == &table ? " (byte " + std::to_string(offset(s)) + ")" : std::string()) +
                       " lies past the end of the file";
            }
            if (s >= next.size()) {
                return what + ": sector " + std::to_string(s) + " lies past the allocation table";
            }
            if (chain.size() >= within) {
                return what + ": its sector chain loops";
            }
            chain.push_back(s);
            s = next[s];
        }
        return {};
    }
};

std::string entryName(const unsigned char* entry) {
    std::string name;
    const unsigned length = std::min<unsigned>(le16(entry + 64), 64);
    for (unsigned i = 0; i + 1 < length; i += 2) {
        const unsigned c = le16(entry + i);
        if (c == 0) {
            break;
        }
        name += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return name;
}

} // namespace

FileVerdict checkCompoundDoc(check::Bytes file) {
    static const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    const unsigned char* h = file.data;
    if (file.size < 512 || std::memcmp(h, signature, 8) != 0) {
        return check::damaged("compound document header missing");
    }
    CompoundDoc doc;
    doc.file = file;
    doc.shift = le16(h + 30);
    if (doc.shift != 9 && doc.shift != 12) {
        return check::damaged("compound document sector size 2^" + std::to_string(doc.shift) + " is not one");
    }
    doc.sectorSize = std::uint64_t{1} << doc.shift;
    doc.sectors = file.size < doc.sectorSize ? 0 : (file.size - doc.sectorSize) / doc.sectorSize;
    const std::uint32_t tableSectors = le32(h + 44);
    if (tableSectors > doc.sectors) {
        return check::damaged("compound document claims " + std::to_string(tableSectors) +
                              " allocation table sectors; the file holds " + std::to_string(doc.sectors) +
                              " sectors in all");
    }
    // The allocation table's sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<std::uint32_t> tableAt;
    for (unsigned i = 0; i < 109 && tableAt.size() < tableSectors; ++i) {
        tableAt.push_back(le32(h + 76 + 4 * i));
    }
    const std::uint64_t perSector = doc.sectorSize / 4;
    std::uint32_t difat = le32(h + 68);
    for (std::uint64_t hops = 0; tableAt.size() < tableSectors; ++hops) {
        if (difat >= doc.sectors || hops > doc.sectors) {
            return check::damaged("compound document allocation table list: sector " + std::to_string(difat) +
                                  " lies past the end of the file");
        }
        for (std::uint64_t i = 0; i + 1 < perSector && tableAt.size() < tableSectors; ++i) {
            tableAt.push_back(le32(doc.at(difat) + 4 * i));
        }
        difat = le32(doc.at(difat) + 4 * (perSector - 1));
    }
    for (std::uint32_t s : tableAt) {
        if (s >= doc.sectors) {
            return check::damaged("compound document allocation table sector " + std::to_string(s) +
                                  " (byte " + std::to_string(doc.offset(s)) +
                                  ") lies past the end of the file");
        }
        for (std::uint64_t i = 0; i < perSector; ++i) {
            doc.table.push_back(le32(doc.at(s) + 4 * i));
        }
    }
    std::vector<std::uint32_t> directory;
    if (std::string fault =
            doc.walk(le32(h + 48), doc.table, doc.sectors, directory, "compound document directory");
        !fault.empty()) {
        return check::damaged(fault);
    }
    if (directory.empty() || doc.at(directory[0])[66] != 5) {
        return check::damaged("compound document directory has no root entry");
    }
    // The short streams live in the root entry's stream, in 64-byte sectors of their own table.
    const std::uint32_t cutoff = le32(h + 56);
    const unsigned char* root = doc.at(directory[0]);
    std::vector<std::uint32_t> rootChain;
    if (std::string fault = doc.walk(le32(root + 116), doc.table, doc.sectors, rootChain,
                                     "compound document short-stream container");
        !fault.empty()) {
        return check::damaged(fault);
    }
    std::vector<std::uint32_t> shortTableChain;
    if (std::string fault = doc.walk(le32(h + 60), doc.table, doc.sectors, shortTableChain,
                                     "compound document short-stream table");
        !fault.empty()) {
        return check::damaged(fault);
    }
    std::vector<std::uint32_t> shortTable;
    for (std::uint32_t s : shortTableChain) {
        for (std::uint64_t i = 0; i < perSector; ++i) {
            shortTable.push_back(le32(doc.at(s) + 4 * i));
        }
    }
    const std::uint64_t shortSectors = rootChain.size() * (doc.sectorSize / 64);
    std::vector<std::uint32_t> chain;
    const std::uint64_t entriesPerSector = doc.sectorSize / 128;
    for (std::uint64_t i = 1; i < directory.size() * entriesPerSector; ++i) {
        const unsigned char* entry = doc.at(directory[i / entriesPerSector]) + 128 * (i % entriesPerSector);
        if (entry[66] != 2) {
            continue;
        }
        const std::uint64_t size = le32(entry + 120);
        const bool isShort = size < cutoff;
        const std::string what = "compound document stream '" + entryName(entry) + "'";
        if (size == 0) {
            continue;
        }
        std::string fault = isShort ? doc.walk(le32(entry + 116), shortTable, shortSectors, chain, what)
                                    : doc.walk(le32(entry + 116), doc.table, doc.sectors, chain, what);
        if (!fault.empty()) {
            return check::damaged(fault);
        }
        const std::uint64_t unit = isShort ? 64 : doc.sectorSize;
        if (chain.size() * unit < size) {
            return check::damaged(what + ": its sector chain ends after " + std::to_string(chain.size()) +
                                  " of " + std::to_string((size + unit - 1) / unit) + " sectors");
        }
    }
    return check::opens();
}

} // namespace morrow::container
