#pragma once

#include "verify/CheckBasics.h"

namespace morrow {

// The checks of files that hold others, with Morrow's own code and zlib (so on every build).
namespace container {

// A ZIP archive (and what is one: DOCX, ODT, JAR, EPUB...): its central directory read from its
// end record, and every member found at its local header and inflated with its CRC-32 checked.
// Encrypted members and methods other than stored and deflate are passed over. At most
// maxInflatedBytes are inflated: a larger archive is not checked.
FileVerdict checkZip(check::Bytes file);
inline constexpr std::uint64_t maxInflatedBytes = std::uint64_t{1} << 30;

// A compound document (DOC, XLS, PPT, MSI...): its allocation table, the directory's sector chain,
// the short-stream table, and every stream's chain long enough for the stream's size, each sector
// in the file.
FileVerdict checkCompoundDoc(check::Bytes file);

} // namespace container

} // namespace morrow
