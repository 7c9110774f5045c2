#include "formats/ZipClassifier.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <utility>

namespace morrow {

namespace {

// Longer names are read no further: none of those that matter is, and a hostile length never
// sizes a buffer.
constexpr std::uint64_t maxName = 32;
// The longest `mimetype` known ("application/vnd.oasis.opendocument.presentation-template") is 56
// bytes; a longer member is no package's.
constexpr std::uint64_t maxMimetype = 96;

bool hasSignature(EvidenceReader& evidence, std::uint64_t at, unsigned char third, unsigned char fourth) {
    unsigned char sig[4] = {};
    evidence.readAt(static_cast<std::int64_t>(at), sig, sizeof sig);
    return sig[0] == 'P' && sig[1] == 'K' && sig[2] == third && sig[3] == fourth;
}

std::string readName(EvidenceReader& evidence, std::uint64_t at, std::uint64_t length, std::uint64_t end) {
    if (length > maxName || at + length > end) {
        return {};
    }
    std::string name(static_cast<std::size_t>(length), '\0');
    evidence.readAt(static_cast<std::int64_t>(at), name.data(), name.size());
    return name;
}

// The bytes of the member whose local header is at L when it is stored (method 0), short, and
// inside the archive; else nothing. PKWARE APPNOTE.TXT 4.3.7: method at 8, compressed size at 18,
// name length at 26, extra field length at 28, the data after the 30 fixed bytes, name and extra.
std::string storedMember(EvidenceReader& evidence, std::uint64_t L, std::uint64_t end) {
    if (L + 30 > end || !hasSignature(evidence, L, 3, 4)) {
        return {};
    }
    const auto at = static_cast<std::int64_t>(L);
    const std::uint64_t size = evidence.le32(at + 18);
    const std::uint64_t data = L + 30 + evidence.le16(at + 26) + evidence.le16(at + 28);
    if (evidence.le16(at + 8) != 0 || size > maxMimetype || data + size > end) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    evidence.readAt(static_cast<std::int64_t>(data), bytes.data(), bytes.size());
    return bytes;
}

} // namespace

void ZipClassifier::Members::note(std::string_view name) {
    if (name == "[Content_Types].xml") {
        contentTypes = true;
    } else if (name == "word/document.xml") {
        wordDocument = true;
    } else if (name == "xl/workbook.xml") {
        workbook = true;
    } else if (name == "ppt/presentation.xml") {
        presentation = true;
    } else if (name == "META-INF/MANIFEST.MF") {
        javaManifest = true;
    } else if (name == "AndroidManifest.xml") {
        androidManifest = true;
    }
}

std::string ZipClassifier::extension(const Members& members) {
    // OpenDocument and EPUB name their type in the `mimetype` member.
    static constexpr std::pair<std::string_view, const char*> mimetypes[] = {
        {"application/vnd.oasis.opendocument.text", ".odt"},
        {"application/vnd.oasis.opendocument.spreadsheet", ".ods"},
        {"application/vnd.oasis.opendocument.presentation", ".odp"},
        {"application/vnd.oasis.opendocument.graphics", ".odg"},
        {"application/epub+zip", ".epub"},
    };
    for (const auto& [type, ext] : mimetypes) {
        if (members.mimetype == type) {
            return ext;
        }
    }
    // Office Open XML: the package's content types and the main part of one of the three.
    if (members.contentTypes) {
        if (members.wordDocument) {
            return ".docx";
        }
        if (members.workbook) {
            return ".xlsx";
        }
        if (members.presentation) {
            return ".pptx";
        }
    }
    // A signed Android package carries a Java manifest too.
    if (members.androidManifest) {
        return ".apk";
    }
    if (members.javaManifest) {
        return ".jar";
    }
    return ".zip";
}

std::string ZipClassifier::classify(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                                    std::uint64_t directory) {
    const auto start = static_cast<std::uint64_t>(H);
    const std::uint64_t size = evidence.size();
    if (start >= size) {
        return extension({});
    }
    const std::uint64_t end = start + std::min(length, size - start);
    Members members;

    // PKWARE APPNOTE.TXT 4.3.12: a central directory header is 46 bytes, then the name (length at
    // 28), the extra field (30) and the comment (32); the member's local header offset, from the
    // archive's first byte, is at 42.
    std::size_t entries = 0;
    if (directory > start) {
        for (std::uint64_t D = directory;
             entries < maxEntries && D + 46 <= end && hasSignature(evidence, D, 1, 2); ++entries) {
            const auto at = static_cast<std::int64_t>(D);
            const std::uint64_t nameLength = evidence.le16(at + 28);
            const std::string name = readName(evidence, D + 46, nameLength, end);
            members.note(name);
            if (name == "mimetype" && members.mimetype.empty()) {
                members.mimetype = storedMember(evidence, start + evidence.le32(at + 42), end);
            }
            D += 46 + nameLength + evidence.le16(at + 30) + evidence.le16(at + 32);
        }
    }
    // No directory of its own (a truncated archive): its local headers as far as their sizes
    // lead. A member written with a data descriptor has no size there, and the walk ends at it.
    if (entries == 0) {
        for (std::uint64_t C = start;
             entries < maxEntries && C + 30 <= end && hasSignature(evidence, C, 3, 4); ++entries) {
            const auto at = static_cast<std::int64_t>(C);
            const std::uint64_t nameLength = evidence.le16(at + 26);
            const std::uint64_t compressedSize = evidence.le32(at + 18);
            const std::string name = readName(evidence, C + 30, nameLength, end);
            members.note(name);
            if (name == "mimetype" && members.mimetype.empty()) {
                members.mimetype = storedMember(evidence, C, end);
            }
            if ((evidence.le16(at + 6) & 0x0008) != 0 && compressedSize == 0) {
                break;
            }
            C += 30 + nameLength + evidence.le16(at + 28) + compressedSize;
        }
    }
    return extension(members);
}

} // namespace morrow
