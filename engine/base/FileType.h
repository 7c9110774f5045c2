#pragma once

namespace morrow {

// The index of a carvable kind, low enough for every layer: the formats and the output name
// kinds too. What each kind is (its signatures, names and carver) is the kind table, Catalog.h.
// The "Video Files" row of the kind list covers three entries (10, 11 and 12), one per container
// family.
using FileTypeId = int;

namespace kind {
inline constexpr FileTypeId Bmp = 0;
inline constexpr FileTypeId Gif = 1;
inline constexpr FileTypeId Jpeg = 2;
inline constexpr FileTypeId Tiff = 3;
inline constexpr FileTypeId Png = 4;
inline constexpr FileTypeId Psd = 5;
inline constexpr FileTypeId CompoundDoc = 6;
inline constexpr FileTypeId Pdf = 7;
inline constexpr FileTypeId Html = 8;
inline constexpr FileTypeId Zip = 9;
inline constexpr FileTypeId VideoRiff = 10;
inline constexpr FileTypeId VideoQuickTime = 11;
inline constexpr FileTypeId VideoAsf = 12;
inline constexpr int count = 13;
} // namespace kind

} // namespace morrow
