#pragma once

#include <windows.h>

namespace morrow {

// The picture of one owner-drawn button: its bitmap at its own size and at twice that size, for
// screens at 150% and above. Magenta pixels show the button face.
struct ButtonPicture {
    HBITMAP normal = nullptr;
    HBITMAP twice = nullptr;
    int width = 0; // of `normal`, in pixels
    int height = 0;

    // Loads bitmap `id` and its twin `twinId` from `module`; a picture that is missing leaves the
    // button with its caption alone.
    void load(HINSTANCE module, int id, int twinId);
    void release();
};

// Draws an owner-drawn bitmap button as the Qt dialog's ImageButton does: face, raised frame (flat
// with a black border while pressed), black frame and dotted focus rectangle when focused, the
// picture 6 pixels from the right edge and centred vertically, the caption centred in the room to
// its left, engraved when disabled. Pixel sizes follow `dpi` (96 is 100%).
void drawImageButton(const DRAWITEMSTRUCT& item, const ButtonPicture& picture, UINT dpi);

} // namespace morrow
