#pragma once

// Files built to make a check of carved files work far beyond what their size suggests: each is
// well formed, so that a check reads it to its end unless it bounds its own work. Built in
// memory, the same bytes on every call.

#include <string>
#include <utility>
#include <vector>

namespace morrow::test {

// A PDF of one page that draws a form, which draws the next form `fanout` times, `depth` forms
// deep; the last form shows `fanout` runs of text: fanout^depth runs in all (a million at 10
// and 6) from some 2 KB. Its cross-reference table is exact, so the file parses. `packed`, as a
// PDF 1.5 writer makes it: content deflated, the objects that are not streams in an object
// stream, a cross-reference stream.
std::string nestedFormsPdf(int fanout = 10, int depth = 6, bool packed = false);

// A progressive JPEG of `width` by `height` pixels and `components` components (1 to 4), each
// sampled 1 by 1: a DC scan of every component, then `scans` AC scans that each end every block
// of a component at once with runs of end-of-block codes. Without a fault: every scan is coded
// in full, so a decoder walks every block of the component in every scan.
std::string emptyScansJpeg(int scans = 3000, int width = 9000, int height = 9000, int components = 3);

// A TIFF of `directories` 8-bit grey pictures of `width` by `height` pixels, deflated: every
// directory's strips point at the same deflated strip of zeros (some 60 KB at 9000 by 9000).
// Every picture decodes without a fault.
std::string manyDirectoriesTiff(int directories = 999, int width = 9000, int height = 9000);

// A GIF whose frames have the sizes given, on a screen as large as the largest: frames of one
// pixel are coded whole; a larger frame carries the same one pixel of data, so a decoder that
// reads it finds it cut short, and only a check that counts its pixels first refuses it whole.
std::string framesGif(const std::vector<std::pair<int, int>>& frames);

} // namespace morrow::test
