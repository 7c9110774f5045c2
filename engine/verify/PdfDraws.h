#pragma once

#include "verify/CheckBasics.h"

#include <cstdint>

namespace morrow {

// How much a PDF's pages draw once their forms are drawn as often as they are called: a page may
// draw a form ten times that draws another ten times, six deep, and a 2 KB file asks its renderer
// for a million runs of text. Read by Morrow's own code before the file is handed to poppler,
// from the page tree down through each form's resources; linear in the file, with hard caps.
namespace pdf {

// A run of text shown costs the renderer's layout far more than any other operator (poppler lays
// out a hundred thousand runs drawn on one another in seconds, and ten times as many in minutes):
// it counts as this many operators.
inline constexpr std::uint64_t textWeight = 20;

struct Draws {
    // The operators run inside forms, each form's counted as often as it is drawn (a run of text
    // as textWeight), on the pages read: at most a little past the limit asked for.
    std::uint64_t formOperators = 0;
    // The page (from 1, in the page tree's order) on which the count passed the limit, or 0.
    int page = 0;
    // Whether the page tree was found and read. A count that is not known bounds nothing.
    bool known = false;
};

// The pages' form draws counted until they pass `limit`, over at most `maxPages` pages. Forms
// whose content cannot be read (an unknown filter, a broken stream) count as drawing nothing.
Draws countDraws(check::Bytes file, std::uint64_t limit, int maxPages);

} // namespace pdf

} // namespace morrow
