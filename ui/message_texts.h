// message_texts.h: the Japanese texts of the dialogs as Shift-JIS bytes (code page 932), for
// surfaces that have no resource table of their own and convert them for display.
#ifndef PEERBEACON_UI_MESSAGE_TEXTS_H_
#define PEERBEACON_UI_MESSAGE_TEXTS_H_

namespace pb::ui {

// The message of string resource string_id (500 to 505); null for any other id.
const char* MessageTextSjis(int string_id);

// The direct-input dialog's caption, field label and cancel button.
extern const char kDirectInputCaptionSjis[];
extern const char kDirectInputLabelSjis[];
extern const char kDirectInputCancelSjis[];

}  // namespace pb::ui

#endif  // PEERBEACON_UI_MESSAGE_TEXTS_H_
