// main.cc: peerbeacon-host, the reference messenger host that loads and drives a plug-in.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/command_table.h"
#include "host/host_window.h"
#include "host/lifecycle.h"
#include "host/line_editor.h"
#include "host/memo_receiver.h"
#include "host/options.h"
#include "host/plugin_api.h"
#include "host/plugin_module.h"
#include "host/terminal_text.h"
#include "host/text_escape.h"

namespace pbhost {
namespace {

// Exit status: which stage ended the run.
enum ExitCode {
  kExitOk = 0,
  kExitCommandFailed = 1,  // some command reported ERR
  kExitUsage = 2,
  kExitLoad = 3,      // the plug-in file or a required export is missing
  kExitInit = 4,      // InitializeNetEx did not return 1
  kExitPlatform = 5,  // no window or no socket library
};

// Without these the host cannot start or stop the plug-in, whatever --allow-missing says.
constexpr const char* kLifecycleExports[] = {"InitializeNetEx", "UnInitializeNetEx"};

std::string JoinMissing(const PluginApi& api) {
  std::string names;
  for (const std::string& name : api.missing) names += (names.empty() ? "" : ",") + name;
  return names.empty() ? "-" : names;
}

// The plug-in that is loaded when --plugin names none: the one beside this program when it is
// there (a build folder, a copied set), else the one in the installed layout, found relative to
// this program so that an installed tree can be moved as a whole. PB_INSTALLED_PLUGIN_DIR, set
// by the build, is the plug-in's install folder relative to the program's.
std::string DefaultPluginPath() {
  const std::string folder = ExecutableDirectory();
  const std::string beside = folder + "Peerbeacon.nxl";
  std::error_code error;
  if (!folder.empty() && !std::filesystem::exists(beside, error)) {
    const std::filesystem::path installed =
        (std::filesystem::path(folder) / PB_INSTALLED_PLUGIN_DIR / "Peerbeacon.nxl")
            .lexically_normal();
    if (std::filesystem::exists(installed, error)) return installed.string();
  }
  return beside;
}

int Run(const Options& options) {
  // Never destroyed: a memo connection thread may still report a memo while the process ends.
  Output& out = *new Output(options.machine);
  std::string encoding, error;
  if (!ResolveEncoding(options.encoding, options.machine, &encoding, &error)) {
    out.Warn(error);
    return kExitUsage;
  }
  SetTerminalEncoding(encoding);
  const std::string path = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
  std::unique_ptr<PluginModule> module = PluginModule::Open(path, &error);
  if (!module) {
    out.Machine("ERR load: " + EscapeMachine(error));
    out.Warn("cannot load " + path + ": " + error);
    return kExitLoad;
  }
  const PluginApi api = BindExports(*module);
  out.Machine("LOADED path=\"" + EscapeMachine(path) +
              "\" exports=" + std::to_string(kExportNames.size() - api.missing.size()) +
              " missing=" + JoinMissing(api));
  out.Human("loaded " + path);
  if (!api.missing.empty()) {
    const std::string list = JoinMissing(api);
    bool fatal = !options.allow_missing;
    for (const char* name : kLifecycleExports) fatal = fatal || !api.Has(name);
    if (fatal) {
      out.Machine("ERR load: missing exports " + list);
      out.Warn(path + " lacks the export(s) " + list);
      return kExitLoad;
    }
    out.Warn("missing export(s) " + list + "; the commands that need them are disabled");
  }

  std::ifstream script;
  if (!options.script.empty()) {
    script.open(options.script);
    if (!script) {
      out.Warn("cannot read the script " + options.script);
      return kExitUsage;
    }
  }
  std::istream& input = options.script.empty() ? std::cin : script;
  const bool interactive = options.script.empty() && StdinIsTerminal();

  SetMemoOutput(&out);
  const int result = RunWithWindow(
      [&](WindowThread& window) {
        Session session{api, window, out};
        if (!StartPlugin(session, options.text, options.announce)) {
          StopPlugin(session);
          return static_cast<int>(kExitInit);
        }
        if (interactive) out.Human("type help for the commands");
        bool ok = false;
        std::unique_ptr<LineEditor> editor;
        if (interactive) {
          std::vector<std::string> names;
          for (const Command& command : Commands()) names.push_back(command.name);
          editor = MakeLineEditor(stdin, stdout, "pb> ", std::move(names));
        }
        if (editor) {
          out.SetTerminalLine(editor.get());
          ok = RunCommandLoop(session, *editor);
          out.SetTerminalLine(nullptr);
        } else {
          ok = RunCommandLoop(session, input, interactive);
        }
        StopPlugin(session);
        return static_cast<int>(ok ? kExitOk : kExitCommandFailed);
      },
      &error);
  if (result < 0) {
    out.Warn(error);
    return kExitPlatform;
  }
  // The module stays loaded until the process ends: a detached memo connection thread of the
  // plug-in may still be finishing after UnInitializeNetEx, and its code must not vanish. It
  // is kept where the process can still reach it, so leak checkers do not count it.
  [[maybe_unused]] static PluginModule* const kept_module = module.release();
  return result;
}

}  // namespace
}  // namespace pbhost

int main(int argc, char** argv) {
  pbhost::Options options;
  std::string error;
  if (!pbhost::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::cerr << "peerbeacon-host: " << error << "\n" << pbhost::kUsage;
    return pbhost::kExitUsage;
  }
  if (options.help) {
    std::cout << pbhost::kUsage;
    return pbhost::kExitOk;
  }
  return pbhost::Run(options);
}
