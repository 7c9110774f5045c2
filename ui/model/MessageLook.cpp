#include "MessageLook.h"

namespace morrow {

MessageLook messageLook(int style) {
    MessageLook look;
    switch (style & 0x0F) {
    case 0x01:
        look.buttons = MessageButtons::OkCancel;
        break;
    case 0x03:
        look.buttons = MessageButtons::YesNoCancel;
        break;
    case 0x04:
        look.buttons = MessageButtons::YesNo;
        break;
    default:
        look.buttons = MessageButtons::Ok;
        break;
    }
    switch (style & 0xF0) {
    case 0x10:
        look.icon = MessageIcon::Stop;
        break;
    case 0x20:
        look.icon = MessageIcon::Question;
        break;
    case 0x30:
        look.icon = MessageIcon::Exclamation;
        break;
    case 0x40:
        look.icon = MessageIcon::Information;
        break;
    default:
        look.icon = MessageIcon::None;
        break;
    }
    return look;
}

int appMessageStyle(int style) {
    const int buttons = style & 0x0F;
    if ((style & 0xF0) == 0 && (buttons == 0x00 || buttons == 0x01 || buttons == 0x03 || buttons == 0x04)) {
        style |= 0x30;
    }
    return style;
}

} // namespace morrow
