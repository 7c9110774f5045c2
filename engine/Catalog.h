#pragma once

#include "CarveState.h"
#include "base/FileType.h"
#include "formats/ExactEnds.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace morrow {

// The carver family that carves a kind.
enum class CarverFamily { HeaderFooter, SizeDriven, CompoundDoc };

// Everything Morrow knows of one carvable kind: one row of the kind table, which every part
// reads (the run's dispatch, the kind list, the console's words and tally, the carvers' per-kind
// data). Signatures are upper-case hex text; a header entry may hold several alternatives
// separated by commas (TIFF, HTML).
struct KindInfo {
    FileTypeId id;
    // The kind list's row: the key by which a run finds the selected kinds, so it must stay
    // exactly as written. The three video kinds share one row.
    const char* rowText;
    int listPosition;                   // where that row stands in the kind list
    std::int32_t CarveState::*selected; // the flag the row's tick sets
    bool picture;                       // one of the rows "All Picture Files" ticks
    // The console's words for the row (-t), the first its name; the rest are aliases.
    std::array<const char*, 4> words;
    const char* tallyName; // the console's name of the kind in its closing tally

    const char* kindTag;   // in carved file names: "JPEGFile"
    const char* extension; // with its dot; empty when the carver picks it
    const char* headerSignature;
    // The exact-ends mode's header signature where it differs, its 00 bytes real zeros; else null.
    const char* exactHeaderSignature;
    const char* footerSignature; // empty: the kind has no footer

    CarverFamily carver;
    // PDF: a header/footer pass follows the size-driven one and takes the headers it could not
    // measure.
    bool footerPassAfter;
    const char* passLabel;   // shown after the tag while its headers are searched; null for none
    bool headerShifted;      // the signature sits 4 bytes after the sector start (the MP4 family)
    bool labelsAlternatives; // each header alternative searched under its own label "(1)", "(2)"...
    int footerTail;          // bytes after the footer that belong to the file (PNG's IEND CRC)
    ExactReader
        exactReader; // the exact-ends mode's reader; null where the carver's rules follow the structure
    // Its files may hold whole files of other kinds (frames, members, thumbnails): an exact-ends
    // run measures them before its passes, and does not carve those again.
    bool holdsOthers;
    // What such a file's structure points at (its members, frames, streams): only a file that
    // starts inside one of those is taken for its bytes. Null: it vouches for none.
    PartsReader partsReader;
};

// The table, one row per FileTypeId in order, which is also the fixed order of carving.
std::span<const KindInfo> kindTable();
const KindInfo& kindInfo(FileTypeId id);

// The kind list's row texts, in the order they are added to the list.
const std::vector<std::string>& kindRowNames();
// The six rows that "All Picture Files" ticks, in list order.
const std::vector<std::string>& pictureRowNames();

// Every word the console takes for -t: the kinds' words in table order, then "pictures" and "all".
std::vector<std::string> kindWords();
// The kind list rows a console word ticks, in list order; empty for a word that is none.
std::vector<std::string> rowsForWord(const std::string& word);

} // namespace morrow
