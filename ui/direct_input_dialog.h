// direct_input_dialog.h: the direct-input dialog and InputEntry, which turns a typed IPv4
// address into an entry data record for the host.
#ifndef PEERBEACON_UI_DIRECT_INPUT_DIALOG_H_
#define PEERBEACON_UI_DIRECT_INPUT_DIALOG_H_

#include <cstddef>
#include <cstdint>

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
// callers see their dialogs one after the other. Returns 1 with a new global block whose
// handle is stored in *handle_out, 2 otherwise. *handle_out is written only when an address
// was typed: with the block, or null when it could not be allocated. A null handle_out
// gives 2 without showing anything, since the record would have nowhere to go.
int32_t RunInputEntry(DialogRunner& runner, PB_HWND owner, PB_HGLOBAL* handle_out);

}  // namespace pb::ui

#endif  // PEERBEACON_UI_DIRECT_INPUT_DIALOG_H_
