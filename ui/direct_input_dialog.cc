// direct_input_dialog.cc: the direct-input dialog's procedure and the text it asks for.
#include "ui/direct_input_dialog.h"

#include <cstring>
#include <mutex>
#include <string>

#include "ui/resource_ids.h"

namespace pb::ui {
namespace {

// The direct-input lock and the text it guards, alive for the whole process. Like a critical
// section, the lock may be entered again by the thread that holds it: a host may call
// InputEntry again from a message that the first dialog's loop dispatches on that thread.
// The inner call runs its whole dialog and takes its text before the outer one reads the text
// again.
std::recursive_mutex& DirectInputLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}
char g_direct_input_text[kDirectInputSize];

}  // namespace

bool DirectInputDialog::OnInit(DialogSurface&) {
  memset(text_, 0, kDirectInputSize);
  return true;
}

void DirectInputDialog::OnCommand(DialogSurface& surface, int id, Notification notification) {
  if (notification != Notification::kClicked) return;
  if (id == PB_IDOK) {
    const std::string typed = surface.GetText(PB_IDC_DIRECT_ADDRESS, kDirectInputChars);
    const size_t n = typed.size() < kDirectInputChars ? typed.size() : kDirectInputChars;
    memcpy(text_, typed.data(), n);
    text_[n] = '\0';
    surface.End(kDialogOk);
  } else if (id == PB_IDCANCEL) {
    surface.End(kDialogCancel);
  }
}

bool AskDirectInput(DialogRunner& runner, PB_HWND owner, std::string* text) {
  std::lock_guard<std::recursive_mutex> hold(DirectInputLock());
  DirectInputDialog dialog(g_direct_input_text);
  if (runner.Run(DialogKind::kDirectInput, owner, dialog) != kDialogOk) return false;
  text->assign(g_direct_input_text);
  return true;
}

}  // namespace pb::ui
