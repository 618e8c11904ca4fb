// dialog_surface.h: what a dialog procedure may ask of a modal dialog on screen, and the runner
// that shows one; the Win32 dialogs, the terminal forms and the tests' script provide them.
#ifndef PEERBEACON_UI_DIALOG_SURFACE_H_
#define PEERBEACON_UI_DIALOG_SURFACE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "peerbeacon.h"

namespace pb::ui {

inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancel = 2;

// What a control's command reports.
enum class Notification {
  kClicked,          // a button was pressed (Enter and Escape arrive as OK and CANCEL)
  kSelectionChange,  // the user picked another choice of a drop-down
  kOther,
};

enum class HelpCommand {
  kContext,       // open the help file at a topic
  kContextPopup,  // show a topic as a pop-up
};

// The platform's open-file prompt: one filter, a default extension, an existing file required
// and no read-only option.
struct OpenFileRequest {
  const char* filter_name = "";
  const char* filter_pattern = "";
  const char* default_extension = "";
};

// One modal dialog on screen. Texts are 8-bit strings of the system code page. Methods never
// throw out of a platform callback: the platforms catch at their boundary.
class DialogSurface {
 public:
  virtual ~DialogSurface() = default;

  // At most max_chars characters (bytes) of the control's text, never ending inside a
  // double-byte character.
  virtual std::string GetText(int id, size_t max_chars) = 0;
  virtual void SetText(int id, const std::string& text) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  // Drop-down lists: choices are appended in order; -1 selects nothing.
  virtual void AddChoice(int id, const std::string& text) = 0;
  virtual void SelectChoice(int id, int index) = 0;
  // The selected index, -1 when nothing is selected.
  virtual int SelectedChoice(int id) = 0;
  // The string resource string_id in a box captioned "data error", warning icon, one OK
  // button, owned by the dialog; returns when the user has closed it.
  virtual void ShowMessage(int string_id) = 0;
  // Closes the dialog once the current message is handled; the runner returns result.
  virtual void End(int result) = 0;
  virtual void Help(const char* file, HelpCommand command, uint32_t context) = 0;
  // True with the chosen file's full path; false when the user cancelled or it failed.
  virtual bool PromptOpenFile(const OpenFileRequest& request, std::string* path) = 0;
  // The process's current directory, and setting it back (the open-file prompt may move it).
  // An empty text means it could not be read, and restoring it does nothing.
  virtual std::string CurrentDirectory() = 0;
  virtual void RestoreCurrentDirectory(const std::string& directory) = 0;
};

// The platform-neutral half of a dialog: receives its events and acts through the surface.
// Commands are always the procedure's; the initialisation and help requests may be left to
// the platform's default dialog handling, as each procedure's answer says.
class DialogProcedure {
 public:
  virtual ~DialogProcedure() = default;
  // True when the procedure handled the initialisation; the platform then sets the initial
  // focus. False leaves it to the default handling.
  virtual bool OnInit(DialogSurface& surface) = 0;
  virtual void OnCommand(DialogSurface& surface, int id, Notification notification) = 0;
  // Context help asked for the control control_id. True when the procedure handled the
  // request; false leaves it to the default handling (which passes it to the owner).
  virtual bool OnControlHelp(DialogSurface& /*surface*/, int /*control_id*/) { return false; }
};

enum class DialogKind { kSettings, kDirectInput, kAbout };

// Shows one modal dialog owned by owner and feeds its events to procedure. Returns the result
// given to End; a dialog that cannot be shown counts as cancelled (kDialogCancel).
class DialogRunner {
 public:
  virtual ~DialogRunner() = default;
  virtual int Run(DialogKind kind, PB_HWND owner, DialogProcedure& procedure) = 0;
};

// The platform's own runner: real dialogs on Windows, forms on the terminal on Linux.
DialogRunner& PlatformDialogRunner();

}  // namespace pb::ui

#endif  // PEERBEACON_UI_DIALOG_SURFACE_H_
