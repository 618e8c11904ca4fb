// settings_dialog_test.cc: the settings dialog's loading, checks, saving, help and node-list
// browsing, driven through a scripted surface against the real settings file.
#include "ui/settings_dialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/resource_ids.h"
#include "ui/scripted_surface_test.h"

namespace pb::ui {
namespace {

using testing::Click;
using testing::ScriptedRunner;
using testing::ScriptedSurface;

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = DialogSettingsPath();
    section_ = UserSectionName();
    std::remove(path_.c_str());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  std::string Read(const char* key) {
    char buffer[2048];
    platform::GetProfileString(section_.c_str(), key, "<missing>", buffer, sizeof buffer,
                               path_.c_str());
    return buffer;
  }
  void Store(const char* key, const char* value) {
    ASSERT_TRUE(platform::WriteProfileString(section_.c_str(), key, value, path_.c_str()));
  }
  bool FileExists() { return platform::FileExists(path_); }

  // Opens the dialog, lets edit change the fields and presses OK.
  ScriptedSurface SubmitWith(const std::function<void(ScriptedSurface&)>& edit) {
    ScriptedRunner runner([&](ScriptedSurface& s, DialogProcedure& p) {
      if (edit) edit(s);
      Click(s, p, PB_IDOK);
    });
    ShowSettingsDialog(runner, nullptr);
    return runner.last;
  }

