// dialogs_posix.cc: the Linux surface: each dialog as a form on the terminal, one field per
// line, Enter keeping a value and "-" clearing it; without a terminal every dialog ends as
// cancelled.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "ui/dialog_surface.h"
#include "ui/message_texts.h"
#include "ui/resource_ids.h"
#include "ui/terminal_posix.h"

namespace pb::ui {
namespace {

enum class ItemKind { kHeading, kStatic, kEdit, kDropDown, kButton };

// The answer to a field's prompt that empties the field.
constexpr char kClearAnswer[] = "-";

// One control of a form. Labels are Shift-JIS bytes (plain ASCII for the English ones); key
// is what the user types to press a button. Edit fields hold Shift-JIS, typed and shown in
// the terminal's encoding, except a file path, which holds this system's bytes as typed.
struct FormItem {
  int id;
  ItemKind kind;
  const char* label;
  const char* key = "";
  bool path = false;
};

struct Form {
  const char* caption;
  bool context_help;  // whether its controls have help topics of their own
  std::vector<FormItem> items;
};

const Form& FormOf(DialogKind kind) {
  static const Form settings{
      "entry sheet",
      true,
      {{-1, ItemKind::kHeading, " multicast "},
       {PB_IDC_MCST_ADDR, ItemKind::kEdit, "join address :"},
       {PB_IDC_MCST_IF, ItemKind::kEdit, "I/F address :"},
       {PB_IDC_MCST_PORT, ItemKind::kEdit, "port :"},
       {PB_IDC_MCST_TTL, ItemKind::kEdit, "TTL :"},
       {-1, ItemKind::kHeading, "alias"},
       {PB_IDC_NICKNAME, ItemKind::kEdit, "nickname :"},
       {PB_IDC_GROUP, ItemKind::kEdit, "group :"},
       {PB_IDC_SEED_TYPE, ItemKind::kDropDown, "node list :"},
       {PB_IDC_NODE_LIST_PATH, ItemKind::kEdit, "node list file :", "", true},
       {PB_IDC_NODE_LIST_SELECT, ItemKind::kButton, "sel...", "sel"},
       {PB_IDOK, ItemKind::kButton, "OK", "ok"},
       {PB_IDCANCEL, ItemKind::kButton, "CANCEL", "cancel"},
       {PB_IDC_HELP, ItemKind::kButton, "Help", "help"}}};
  static const Form direct_input{
      kDirectInputCaptionSjis,
      false,
      {{-1, ItemKind::kStatic, kDirectInputLabelSjis},
       {PB_IDC_DIRECT_ADDRESS, ItemKind::kEdit, ">"},
       {PB_IDOK, ItemKind::kButton, "OK", "ok"},
       {PB_IDCANCEL, ItemKind::kButton, kDirectInputCancelSjis, "cancel"}}};
  static const Form about{"About",
                          false,
                          {{-1, ItemKind::kStatic, PB_ABOUT_NAME},
                           {-1, ItemKind::kStatic, PB_ABOUT_VERSION},
                           {-1, ItemKind::kStatic, PB_ABOUT_RIGHTS1},
                           {-1, ItemKind::kStatic, PB_ABOUT_RIGHTS2},
                           {PB_IDOK, ItemKind::kButton, "OK", "ok"}}};
  switch (kind) {
    case DialogKind::kSettings:
      return settings;
    case DialogKind::kDirectInput:
      return direct_input;
    case DialogKind::kAbout:
      break;
  }
  return about;
}

struct Control {
  std::string text;
  bool enabled = true;
  std::vector<std::string> choices;
  int selected = -1;
};

class TerminalSurface : public DialogSurface {
 public:
  explicit TerminalSurface(Terminal& terminal) : terminal_(terminal) {}

