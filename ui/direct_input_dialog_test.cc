// direct_input_dialog_test.cc: the direct-input dialog's procedure, which procedures take help
// and initialisation, and the About box's commands, through a scripted surface.
#include "ui/direct_input_dialog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/plugin_state.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "ui/about_dialog.h"
#include "ui/resource_ids.h"
#include "ui/scripted_surface_test.h"
#include "ui/settings_dialog.h"

namespace pb::ui {
namespace {

using testing::Click;
using testing::ScriptedRunner;
using testing::ScriptedSurface;

TEST(DirectInputDialogTest, DialogStartsEmptyAndOtherCommandsDoNothing) {
  char text[kDirectInputSize];
  memset(text, 'q', sizeof text);
  DirectInputDialog dialog(text);
  ScriptedSurface s;
  dialog.OnInit(s);
  EXPECT_EQ(text[0], '\0');
  for (int id : {PB_IDC_DIRECT_ADDRESS, 3, 206}) Click(s, dialog, id);
  dialog.OnCommand(s, PB_IDOK, Notification::kOther);
  EXPECT_EQ(s.end_calls, 0);
}

// Which messages each procedure takes and which it leaves to the platform's default handling:
// only the settings dialog answers help requests; the About box leaves its initialisation.
TEST(DialogProcedureTest, InitialisationAndHelpGoToTheDefaultHandlingWhereNotTheirs) {
  char text[kDirectInputSize];
  DirectInputDialog direct_input(text);
  AboutDialog about;
  SettingsDialog settings;
  const struct {
    const char* name;
    DialogProcedure& procedure;
    bool handles_init;
    bool handles_help;
  } cases[] = {{"direct input", direct_input, true, false},
               {"about", about, false, false},
               {"settings", settings, true, true}};
  for (const auto& c : cases) {
    ScriptedSurface s;
    EXPECT_EQ(c.procedure.OnInit(s), c.handles_init) << c.name;
    for (int id : {PB_IDOK, PB_IDC_MCST_ADDR, PB_IDC_DIRECT_ADDRESS}) {
      EXPECT_EQ(c.procedure.OnControlHelp(s, id), c.handles_help) << c.name << " " << id;
    }
  }
}

TEST(AboutDialogTest, OkEnterEscapeAndCloseAllEndWithOne) {
  for (int id : {PB_IDOK, PB_IDCANCEL}) {
    ScriptedRunner runner([id](ScriptedSurface& s, DialogProcedure& p) {
      Click(s, p, 206);  // anything else is ignored
      EXPECT_EQ(s.end_calls, 0);
      Click(s, p, id);
    });
    EXPECT_EQ(ShowAboutDialog(runner, nullptr), kDialogOk);
    EXPECT_EQ(runner.last_kind, DialogKind::kAbout);
  }
}

}  // namespace
}  // namespace pb::ui
