#pragma once

namespace morrow {

class CarveEngine;
struct CarvePass;

class CompoundDocCarver {
public:
    // One pass over one evidence file. True when every candidate was handled, false when the
    // run must end (the message has been shown).
    static bool carve(CarveEngine& engine, const CarvePass& pass);
};

} // namespace morrow
