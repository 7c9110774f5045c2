#include "ImageButtonWin32.h"

#include <algorithm>
#include <string>

namespace morrow {

void ButtonPicture::load(HINSTANCE module, int id, int twinId) {
    release();
    normal = static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    twice = static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(twinId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP info{};
    if (normal != nullptr && GetObjectW(normal, sizeof info, &info) != 0) {
        width = info.bmWidth;
        height = info.bmHeight;
    }
}

void ButtonPicture::release() {
    for (HBITMAP* b : {&normal, &twice}) {
        if (*b != nullptr) {
            DeleteObject(*b);
            *b = nullptr;
        }
    }
    width = height = 0;
}

void drawImageButton(const DRAWITEMSTRUCT& item, const ButtonPicture& picture, UINT dpi) {
    if (item.CtlType != ODT_BUTTON) {
        return;
    }
    const auto px = [dpi](int v) { return MulDiv(v, static_cast<int>(dpi), 96); };
    HDC dc = item.hDC;
    const RECT a = item.rcItem;
    RECT b = a;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool focused = (item.itemState & ODS_FOCUS) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;

    FillRect(dc, &a, GetSysColorBrush(COLOR_BTNFACE));
    if (focused) {
        InflateRect(&b, -1, -1);
    }
    RECT c = b;
    InflateRect(&c, -3, -3);
    if (!pressed) {
        RECT frame = b;
        DrawFrameControl(dc, &frame, DFC_BUTTON, DFCS_BUTTONPUSH);
    }
    if (!disabled) {
        HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        if (focused) {
            FrameRect(dc, &a, black);
        }
        if (pressed) {
            FrameRect(dc, &b, black);
        }
    }
    if (focused && (item.itemState & ODS_NOFOCUSRECT) == 0) {
        DrawFocusRect(dc, &c);
    }

    // Layout: the picture 6 pixels from the right edge, centred vertically; the caption left of it.
    const int W = a.right - a.left;
    const int H = a.bottom - a.top;
    const int w = px(picture.width);
    const int h = px(picture.height);
    const int shift = pressed ? 1 : 0;
    int left = W - w - px(6);
    int top = H - h;
    if (top > 0) {
        top = std::max(top / 2, px(4));
    }
    if (picture.normal != nullptr) {
        const bool useTwice = picture.twice != nullptr && dpi > 120;
        HDC mem = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(mem, useTwice ? picture.twice : picture.normal);
        const int sw = useTwice ? picture.width * 2 : picture.width;
        const int sh = useTwice ? picture.height * 2 : picture.height;
        TransparentBlt(dc, a.left + left + shift, a.top + top + shift, w, h, mem, 0, 0, sw, sh,
                       RGB(255, 0, 255));
        SelectObject(mem, old);
        DeleteDC(mem);
    } else {
        left = W; // no picture: the caption has the whole face
    }

    wchar_t caption[64] = {};
    GetWindowTextW(item.hwndItem, caption, 64);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(GetParent(item.hwndItem), WM_GETFONT, 0, 0));
    if (font == nullptr) {
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    RECT text{a.left + px(6) + shift, a.top + px(6) + shift, a.left + left - px(6) + shift,
              a.bottom - px(6) + shift};
    const UINT format =
        DT_CENTER | DT_VCENTER | DT_SINGLELINE | ((item.itemState & ODS_NOACCEL) != 0 ? DT_HIDEPREFIX : 0);
    if (disabled) {
        RECT engraved = text;
        OffsetRect(&engraved, 1, 1);
        SetTextColor(dc, GetSysColor(COLOR_WINDOW));
        DrawTextW(dc, caption, -1, &engraved, format);
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    } else {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    }
    DrawTextW(dc, caption, -1, &text, format);
    SelectObject(dc, oldFont);
}

} // namespace morrow
