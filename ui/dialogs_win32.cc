// dialogs_win32.cc: the Windows surface: modal dialogs from the module's own templates, with
// message boxes, the help engine and the open-file dialog.
#include <windows.h>
// commdlg.h needs the types of windows.h.
#include <commdlg.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/dialog_surface.h"
#include "ui/resource_ids.h"

namespace pb::ui {
namespace {

constexpr size_t kMessageChars = 1023;

// The module that holds the templates and strings: the one this code is linked into.
HINSTANCE OwnModule();

class Win32Surface : public DialogSurface {
 public:
  explicit Win32Surface(HWND dialog) : dialog_(dialog) {}

  std::string GetText(int id, size_t max_chars) override {
    std::vector<char> buffer(max_chars + 1, '\0');
    const UINT n = GetDlgItemTextA(dialog_, id, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), n < buffer.size() ? n : max_chars);
  }
  void SetText(int id, const std::string& text) override {
    SetDlgItemTextA(dialog_, id, text.c_str());
  }
  void Enable(int id, bool enabled) override {
    EnableWindow(GetDlgItem(dialog_, id), enabled ? TRUE : FALSE);
  }
  void AddChoice(int id, const std::string& text) override {
    SendDlgItemMessageA(dialog_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void SelectChoice(int id, int index) override {
    SendDlgItemMessageA(dialog_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int SelectedChoice(int id) override {
    const LRESULT selected = SendDlgItemMessageA(dialog_, id, CB_GETCURSEL, 0, 0);
    return selected == CB_ERR ? -1 : static_cast<int>(selected);
  }
  void ShowMessage(int string_id) override {
    // Wide functions: the Japanese texts read correctly whatever the system code page.
    wchar_t text[kMessageChars + 1] = L"";
    LoadStringW(OwnModule(), static_cast<UINT>(string_id), text, kMessageChars + 1);
    MessageBoxW(dialog_, text, L"data error", MB_ICONWARNING | MB_OK);
  }
  void End(int result) override { EndDialog(dialog_, result); }
  void Help(const char* file, HelpCommand command, uint32_t context) override {
    WinHelpA(dialog_, file, command == HelpCommand::kContext ? HELP_CONTEXT : HELP_CONTEXTPOPUP,
             context);
  }
  bool PromptOpenFile(const OpenFileRequest& request, std::string* path) override {
    // The filter is a list of NUL-terminated pairs closed by an empty string.
    std::string filter = std::string(request.filter_name) + '\0' + request.filter_pattern + '\0';
    filter.push_back('\0');
    char file[MAX_PATH] = "";
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = dialog_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = request.default_extension;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&dialog)) return false;
    *path = file;
    return true;
  }
  std::string CurrentDirectory() override {
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return std::string();
    std::vector<char> buffer(needed + 1, '\0');
    const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return std::string();
    return std::string(buffer.data(), n);
  }
  void RestoreCurrentDirectory(const std::string& directory) override {
    if (!directory.empty()) SetCurrentDirectoryA(directory.c_str());
  }

 private:
  HWND dialog_;
};

Notification NotificationOf(int code) {
  switch (code) {
    case BN_CLICKED:  // also what Enter, Escape and the close box send
      return Notification::kClicked;
    case CBN_SELCHANGE:
      return Notification::kSelectionChange;
    default:
      return Notification::kOther;
  }
}

// Every dialog runs through this one procedure; the neutral procedure rides in DWLP_USER.
// FALSE hands a message to the dialog manager's default handling.
INT_PTR CALLBACK ModalDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      Win32Surface surface(dialog);
      // TRUE: the dialog manager sets the initial focus.
      return reinterpret_cast<DialogProcedure*>(lparam)->OnInit(surface) ? TRUE : FALSE;
    }
    auto* procedure = reinterpret_cast<DialogProcedure*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (procedure == nullptr) return FALSE;
    Win32Surface surface(dialog);
    if (message == WM_COMMAND) {
      procedure->OnCommand(surface, LOWORD(wparam), NotificationOf(HIWORD(wparam)));
      return TRUE;
    }
    if (message == WM_HELP) {
      const auto* info = reinterpret_cast<const HELPINFO*>(lparam);
      // Help about a menu goes to the default handling; help about a control is ours.
      if (info == nullptr || info->iContextType != HELPINFO_WINDOW) return FALSE;
      return procedure->OnControlHelp(surface, info->iCtrlId) ? TRUE : FALSE;
    }
  } catch (...) {
    // Nothing may unwind through the system's dialog code.
    EndDialog(dialog, kDialogCancel);
    return TRUE;
  }
  return FALSE;
}

HINSTANCE OwnModule() { return static_cast<HINSTANCE>(platform::ModuleInstance()); }

const wchar_t* TemplateName(DialogKind kind) {
  switch (kind) {
    case DialogKind::kSettings:
      return L"SETTINGDLG";
    case DialogKind::kDirectInput:
      return L"DINPUTDLG";
    case DialogKind::kAbout:
      break;
  }
  return L"ABOUT";
}

class Win32Runner : public DialogRunner {
 public:
  int Run(DialogKind kind, PB_HWND owner, DialogProcedure& procedure) override {
    const INT_PTR result =
        DialogBoxParamW(OwnModule(), TemplateName(kind), static_cast<HWND>(owner), ModalDialogProc,
                        reinterpret_cast<LPARAM>(&procedure));
    // -1 (and 0 for a bad owner) mean the dialog could not be shown.
    return result == kDialogOk || result == kDialogCancel ? static_cast<int>(result)
                                                          : kDialogCancel;
  }
};

}  // namespace

DialogRunner& PlatformDialogRunner() {
  static Win32Runner runner;
  return runner;
}

}  // namespace pb::ui
