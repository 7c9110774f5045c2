#include "evidence/SplitRawEvidence.h"

#include "platform/FileSystem.h"

#include <algorithm>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace morrow {

namespace {

bool allOf(const std::string& text, bool (*test)(char)) {
    return !text.empty() && std::all_of(text.begin(), text.end(), test);
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLower(char c) {
    return c >= 'a' && c <= 'z';
}
bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// Where the suffix of a piece name starts (after the last full stop of the file name), or npos.
std::size_t suffixStart(const std::string& path) {
    const std::size_t slash = path.find_last_of(pathSeparators);
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::string::npos;
    }
    return dot + 1;
}

// Piece suffixes have two characters or more: `split` counts in letters (`aa`, `ab`, … `zz`)
// or, with -d, in digits (`01`, `001`, …); imagers count in digits from `001`.
bool isFirstSuffix(const std::string& s) {
    if (s.size() < 2) {
        return false;
    }
    if (allOf(s, isDigit)) {
        return std::count(s.begin(), s.end(), '0') == static_cast<std::ptrdiff_t>(s.size() - 1) &&
               s.back() == '1';
    }
    return s.find_first_not_of('a') == std::string::npos || s.find_first_not_of('A') == std::string::npos;
}

// The suffix after `s`, or empty past the last one. Digits widen when they run out (`999` gives
// `1000`), as the imagers that go that far do; letters end at `zz…`, as split does.
std::string nextSuffix(std::string s) {
    if (allOf(s, isDigit)) {
        for (std::size_t i = s.size(); i-- > 0;) {
            if (s[i] != '9') {
                ++s[i];
                return s;
            }
            s[i] = '0';
        }
        return "1" + s;
    }
    const bool lower = allOf(s, isLower);
    if (!lower && !allOf(s, isUpper)) {
        return {};
    }
    for (std::size_t i = s.size(); i-- > 0;) {
        if (s[i] != (lower ? 'z' : 'Z')) {
            ++s[i];
            return s;
        }
        s[i] = lower ? 'a' : 'A';
    }
    return {};
}

// On Windows the names are UTF-8 (the wide calls take them) and either separator may come.
bool exists(const std::string& path) {
#ifdef _WIN32
    return pathExists(path);
#else
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
#endif
}

std::string fileName(const std::string& path) {
    return baseName(path);
}

} // namespace

std::vector<std::string> SplitRawEvidence::pieceNames(const std::string& firstPath) {
    std::vector<std::string> names{firstPath};
    const std::size_t start = suffixStart(firstPath);
    if (start == std::string::npos || !isFirstSuffix(firstPath.substr(start))) {
        return names;
    }
    const std::string base = firstPath.substr(0, start);
    for (std::string suffix = nextSuffix(firstPath.substr(start)); !suffix.empty();
         suffix = nextSuffix(suffix)) {
        if (!exists(base + suffix)) {
            break;
        }
        names.push_back(base + suffix);
    }
    return names;
}

std::string SplitRawEvidence::gapAfter(const std::vector<std::string>& pieces) {
    const std::string& first = pieces.front();
    const std::size_t start = suffixStart(first);
    if (start == std::string::npos || !isFirstSuffix(first.substr(start))) {
        return {};
    }
    const std::string base = first.substr(0, start);
    const std::string missing = nextSuffix(pieces.back().substr(start));
    // A thousand names reach past a whole width of numbers (.001 to .999) or letters (.aa to .zz).
    std::vector<std::string> after;
    std::string suffix = missing;
    for (int n = 0; n < 1000 && !suffix.empty(); ++n) {
        suffix = nextSuffix(suffix);
        if (!suffix.empty() && exists(base + suffix)) {
            after.push_back(fileName(base + suffix));
        }
    }
    if (after.empty()) {
        return {};
    }
    std::string leftOut = after.front();
    if (after.size() == 2) {
        leftOut += " and " + after.back();
    } else if (after.size() > 2) {
        leftOut += " to " + after.back() + " (" + std::to_string(after.size()) + " pieces)";
    }
    return "piece " + fileName(base + missing) + " is missing, so " + leftOut + " would be left out";
}

std::unique_ptr<SplitRawEvidence> SplitRawEvidence::open(const std::vector<std::string>& paths,
                                                         std::string& error) {
    std::unique_ptr<SplitRawEvidence> split(new SplitRawEvidence());
    split->path_ = paths.front();
    for (const std::string& path : paths) {
        std::string why;
        auto file = RawEvidence::open(path, why);
        if (!file) {
            error = "piece " + fileName(path) + ": " + why;
            return nullptr;
        }
        const std::uint64_t pieceSize = file->size();
        split->pieces_.push_back({std::move(file), split->size_});
        split->size_ += pieceSize;
    }
    return split;
}

std::size_t SplitRawEvidence::pieceAt(std::uint64_t offset) const {
    // The last piece starting at or before the offset; empty pieces share their start with the
    // next one and so are never chosen.
    const auto after = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                                        [](std::uint64_t o, const Piece& p) { return o < p.start; });
    return static_cast<std::size_t>(after - pieces_.begin()) - 1;
}

std::size_t SplitRawEvidence::read(std::uint64_t offset, void* outVoid, std::size_t length) {
    auto* out = static_cast<unsigned char*>(outVoid);
    std::size_t done = 0;
    while (done < length && offset + done < size_) {
        const Piece& piece = pieces_[pieceAt(offset + done)];
        const std::uint64_t inPiece = offset + done - piece.start;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - done, piece.file->size() - inPiece));
        const std::size_t got = piece.file->read(inPiece, out + done, want);
        done += got;
        if (got < want) {
            break; // the piece failed or was cut under us: what follows it is not the image
        }
    }
    return done;
}

EvidenceSource::CopyResult SplitRawEvidence::copyTo(OutputFile& out, std::uint64_t offset,
                                                    std::uint64_t length) {
    CopyResult result;
    while (result.copied < length && offset + result.copied < size_) {
        const Piece& piece = pieces_[pieceAt(offset + result.copied)];
        const std::uint64_t inPiece = offset + result.copied - piece.start;
        const std::uint64_t want =
            std::min<std::uint64_t>(length - result.copied, piece.file->size() - inPiece);
        const CopyResult part = piece.file->copyTo(out, inPiece, want);
        result.copied += part.copied;
        result.error = part.error;
        if (part.error != 0 || part.copied < want) {
            break; // the caller's buffer takes over from here, or gives up on the error
        }
    }
    return result;
}

void SplitRawEvidence::adviseSequential() {
    for (Piece& piece : pieces_) {
        piece.file->adviseSequential();
    }
}

std::uint64_t SplitRawEvidence::nextData(std::uint64_t offset) {
    if (offset >= size_) {
        return offset;
    }
    for (std::size_t i = pieceAt(offset); i < pieces_.size(); ++i) {
        const Piece& piece = pieces_[i];
        const std::uint64_t from = offset > piece.start ? offset - piece.start : 0;
        const std::uint64_t data = piece.file->nextData(from);
        if (data < piece.file->size()) {
            return piece.start + data;
        }
    }
    return size_;
}

std::string SplitRawEvidence::changed() {
    for (Piece& piece : pieces_) {
        const std::string what = piece.file->changed();
        if (!what.empty()) {
            return "piece " + fileName(piece.file->path()) + ": " + what;
        }
    }
    return {};
}

std::vector<std::string> SplitRawEvidence::segments() const {
    std::vector<std::string> paths;
    for (const Piece& piece : pieces_) {
        paths.push_back(piece.file->path());
    }
    return paths;
}

} // namespace morrow
