#include "CompoundDocCarver.h"

#include "CarveEngine.h"

namespace morrow {

// Not built yet: the pass carves nothing.
bool CompoundDocCarver::carve(CarveEngine&, const CarvePass&) { return true; }

} // namespace morrow
