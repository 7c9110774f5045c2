#pragma once

#include "verify/CheckBasics.h"

namespace morrow {

// The check of an MP4, MOV or 3GP movie, by Morrow's own walk of its boxes (so on every build):
// every top-level box within the file, a movie box, and in every track's sample table each chunk's
// samples (chunk offset plus the sizes of its samples) within the file. The frames themselves are
// not decoded.
namespace movie {

FileVerdict checkQuickTime(check::Bytes file);

} // namespace movie

} // namespace morrow