  // Field texts are Shift-JIS; like the system's edit controls, the cut never leaves half of
  // a double-byte character.
  std::string GetText(int id, size_t max_chars) override {
    const std::string& text = controls_[id].text;
    return text.substr(0, platform::Cp932FittingLength(text, max_chars));
  }
  void SetText(int id, const std::string& text) override { controls_[id].text = text; }
  void Enable(int id, bool enabled) override { controls_[id].enabled = enabled; }
  void AddChoice(int id, const std::string& text) override {
    controls_[id].choices.push_back(text);
  }
  void SelectChoice(int id, int index) override {
    Control& c = controls_[id];
    c.selected = index >= 0 && static_cast<size_t>(index) < c.choices.size() ? index : -1;
  }
  int SelectedChoice(int id) override { return controls_[id].selected; }
  void ShowMessage(int string_id) override {
    const char* text = MessageTextSjis(string_id);
    terminal_.Write("\n[data error] " + Cp932ForTerminal(text != nullptr ? text : "") +
                    "\n(Enter) ");
    std::string ignored;
    terminal_.ReadLine(&ignored);
  }
  void End(int result) override {
    if (!ended_) result_ = result;
    ended_ = true;
  }
  void Help(const char* file, HelpCommand command, uint32_t context) override {
    terminal_.Write(std::string(command == HelpCommand::kContext ? "help" : "help pop-up") + ": " +
                    file + ", context " + std::to_string(context) + "\n");
  }
  bool PromptOpenFile(const OpenFileRequest& request, std::string* path) override {
    for (;;) {
      terminal_.Write(std::string(request.filter_name) + " " + request.filter_pattern +
                      " - file (empty cancels): ");
      std::string typed;
      if (!terminal_.ReadLine(&typed) || typed.empty()) return false;
      std::filesystem::path chosen(typed);
      if (!chosen.has_extension() && request.default_extension[0] != '\0') {
        chosen += std::string(".") + request.default_extension;
      }
      std::error_code error;
      const std::filesystem::path full = std::filesystem::absolute(chosen, error);
      if (!error && platform::FileExists(full.string())) {
        *path = full.string();
        return true;
      }
      terminal_.Write(Printable(chosen.string()) + ": no such file\n");
    }
  }
  std::string CurrentDirectory() override {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    return error ? std::string() : here.string();
  }
  void RestoreCurrentDirectory(const std::string& directory) override {
    std::error_code error;
    if (!directory.empty()) std::filesystem::current_path(directory, error);
  }

  bool ended() const { return ended_; }
  int result() const { return result_; }
  const Control& control(int id) { return controls_[id]; }

 private:
  Terminal& terminal_;
  std::map<int, Control> controls_;
  bool ended_ = false;
  int result_ = kDialogCancel;
};

// Walks a form: shows it, asks for its fields and then for a button until the procedure ends
// the dialog. End of input counts as Escape.
class FormSession {
 public:
  FormSession(const Form& form, Terminal& terminal, DialogProcedure& procedure)
      : form_(form), terminal_(terminal), procedure_(procedure), surface_(terminal) {}

  int Run() {
    terminal_.Write("\n== " + Cp932ForTerminal(form_.caption) + " ==\n");
    procedure_.OnInit(surface_);
    bool ask_fields = true;
    while (!surface_.ended()) {
      if (ask_fields) {
        ShowStatics();
        if (HasFields()) terminal_.Write("(Enter keeps a value, - clears it)\n");
        if (!AskFields()) return Escape();
        ask_fields = false;
      }
      terminal_.Write(ButtonPrompt());
      std::string line;
      if (!terminal_.ReadLine(&line)) return Escape();
      if (line == "edit" && HasFields()) {
        ask_fields = true;
      } else if (line.rfind("help ", 0) == 0 || line.rfind("? ", 0) == 0) {
        const std::string id = line.substr(line.find(' ') + 1);
        procedure_.OnControlHelp(surface_, atoi(id.c_str()));
      } else if (!PressButton(line.empty() ? "ok" : line)) {
        terminal_.Write("?\n");
      }
    }
    return surface_.result();
  }

 private:
  int Escape() {
    procedure_.OnCommand(surface_, PB_IDCANCEL, Notification::kClicked);
    if (!surface_.ended()) surface_.End(kDialogCancel);
    terminal_.Write("\n");
    return surface_.result();
  }

  bool HasFields() const {
    for (const FormItem& item : form_.items) {
      if (item.kind == ItemKind::kEdit || item.kind == ItemKind::kDropDown) return true;
    }
    return false;
  }

  void ShowStatics() {
    for (const FormItem& item : form_.items) {
      if (item.kind == ItemKind::kStatic)
        terminal_.Write("  " + Cp932ForTerminal(item.label) + "\n");
    }
  }

