#include "SizeDrivenCarver.h"

#include "CarveEngine.h"

namespace morrow {

// Not built yet: the pass carves nothing.
bool SizeDrivenCarver::carve(CarveEngine&, const CarvePass&) { return true; }

} // namespace morrow
