// settings_dialog.cc: loading, checking and saving the settings dialog's fields.
#include "ui/settings_dialog.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "core/settings.h"
#include "platform/platform.h"
#include "ui/resource_ids.h"

namespace pb::ui {
namespace {

// Length limits of the fields, in characters without the terminator.
constexpr size_t kAddressChars = 127;
constexpr size_t kNicknameChars = 60;
constexpr size_t kGroupChars = 1023;
constexpr size_t kPathChars = 259;
// The digits-only fields are read as far as any 32-bit number reaches.
constexpr size_t kNumberChars = 31;

constexpr char kShownBadGroupAddress[] = "234.191.38.82";
constexpr char kDefaultInterface[] = "0.0.0.0";
constexpr int32_t kDialogDefaultTtl = 1;
constexpr uint32_t kParseFailure = 0xFFFFFFFFu;

constexpr const char* kSeedChoices[] = {"disable", "nickname", "logon id", "computer name",
                                        "ip address"};
constexpr int kSeedChoiceCount = 5;

std::string ReadString(const std::string& section, const char* key, const char* fallback,
                       size_t max_chars, const std::string& path) {
  std::vector<char> buffer(max_chars + 1, '\0');
  const uint32_t n = platform::GetProfileString(section.c_str(), key, fallback, buffer.data(),
                                                static_cast<uint32_t>(buffer.size()), path.c_str());
  return std::string(buffer.data(), n < buffer.size() ? n : buffer.size() - 1);
}

bool ParsesAsAddress(const std::string& text) {
  return platform::ParseDottedAddress(text.c_str()) != kParseFailure;
}

// The leading decimal number as atoi reads it (blanks, a sign, digits), held to the 32-bit
// range instead of overflowing.
int32_t LeadingNumber(const std::string& text) {
  const platform::LeadingNumber n =
      platform::ReadLeadingNumber(text, platform::LeadingBlanks::kAnyCSpace, true);
  if (n.held > INT32_MAX) return n.negative ? INT32_MIN : INT32_MAX;
  const auto value = static_cast<int32_t>(n.held);
  return n.negative ? -value : value;
}

bool Write(const std::string& section, const char* key, const std::string& value,
           const std::string& path) {
  return platform::WriteProfileString(section.c_str(), key, value.c_str(), path.c_str());
}

}  // namespace

std::string DialogSettingsPath() { return platform::SettingsPathForWriting(kSettingsFileName); }

bool SettingsDialog::OnInit(DialogSurface& surface) {
  section_ = UserSectionName();
  path_ = DialogSettingsPath();

  std::string address =
      ReadString(section_, "McstAddr", kDefaultGroupAddress, kAddressChars, path_);
  if (address.empty() || !ParsesAsAddress(address)) address = kShownBadGroupAddress;
  surface.SetText(PB_IDC_MCST_ADDR, address);

  std::string interface_address =
      ReadString(section_, "McstIF", kDefaultInterface, kAddressChars, path_);
  if (!ParsesAsAddress(interface_address)) interface_address = kDefaultInterface;
  surface.SetText(PB_IDC_MCST_IF, interface_address);

  surface.SetText(PB_IDC_MCST_PORT,
                  std::to_string(platform::GetProfileInt(section_.c_str(), "McstPort", kDefaultPort,
                                                         path_.c_str())));
  surface.SetText(PB_IDC_MCST_TTL,
                  std::to_string(platform::GetProfileInt(section_.c_str(), "McstTTL",
                                                         kDialogDefaultTtl, path_.c_str())));
  surface.SetText(PB_IDC_NICKNAME,
                  ReadString(section_, "Nickname", section_.c_str(), kNicknameChars, path_));
  surface.SetText(PB_IDC_GROUP, ReadString(section_, "Group", kAnonymous, kGroupChars, path_));

  for (const char* choice : kSeedChoices) surface.AddChoice(PB_IDC_SEED_TYPE, choice);
  const int32_t seed = platform::GetProfileInt(section_.c_str(), "SeedType", 0, path_.c_str());
  surface.SelectChoice(PB_IDC_SEED_TYPE, seed >= 0 && seed < kSeedChoiceCount - 1 ? seed + 1 : 0);

  surface.SetText(PB_IDC_NODE_LIST_PATH,
                  ReadString(section_, "NodeListPath", "", kPathChars, path_));
  EnableNodeListPath(surface);
  return true;
}

void SettingsDialog::OnCommand(DialogSurface& surface, int id, Notification notification) {
  if (id == PB_IDC_SEED_TYPE) {
    if (notification == Notification::kSelectionChange) EnableNodeListPath(surface);
    return;
  }
  if (notification != Notification::kClicked) return;
  switch (id) {
    case PB_IDOK:
      Save(surface);
      break;
    case PB_IDCANCEL:
      surface.End(kDialogCancel);
      break;
    case PB_IDC_HELP:
      surface.Help(kHelpFile, HelpCommand::kContext, kHelpMainContext);
      break;
    case PB_IDC_NODE_LIST_SELECT:
      BrowseNodeList(surface);
      break;
    default:
      break;
  }
}

bool SettingsDialog::OnControlHelp(DialogSurface& surface, int control_id) {
  const bool has_topic = (control_id >= PB_IDC_MCST_ADDR && control_id <= PB_IDC_MCST_TTL) ||
                         (control_id >= PB_IDC_SEED_TYPE && control_id <= PB_IDC_NODE_LIST_SELECT);
  if (has_topic) {
    surface.Help(kHelpFile, HelpCommand::kContextPopup,
                 kHelpPopupBase + static_cast<uint32_t>(control_id));
  }
  return true;
}

void SettingsDialog::Save(DialogSurface& surface) {
  const std::string section = UserSectionName();

  const std::string address = surface.GetText(PB_IDC_MCST_ADDR, kAddressChars);
  const uint32_t group_address = platform::ParseDottedAddress(address.c_str());
  if (group_address == kParseFailure) return surface.ShowMessage(PB_IDS_BAD_GROUP_ADDRESS);
  if (!IsMulticastAddress(group_address)) return surface.ShowMessage(PB_IDS_NOT_MULTICAST);

  const std::string interface_address = surface.GetText(PB_IDC_MCST_IF, kAddressChars);
  if (!ParsesAsAddress(interface_address)) return surface.ShowMessage(PB_IDS_BAD_INTERFACE);

  const int32_t port = LeadingNumber(surface.GetText(PB_IDC_MCST_PORT, kNumberChars));
  if (port == 0) return surface.ShowMessage(PB_IDS_BAD_PORT);

  const int32_t ttl = LeadingNumber(surface.GetText(PB_IDC_MCST_TTL, kNumberChars));
  if (ttl < 0) return surface.ShowMessage(PB_IDS_BAD_TTL);

  const std::string nickname = surface.GetText(PB_IDC_NICKNAME, kNicknameChars);
  if (nickname.empty()) return surface.ShowMessage(PB_IDS_NO_NICKNAME);

  const std::string group = surface.GetText(PB_IDC_GROUP, kGroupChars);
  const int selected = surface.SelectedChoice(PB_IDC_SEED_TYPE);
  const int32_t seed = selected < 0 ? -1 : selected - 1;
  const std::string node_list_path = surface.GetText(PB_IDC_NODE_LIST_PATH, kPathChars);

  // Every key is tried even after a failure, so that what can be kept is kept; a failure keeps
  // the dialog open with a message, since closing it with OK would claim the settings were saved.
  bool saved = Write(section, "McstPort", std::to_string(port), path_);
  saved &= Write(section, "McstAddr", address, path_);
  saved &= Write(section, "McstIF", interface_address, path_);
  saved &= Write(section, "McstTTL", std::to_string(ttl), path_);
  saved &= Write(section, "Nickname", nickname, path_);
  saved &= Write(section, "Group", group, path_);
  saved &= Write(section, "SeedType", std::to_string(seed), path_);
  saved &= Write(section, "NodeListPath", node_list_path, path_);
  if (!saved) return surface.ShowMessage(PB_IDS_SAVE_FAILED);
  surface.End(kDialogOk);
}

void SettingsDialog::BrowseNodeList(DialogSurface& surface) {
  const std::string saved = surface.CurrentDirectory();
  OpenFileRequest request;
  request.filter_name = "nodelist(*.ini)";
  request.filter_pattern = "*.ini";
  request.default_extension = "ini";
  std::string chosen;
  if (surface.PromptOpenFile(request, &chosen)) surface.SetText(PB_IDC_NODE_LIST_PATH, chosen);
  surface.RestoreCurrentDirectory(saved);
}

void SettingsDialog::EnableNodeListPath(DialogSurface& surface) {
  const bool on = surface.SelectedChoice(PB_IDC_SEED_TYPE) > 0;
  surface.Enable(PB_IDC_NODE_LIST_PATH, on);
  surface.Enable(PB_IDC_NODE_LIST_SELECT, on);
}

int ShowSettingsDialog(DialogRunner& runner, PB_HWND owner) {
  try {
    SettingsDialog dialog;
    return runner.Run(DialogKind::kSettings, owner, dialog);
  } catch (...) {
    return kDialogCancel;  // out of memory on the way: nothing was written
  }
}

}  // namespace pb::ui
