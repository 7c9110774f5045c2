#pragma once

namespace morrow {

class PassContext;
struct CarvePass;

class HeaderFooterCarver {
  public:
    // One pass over one evidence file. True when every candidate was handled, false when the
    // run must end (the message has been shown).
    static bool carve(PassContext& context, const CarvePass& pass);
};

} // namespace morrow
