// direct_input_dialog.h: the direct-input dialog, which asks the user for a peer's IPv4
// address; InputEntry turns the text into the host's record.
#ifndef PEERBEACON_UI_DIRECT_INPUT_DIALOG_H_
#define PEERBEACON_UI_DIRECT_INPUT_DIALOG_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "peerbeacon.h"
#include "ui/dialog_surface.h"

namespace pb::ui {

// The text buffer shared by the dialog and InputEntry, and the most it takes from the field.
inline constexpr size_t kDirectInputSize = 256;
inline constexpr size_t kDirectInputChars = 254;

class DirectInputDialog : public DialogProcedure {
 public:
  // text: kDirectInputSize bytes; emptied when the dialog opens, filled by OK.
  explicit DirectInputDialog(char* text) : text_(text) {}
  // Empties the text; the platform sets the initial focus.
  bool OnInit(DialogSurface& surface) override;
  void OnCommand(DialogSurface& surface, int id, Notification notification) override;

 private:
  char* text_;
};

// Shows the dialog through runner while holding the direct-input lock, so that concurrent
// callers see their dialogs one after the other. True with the text as typed (at most
// kDirectInputChars bytes) when the user pressed OK. Throws only what the lock or the dialog
// throws.
bool AskDirectInput(DialogRunner& runner, PB_HWND owner, std::string* text);

}  // namespace pb::ui

#endif  // PEERBEACON_UI_DIRECT_INPUT_DIALOG_H_
