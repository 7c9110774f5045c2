#include "formats/CompoundDocClassifier.h"

#include "evidence/EvidenceReader.h"
#include "search/HexText.h"

#include <array>

namespace morrow {

namespace {

constexpr std::int64_t sectorSize = 512;
constexpr std::int64_t endOfChain = -2;

// A directory entry starts with its name in UTF-16LE. The names are told apart by the Padded hex
// text of the entry's first 15 bytes, or of its first characters, in this order; a zero byte is
// the single digit "0" in that text, which is why the literals look shifted.
struct NameTest {
    std::size_t length; // characters of the text compared; 0 for all of it
    const char* literal;
    const char* extension;
};

const NameTest nameTests[] = {
    {0, "5706F07206404406F063075", ".doc"}, // WordDocu(ment)
    {0, "5706F07206B06206F06F06B", ".xls"}, // Workbook
    {11, "4206F06F06B", ".xls"},            // Book
    {0, "5006F07706507205006F069", ".ppt"}, // PowerPoi(nt Document)
    {9, "500500340", ".ppt"},               // PP4(0)
    {20, "4306107406106C06F067", ".db"},    // Catalog
};

// The extension for the first entry of directory sector `sector` that carries a known name, or
// null. A negative sector number is a special table value (free, FAT or DIFAT sector), not a
// place in the document: the header sector or bytes before the document, which hold no
// directory, so nothing is read and nothing matches.
const char* searchSector(EvidenceReader& evidence, std::int64_t H, std::int64_t sector) {
    if (sector < 0) {
        return nullptr;
    }
    const std::int64_t position = H + (sector + 1) * sectorSize;
    for (std::int64_t entry = 0; entry < sectorSize; entry += 128) {
        std::array<unsigned char, 16> name{};
        evidence.readAt(position + entry, name.data(), 15);
        const std::string text = HexText::fromBytes(name.data(), 15, HexStyle::Padded);
        for (const NameTest& t : nameTests) {
            if (t.length == 0 ? text == t.literal : text.compare(0, t.length, t.literal) == 0) {
                return t.extension;
            }
        }
    }
    return nullptr;
}

} // namespace

std::string CompoundDocClassifier::classify(EvidenceReader& evidence, std::int64_t H,
                                            const std::vector<std::int64_t>& table, std::int64_t firstIndex,
                                            std::int64_t tableSize, std::vector<std::uint64_t>* searched) {
    auto note = [searched](std::int64_t sector) {
        if (searched != nullptr) {
            searched->push_back(static_cast<std::uint64_t>(sector));
        }
    };
    const std::int64_t held = static_cast<std::int64_t>(table.size());
    if (tableSize < 0) {
        tableSize = firstIndex + held;
    }
    auto heldAt = [&](std::int64_t z) { return z >= firstIndex && z - firstIndex < held; };

    // The list is the first directory sector followed by the table entries at its own index and
    // the indexes after it, up to the first end of chain: the directory's chain when its sectors
    // follow each other, whatever follows otherwise.
    std::int64_t z = evidence.le32(H + 48);
    note(z);
    if (const char* ext = searchSector(evidence, H, z)) {
        return ext;
    }
    if (z >= tableSize || !heldAt(z)) {
        return ".ukn";
    }
    std::int64_t v = table[static_cast<std::size_t>(z - firstIndex)];
    if (v == endOfChain) {
        return ".ukn";
    }
    while (z < tableSize - 1) {
        note(v);
        if (const char* ext = searchSector(evidence, H, v)) {
            return ext;
        }
        ++z;
        if (!heldAt(z)) {
            break;
        }
        v = table[static_cast<std::size_t>(z - firstIndex)];
        if (v == endOfChain) {
            break;
        }
    }
    return ".ukn";
}

} // namespace morrow
