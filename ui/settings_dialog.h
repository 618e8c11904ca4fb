// settings_dialog.h: the settings dialog: shows the user's section of Peerbeacon.ini, checks
// the input and writes it back.
#ifndef PEERBEACON_UI_SETTINGS_DIALOG_H_
#define PEERBEACON_UI_SETTINGS_DIALOG_H_

#include <cstdint>
#include <string>

#include "core/settings.h"
#include "peerbeacon.h"
#include "ui/dialog_surface.h"

namespace pb::ui {

inline constexpr char kHelpFile[] = "Peerbeacon.hlp";
inline constexpr uint32_t kHelpMainContext = 1000;
// A control's pop-up topic is this base plus its id.
inline constexpr uint32_t kHelpPopupBase = 0x60000;

// The settings file the dialog edits: beside the host's executable (on Linux, the current
// folder when the executable's folder cannot be written).
std::string DialogSettingsPath();

class SettingsDialog : public DialogProcedure {
 public:
  bool OnInit(DialogSurface& surface) override;
  void OnCommand(DialogSurface& surface, int id, Notification notification) override;
  // Every request about a control counts as handled, also for controls without a topic.
  bool OnControlHelp(DialogSurface& surface, int control_id) override;

 private:
  // Writes nothing and shows the first failing check's message when the input is refused.
  void Save(DialogSurface& surface);
  void BrowseNodeList(DialogSurface& surface);
  static void EnableNodeListPath(DialogSurface& surface);

  std::string section_;
  std::string path_;
};

// Shows the settings dialog through runner; the dialog's result, 2 when it was not shown.
int ShowSettingsDialog(DialogRunner& runner, PB_HWND owner);

}  // namespace pb::ui

#endif  // PEERBEACON_UI_SETTINGS_DIALOG_H_