  std::string path_;
  std::string section_;
};

TEST_F(SettingsDialogTest, WithoutFileShowsDefaultsAndOkWritesAllEightKeys) {
  ScriptedRunner runner([](ScriptedSurface& s, DialogProcedure& p) { Click(s, p, PB_IDOK); });
  EXPECT_EQ(ShowSettingsDialog(runner, reinterpret_cast<PB_HWND>(0x1234)), kDialogOk);
  EXPECT_EQ(runner.last_kind, DialogKind::kSettings);
  EXPECT_EQ(runner.last_owner, reinterpret_cast<PB_HWND>(0x1234));

  auto& c = runner.last.controls;
  EXPECT_EQ(c[PB_IDC_MCST_ADDR].text, "239.191.38.82");
  EXPECT_EQ(c[PB_IDC_MCST_IF].text, "0.0.0.0");
  EXPECT_EQ(c[PB_IDC_MCST_PORT].text, "7129");
  EXPECT_EQ(c[PB_IDC_MCST_TTL].text, "1");
  EXPECT_EQ(c[PB_IDC_NICKNAME].text, section_.substr(0, 60));
  EXPECT_EQ(c[PB_IDC_GROUP].text, "Anonymous");
  EXPECT_EQ(
      c[PB_IDC_SEED_TYPE].choices,
      (std::vector<std::string>{"disable", "nickname", "logon id", "computer name", "ip address"}));
  EXPECT_EQ(c[PB_IDC_SEED_TYPE].selected, 1);
  EXPECT_EQ(c[PB_IDC_NODE_LIST_PATH].text, "");
  EXPECT_TRUE(c[PB_IDC_NODE_LIST_PATH].enabled);
  EXPECT_TRUE(c[PB_IDC_NODE_LIST_SELECT].enabled);
  EXPECT_TRUE(runner.last.messages.empty());
  EXPECT_EQ(runner.last.end_calls, 1);

  EXPECT_EQ(Read("McstPort"), "7129");
  EXPECT_EQ(Read("McstAddr"), "239.191.38.82");
  EXPECT_EQ(Read("McstIF"), "0.0.0.0");
  EXPECT_EQ(Read("McstTTL"), "1");
  EXPECT_EQ(Read("Nickname"), section_.substr(0, 60));
  EXPECT_EQ(Read("Group"), "Anonymous");
  EXPECT_EQ(Read("SeedType"), "0");
  EXPECT_EQ(Read("NodeListPath"), "");
}

TEST_F(SettingsDialogTest, ShowsStoredValuesAndReplacesUnusableAddresses) {
  Store("McstAddr", "not an address");
  Store("McstIF", "10.0.0.300");
  Store("McstPort", "7000");
  Store("McstTTL", "32");
  Store("Nickname", "Bob");
  Store("Group", "Sales>East");
  Store("SeedType", "3");
  Store("NodeListPath", "/srv/nodes.ini");
  Store("CheckFrom", "1");
  ScriptedRunner runner([](ScriptedSurface& s, DialogProcedure& p) { Click(s, p, PB_IDOK); });
  ShowSettingsDialog(runner, nullptr);
  auto& c = runner.last.controls;
  EXPECT_EQ(c[PB_IDC_MCST_ADDR].text, "234.191.38.82");
  EXPECT_EQ(c[PB_IDC_MCST_IF].text, "0.0.0.0");
  EXPECT_EQ(c[PB_IDC_MCST_PORT].text, "7000");
  EXPECT_EQ(c[PB_IDC_MCST_TTL].text, "32");
  EXPECT_EQ(c[PB_IDC_NICKNAME].text, "Bob");
  EXPECT_EQ(c[PB_IDC_GROUP].text, "Sales>East");
  EXPECT_EQ(c[PB_IDC_SEED_TYPE].selected, 4);
  EXPECT_EQ(c[PB_IDC_NODE_LIST_PATH].text, "/srv/nodes.ini");
  // Saving rewrites the dialog's keys and leaves the file's other keys alone.
  EXPECT_EQ(Read("McstAddr"), "234.191.38.82");
  EXPECT_EQ(Read("SeedType"), "3");
  EXPECT_EQ(Read("CheckFrom"), "1");

  for (const char* stored : {"", "255.255.255.255"}) {
    Store("McstAddr", stored);
    ScriptedRunner again(nullptr);
    ShowSettingsDialog(again, nullptr);
    EXPECT_EQ(again.last.controls[PB_IDC_MCST_ADDR].text, "234.191.38.82") << stored;
  }
}

TEST_F(SettingsDialogTest, SeedTypeOutsideTheChoicesShowsDisableAndSavesMinusOne) {
  for (const char* stored : {"-1", "4", "7"}) {
    Store("SeedType", stored);
    ScriptedSurface s = SubmitWith(nullptr);
    EXPECT_EQ(s.controls[PB_IDC_SEED_TYPE].selected, 0) << stored;
    EXPECT_FALSE(s.controls[PB_IDC_NODE_LIST_PATH].enabled) << stored;
    EXPECT_FALSE(s.controls[PB_IDC_NODE_LIST_SELECT].enabled) << stored;
    EXPECT_EQ(Read("SeedType"), "-1") << stored;
  }
}

TEST_F(SettingsDialogTest, SelectionChangeSwitchesThePathAndItsButton) {
  ScriptedRunner runner([](ScriptedSurface& s, DialogProcedure& p) {
    s.SelectChoice(PB_IDC_SEED_TYPE, 0);
    p.OnCommand(s, PB_IDC_SEED_TYPE, Notification::kSelectionChange);
    EXPECT_FALSE(s.controls[PB_IDC_NODE_LIST_PATH].enabled);
    EXPECT_FALSE(s.controls[PB_IDC_NODE_LIST_SELECT].enabled);
    s.SelectChoice(PB_IDC_SEED_TYPE, 3);
    p.OnCommand(s, PB_IDC_SEED_TYPE, Notification::kOther);  // not a selection change
    EXPECT_FALSE(s.controls[PB_IDC_NODE_LIST_PATH].enabled);
    p.OnCommand(s, PB_IDC_SEED_TYPE, Notification::kSelectionChange);
    EXPECT_TRUE(s.controls[PB_IDC_NODE_LIST_PATH].enabled);
    EXPECT_TRUE(s.controls[PB_IDC_NODE_LIST_SELECT].enabled);
    Click(s, p, PB_IDOK);
  });
  ShowSettingsDialog(runner, nullptr);
  EXPECT_EQ(Read("SeedType"), "2");
}

struct CheckCase {
  const char* what;
  int control;
  const char* text;
  int message;  // 0: accepted
};

TEST_F(SettingsDialogTest, ChecksTheInputInOrderAndWritesNothingOnRefusal) {
  const CheckCase cases[] = {
      {"top of the multicast range", PB_IDC_MCST_ADDR, "239.255.255.255", 0},
      {"bottom of the multicast range", PB_IDC_MCST_ADDR, "224.0.0.0", 0},
      {"above the multicast range", PB_IDC_MCST_ADDR, "240.0.0.1", PB_IDS_NOT_MULTICAST},
      {"parser's failure value", PB_IDC_MCST_ADDR, "255.255.255.255", PB_IDS_BAD_GROUP_ADDRESS},
      {"unicast address", PB_IDC_MCST_ADDR, "10.0.0.1", PB_IDS_NOT_MULTICAST},
      {"empty join address", PB_IDC_MCST_ADDR, "", PB_IDS_BAD_GROUP_ADDRESS},
      {"bad interface", PB_IDC_MCST_IF, "eth0", PB_IDS_BAD_INTERFACE},
      {"port 0", PB_IDC_MCST_PORT, "0", PB_IDS_BAD_PORT},
      {"empty port", PB_IDC_MCST_PORT, "", PB_IDS_BAD_PORT},
      {"port beyond 16 bits", PB_IDC_MCST_PORT, "70000", 0},
      {"negative TTL", PB_IDC_MCST_TTL, "-1", PB_IDS_BAD_TTL},
      {"TTL 0", PB_IDC_MCST_TTL, "0", 0},
      {"empty nickname", PB_IDC_NICKNAME, "", PB_IDS_NO_NICKNAME},
  };
  for (const CheckCase& t : cases) {
    std::remove(path_.c_str());
    ScriptedSurface s = SubmitWith([&](ScriptedSurface& s) { s.SetText(t.control, t.text); });
    if (t.message == 0) {
      EXPECT_TRUE(s.messages.empty()) << t.what;
      EXPECT_EQ(s.end_calls, 1) << t.what;
      EXPECT_EQ(s.result, kDialogOk) << t.what;
    } else {
      EXPECT_EQ(s.messages, std::vector<int>{t.message}) << t.what;
      EXPECT_EQ(s.end_calls, 0) << t.what;
      EXPECT_FALSE(FileExists()) << t.what;
    }
  }
}

TEST_F(SettingsDialogTest, OnlyTheFirstFailingCheckIsShown) {
  ScriptedSurface s = SubmitWith([](ScriptedSurface& s) {
    s.SetText(PB_IDC_MCST_ADDR, "1.2.3.4");
    s.SetText(PB_IDC_MCST_IF, "nowhere");
    s.SetText(PB_IDC_NICKNAME, "");
  });
  EXPECT_EQ(s.messages, std::vector<int>{PB_IDS_NOT_MULTICAST});
  s = SubmitWith([](ScriptedSurface& s) {
    s.SetText(PB_IDC_MCST_ADDR, "garbage");
    s.SetText(PB_IDC_NICKNAME, "");
  });
  EXPECT_EQ(s.messages, std::vector<int>{PB_IDS_BAD_GROUP_ADDRESS});
  EXPECT_FALSE(FileExists());
}

TEST_F(SettingsDialogTest, CorrectingTheInputAfterAMessageSaves) {
  ScriptedRunner runner([](ScriptedSurface& s, DialogProcedure& p) {
    s.SetText(PB_IDC_MCST_PORT, "0");
    Click(s, p, PB_IDOK);
    s.SetText(PB_IDC_MCST_PORT, "7001");
    Click(s, p, PB_IDOK);
  });
  EXPECT_EQ(ShowSettingsDialog(runner, nullptr), kDialogOk);
  EXPECT_EQ(runner.last.messages, std::vector<int>{PB_IDS_BAD_PORT});
  EXPECT_EQ(Read("McstPort"), "7001");
}

TEST_F(SettingsDialogTest, SavesTheNumbersAsReadAndCutsLongTexts) {
  const std::string nickname70(70, 'n');
  ScriptedSurface s = SubmitWith([&](ScriptedSurface& s) {
    s.SetText(PB_IDC_MCST_PORT, "70000");
    s.SetText(PB_IDC_MCST_TTL, " 0x20");  // atoi reads the leading 0
    s.SetText(PB_IDC_NICKNAME, nickname70);
    s.SetText(PB_IDC_GROUP, std::string(1100, 'g'));
    s.SetText(PB_IDC_MCST_IF, "192.168.1.7");
    s.SetText(PB_IDC_NODE_LIST_PATH, std::string(300, 'p'));
  });
  EXPECT_EQ(s.result, kDialogOk);
  EXPECT_EQ(Read("McstPort"), "70000");
  EXPECT_EQ(Read("McstTTL"), "0");
  EXPECT_EQ(Read("McstIF"), "192.168.1.7");
  EXPECT_EQ(Read("Nickname"), nickname70.substr(0, 60));
  EXPECT_EQ(Read("Group"), std::string(1023, 'g'));
  EXPECT_EQ(Read("NodeListPath"), std::string(259, 'p'));
}

TEST_F(SettingsDialogTest, HugeNumbersAreHeldToTheIntegerRange) {
  SubmitWith([](ScriptedSurface& s) {
    s.SetText(PB_IDC_MCST_PORT, "99999999999999999999");
    s.SetText(PB_IDC_MCST_TTL, "4294967297");
  });
  EXPECT_EQ(Read("McstPort"), "2147483647");
  EXPECT_EQ(Read("McstTTL"), "2147483647");
  ScriptedSurface s =
      SubmitWith([](ScriptedSurface& s) { s.SetText(PB_IDC_MCST_TTL, "-99999999999999999999"); });
  EXPECT_EQ(s.messages, std::vector<int>{PB_IDS_BAD_TTL});
}

TEST_F(SettingsDialogTest, CancelWritesNothing) {
  ScriptedRunner runner([](ScriptedSurface& s, DialogProcedure& p) {
    s.SetText(PB_IDC_NICKNAME, "changed");
    Click(s, p, PB_IDCANCEL);
  });
  EXPECT_EQ(ShowSettingsDialog(runner, nullptr), kDialogCancel);
  EXPECT_FALSE(FileExists());
}

TEST_F(SettingsDialogTest, AFailedWriteIsShownAndKeepsTheDialogOpen) {
  // A folder where the file should be: no key can be written.
  ASSERT_TRUE(std::filesystem::create_directory(path_));
  ScriptedRunner runner([](ScriptedSurface& s, DialogProcedure& p) {
    Click(s, p, PB_IDOK);
    Click(s, p, PB_IDCANCEL);
  });
  EXPECT_EQ(ShowSettingsDialog(runner, nullptr), kDialogCancel);
  EXPECT_EQ(runner.last.messages, std::vector<int>{PB_IDS_SAVE_FAILED});
  std::filesystem::remove(path_);
}

TEST_F(SettingsDialogTest, HelpButtonAndControlHelp) {
  ScriptedRunner runner([](ScriptedSurface& s, DialogProcedure& p) {
    Click(s, p, PB_IDC_HELP);
    for (int id : {PB_IDOK, PB_IDCANCEL, PB_IDC_HELP, PB_IDC_DIRECT_ADDRESS, -1, 199, 211}) {
      p.OnControlHelp(s, id);
    }
    for (int id = PB_IDC_MCST_ADDR; id <= PB_IDC_NODE_LIST_SELECT; ++id) p.OnControlHelp(s, id);
  });
  ShowSettingsDialog(runner, nullptr);
  const auto& calls = runner.last.help_calls;
  ASSERT_EQ(calls.size(), 1u + 9u);
  EXPECT_EQ(calls[0].file, "Peerbeacon.hlp");
  EXPECT_EQ(calls[0].command, HelpCommand::kContext);
  EXPECT_EQ(calls[0].context, 1000u);
  const int with_topic[] = {200, 201, 202, 203, 204, 205, 208, 209, 210};
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(calls[i + 1].file, "Peerbeacon.hlp");
    EXPECT_EQ(calls[i + 1].command, HelpCommand::kContextPopup);
    EXPECT_EQ(calls[i + 1].context, 393216u + with_topic[i]);
  }
  EXPECT_EQ(runner.last.end_calls, 0);
}

