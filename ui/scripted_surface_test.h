// scripted_surface_test.h: a dialog surface without a screen for the procedures' tests: it
// keeps the controls' state, records what the procedure asked for, and runs a user script.
#ifndef PEERBEACON_UI_SCRIPTED_SURFACE_TEST_H_
#define PEERBEACON_UI_SCRIPTED_SURFACE_TEST_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_surface.h"

namespace pb::ui::testing {

struct ScriptedControl {
  std::string text;
  bool enabled = true;
  std::vector<std::string> choices;
  int selected = -1;
};

struct HelpCall {
  std::string file;
  HelpCommand command;
  uint32_t context;
};

class ScriptedSurface : public DialogSurface {
 public:
  std::string GetText(int id, size_t max_chars) override {
    return controls[id].text.substr(0, max_chars);
  }
  void SetText(int id, const std::string& text) override { controls[id].text = text; }
  void Enable(int id, bool enabled) override { controls[id].enabled = enabled; }
  void AddChoice(int id, const std::string& text) override { controls[id].choices.push_back(text); }
  void SelectChoice(int id, int index) override {
    ScriptedControl& c = controls[id];
    c.selected = index >= 0 && static_cast<size_t>(index) < c.choices.size() ? index : -1;
  }
  int SelectedChoice(int id) override { return controls[id].selected; }
  void ShowMessage(int string_id) override { messages.push_back(string_id); }
  void End(int value) override {
    ++end_calls;
    result = value;
  }
  void Help(const char* file, HelpCommand command, uint32_t context) override {
    help_calls.push_back({file, command, context});
  }
  bool PromptOpenFile(const OpenFileRequest& request, std::string* path) override {
    open_requests.push_back(request);
    directory_during_prompt = directory;
    directory = "moved-by-prompt";  // the real dialog may change the current directory
    if (!file_to_choose) return false;
    *path = *file_to_choose;
    return true;
  }
  std::string CurrentDirectory() override { return directory; }
  void RestoreCurrentDirectory(const std::string& saved) override { directory = saved; }

  std::map<int, ScriptedControl> controls;
  std::vector<int> messages;
  std::vector<HelpCall> help_calls;
  std::vector<OpenFileRequest> open_requests;
  std::optional<std::string> file_to_choose;
  std::string directory = "start-dir";
  std::string directory_during_prompt;
  int end_calls = 0;
  int result = -1;
};

// Runs a dialog on a ScriptedSurface: initialisation, then the user's script. Counts how many
// of its dialogs are open at once.
class ScriptedRunner : public DialogRunner {
 public:
  using Script = std::function<void(ScriptedSurface&, DialogProcedure&)>;
  explicit ScriptedRunner(Script script) : script_(std::move(script)) {}

  int Run(DialogKind kind, PB_HWND owner, DialogProcedure& procedure) override {
    const int open = ++open_now;
    int seen = most_open.load();
    while (open > seen && !most_open.compare_exchange_weak(seen, open)) {
    }
    ScriptedSurface surface;
    procedure.OnInit(surface);
    if (script_) script_(surface, procedure);
    --open_now;
    {
      std::lock_guard<std::mutex> hold(lock_);
      ++runs;
      last = surface;
      last_kind = kind;
      last_owner = owner;
    }
    return surface.end_calls > 0 ? surface.result : kDialogCancel;
  }

  int runs = 0;
  ScriptedSurface last;
  DialogKind last_kind = DialogKind::kAbout;
  PB_HWND last_owner = nullptr;
  std::atomic<int> open_now{0};
  std::atomic<int> most_open{0};

 private:
  Script script_;
  std::mutex lock_;
};

inline void Click(ScriptedSurface& s, DialogProcedure& p, int id) {
  p.OnCommand(s, id, Notification::kClicked);
}

}  // namespace pb::ui::testing

#endif  // PEERBEACON_UI_SCRIPTED_SURFACE_TEST_H_
