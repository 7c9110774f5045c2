#pragma once

namespace morrow {

// The buttons and icon of a message box, by the style value the engine passes: buttons in the low
// nibble, icon in the next. A front end draws them with its own toolkit.
enum class MessageButtons { Ok, OkCancel, YesNoCancel, YesNo };
enum class MessageIcon { None, Stop, Question, Exclamation, Information };

struct MessageLook {
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

MessageLook messageLook(int style);

// The answer of a box's Cancel button (Yes, No and OK are the engine's answerYes, answerNo and
// answerOk).
inline constexpr int answerCancel = 2;

// The style an application message is shown with: one without an icon of its own gets the
// exclamation mark, unless its buttons are of the kinds that never carry one.
int appMessageStyle(int style);

} // namespace morrow