TEST_F(SettingsDialogTest, BrowsingPutsTheChosenFileInThePathAndRestoresTheDirectory) {
  for (bool choose : {true, false}) {
    ScriptedRunner runner([&](ScriptedSurface& s, DialogProcedure& p) {
      s.SetText(PB_IDC_NODE_LIST_PATH, "before.ini");
      if (choose) s.file_to_choose = "/data/lists/NodeList.ini";
      Click(s, p, PB_IDC_NODE_LIST_SELECT);
    });
    ShowSettingsDialog(runner, nullptr);
    const ScriptedSurface& s = runner.last;
    ASSERT_EQ(s.open_requests.size(), 1u);
    EXPECT_STREQ(s.open_requests[0].filter_name, "nodelist(*.ini)");
    EXPECT_STREQ(s.open_requests[0].filter_pattern, "*.ini");
    EXPECT_STREQ(s.open_requests[0].default_extension, "ini");
    EXPECT_EQ(s.directory_during_prompt, "start-dir");
    EXPECT_EQ(s.directory, "start-dir");
    EXPECT_EQ(s.end_calls, 0);
    auto controls = s.controls;
    EXPECT_EQ(controls[PB_IDC_NODE_LIST_PATH].text,
              choose ? "/data/lists/NodeList.ini" : "before.ini");
  }
}

}  // namespace
}  // namespace pb::ui