  bool AskFields() {
    for (const FormItem& item : form_.items) {
      if (item.kind == ItemKind::kHeading) {
        terminal_.Write("[" + Cp932ForTerminal(item.label) + "]\n");
        continue;
      }
      if (item.kind != ItemKind::kEdit && item.kind != ItemKind::kDropDown) continue;
      if (!surface_.control(item.id).enabled) {
        terminal_.Write("  " + Cp932ForTerminal(item.label) + " (disabled) " + Shown(item) + "\n");
        continue;
      }
      if (!(item.kind == ItemKind::kEdit ? AskEdit(item) : AskChoice(item))) return false;
    }
    return true;
  }

  // A field's value as the terminal shows it.
  std::string Shown(const FormItem& item) {
    const std::string& text = surface_.control(item.id).text;
    return Printable(item.path ? text : Cp932ForTerminal(text));
  }

  bool AskEdit(const FormItem& item) {
    for (;;) {
      terminal_.Write("  " + Cp932ForTerminal(item.label) + " [" + Shown(item) + "] ");
      std::string line;
      if (!terminal_.ReadLine(&line)) return false;
      // An empty answer cannot both keep and clear a value: a lone "-" stands for the empty
      // field that a dialog's user gets by deleting the text.
      if (line == kClearAnswer) {
        surface_.SetText(item.id, std::string());
      } else if (!line.empty()) {
        std::string text = line, why;
        if (!item.path && !TypedToCp932(line, &text, &why)) {
          // Stored as typed, the field would reach the settings file and the network as
          // text no Windows peer can read.
          terminal_.Write("  " + why + "; type the value again\n");
          continue;
        }
        surface_.SetText(item.id, text);
      }
      return true;
    }
  }

  bool AskChoice(const FormItem& item) {
    for (;;) {
      const Control& c = surface_.control(item.id);
      std::string prompt = "  " + Cp932ForTerminal(item.label);
      for (size_t i = 0; i < c.choices.size(); ++i) {
        prompt += " " + std::to_string(i) + "=" + Printable(Cp932ForTerminal(c.choices[i]));
      }
      prompt += " [" + (c.selected >= 0 ? std::to_string(c.selected) : std::string()) + "] ";
      terminal_.Write(prompt);
      std::string line;
      if (!terminal_.ReadLine(&line)) return false;
      if (line.empty()) return true;
      char* end = nullptr;
      const long index = strtol(line.c_str(), &end, 10);
      if (*end == '\0' && index >= 0 && static_cast<size_t>(index) < c.choices.size()) {
        surface_.SelectChoice(item.id, static_cast<int>(index));
        procedure_.OnCommand(surface_, item.id, Notification::kSelectionChange);
        return true;
      }
    }
  }

  std::string ButtonPrompt() {
    std::string prompt;
    for (const FormItem& item : form_.items) {
      if (item.kind != ItemKind::kButton || !surface_.control(item.id).enabled) continue;
      prompt += "[" + std::string(item.key) + "] " + Cp932ForTerminal(item.label) + "  ";
    }
    if (HasFields()) prompt += "[edit] fields  ";
    if (form_.context_help) prompt += "[help <id>] control help";
    return prompt + "\n> ";
  }

  bool PressButton(const std::string& key) {
    for (const FormItem& item : form_.items) {
      if (item.kind == ItemKind::kButton && key == item.key && surface_.control(item.id).enabled) {
        procedure_.OnCommand(surface_, item.id, Notification::kClicked);
        return true;
      }
    }
    return false;
  }

  const Form& form_;
  Terminal& terminal_;
  DialogProcedure& procedure_;
  TerminalSurface surface_;
};

class TerminalRunner : public DialogRunner {
 public:
  int Run(DialogKind kind, PB_HWND, DialogProcedure& procedure) override {
    // One terminal, one dialog at a time, as modal dialogs of one owner would be.
    std::lock_guard<std::mutex> hold(lock_);
    Terminal terminal;
    if (!terminal.Open()) return kDialogCancel;
    return FormSession(FormOf(kind), terminal, procedure).Run();
  }

 private:
  std::mutex lock_;
};

}  // namespace

DialogRunner& PlatformDialogRunner() {
  static TerminalRunner* runner = new TerminalRunner;
  return *runner;
}

}  // namespace pb::ui
