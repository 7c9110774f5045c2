#include "HeaderFooterCarver.h"

#include "CarveEngine.h"

namespace morrow {

// Not built yet: the pass carves nothing.
bool HeaderFooterCarver::carve(CarveEngine&, const CarvePass&) { return true; }

} // namespace morrow
