#pragma once

#include "verify/CheckBasics.h"

namespace morrow {

// The checks of BMP and PSD pictures, by Morrow's own reading of them (so on every build): the
// headers' fields, then the pixels as far as they can be followed without a decoder library.
namespace raster {

// The headers, then the pixel array: long enough for the dimensions when uncompressed, decoded to
// its end-of-bitmap code when run-length encoded. Pictures that embed a JPEG or PNG stream are not
// checked.
FileVerdict checkBmp(check::Bytes file);

// The header, the three length-prefixed sections, and the composite image: long enough when raw,
// each row's PackBits run decoded to exactly its length when RLE, the zlib stream inflated to the
// picture's length when ZIP.
FileVerdict checkPsd(check::Bytes file);

} // namespace raster

} // namespace morrow
