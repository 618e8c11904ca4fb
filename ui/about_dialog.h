// about_dialog.h: the About box, which names the plug-in and its version.
#ifndef PEERBEACON_UI_ABOUT_DIALOG_H_
#define PEERBEACON_UI_ABOUT_DIALOG_H_

#include "peerbeacon.h"
#include "ui/dialog_surface.h"

namespace pb::ui {

// Its texts stand in the template; OK, Enter, Escape and the close box all end it with 1.
// Everything but commands, its initialisation and help requests included, is left to the
// platform's default handling.
class AboutDialog : public DialogProcedure {
 public:
  bool OnInit(DialogSurface&) override { return false; }
  void OnCommand(DialogSurface& surface, int id, Notification notification) override;
};

int ShowAboutDialog(DialogRunner& runner, PB_HWND owner);

}  // namespace pb::ui

#endif  // PEERBEACON_UI_ABOUT_DIALOG_H_
