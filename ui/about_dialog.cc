// about_dialog.cc: the About box's procedure.
#include "ui/about_dialog.h"

#include "ui/resource_ids.h"

namespace pb::ui {

void AboutDialog::OnCommand(DialogSurface& surface, int id, Notification notification) {
  if (notification != Notification::kClicked) return;
  if (id == PB_IDOK || id == PB_IDCANCEL) surface.End(kDialogOk);
}

int ShowAboutDialog(DialogRunner& runner, PB_HWND owner) {
  try {
    AboutDialog dialog;
    return runner.Run(DialogKind::kAbout, owner, dialog);
  } catch (...) {
    return kDialogOk;
  }
}

}  // namespace pb::ui
