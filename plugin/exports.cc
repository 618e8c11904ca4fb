// exports.cc: the plug-in's exported C functions, each a thin shim over its subsystem.
#include "core/plugin_state.h"
#include "hostview/host_interface.h"
#include "peerbeacon.h"
#include "plugin/lifecycle.h"
#include "services/memo_sender.h"
#include "services/presence_sender.h"
#include "store/instance.h"
#include "ui/about_dialog.h"
#include "ui/direct_input_dialog.h"
#include "ui/settings_dialog.h"

namespace pb {
namespace {

// Runs call on the running instance, which stays alive for the call; 0 while the plug-in is
// not initialised.
template <typename Call>
int32_t OnRunningInstance(Call call) {
  const std::shared_ptr<Instance> instance = CurrentInstance();
  if (!instance || g_stOrgData.initialized.load() == 0) return 0;
  return call(*instance);
}

}  // namespace
}  // namespace pb

extern "C" {

PB_EXPORT int32_t PB_CALL NetExSpecification(void* record) { return pb::Specification(record); }

PB_EXPORT int32_t PB_CALL InitializeNetEx(PB_HWND window, const char* text,
                                          MemoReceiveCallback callback) {
  return pb::Initialize(window, text, callback);
}

PB_EXPORT int32_t PB_CALL UnInitializeNetEx(void) { return pb::UnInitialize(); }

PB_EXPORT int32_t PB_CALL GetNxlStatus(void) { return pb::NxlStatus(); }

// The dialog only edits the settings file: whatever the user did, the answer is 1.
PB_EXPORT int32_t PB_CALL NetExConfigure(PB_HWND window) {
  pb::ui::ShowSettingsDialog(pb::ui::PlatformDialogRunner(), window);
  return 1;
}

PB_EXPORT int32_t PB_CALL NetExAbout(PB_HWND window) {
  pb::ui::ShowAboutDialog(pb::ui::PlatformDialogRunner(), window);
  return 1;
}

PB_EXPORT int32_t PB_CALL StartEntry(void) {
  return pb::OnRunningInstance([](const pb::Instance& i) { return pb::StartEntryImpl(i); });
}

PB_EXPORT int32_t PB_CALL StartEntryEx(int32_t absence) {
  return pb::OnRunningInstance(
      [absence](const pb::Instance& i) { return pb::StartEntryExImpl(i, absence); });
}

PB_EXPORT int32_t PB_CALL AbsenceEntry(int32_t absence) {
  return pb::OnRunningInstance(
      [absence](const pb::Instance& i) { return pb::AbsenceEntryImpl(i, absence); });
}

PB_EXPORT int32_t PB_CALL ExitEntry(void) {
  return pb::OnRunningInstance([](const pb::Instance& i) { return pb::ExitEntryImpl(i); });
}

PB_EXPORT int32_t PB_CALL LockEntryList(void) { return pb::HostLockEntryList(); }

PB_EXPORT int32_t PB_CALL UnlockEntryList(void) { return pb::HostUnlockEntryList(); }

PB_EXPORT int32_t PB_CALL GetEntryCount(void) { return pb::HostGetEntryCount(); }

PB_EXPORT int32_t PB_CALL GetEntryData(int32_t index, void* record, int32_t size) {
  return pb::HostGetEntryData(index, record, size);
}

PB_EXPORT int32_t PB_CALL GetGroupCount(void) { return pb::HostGetGroupCount(); }

PB_EXPORT int32_t PB_CALL GetGroupData(int32_t index, void* record, int32_t size) {
  return pb::HostGetGroupData(index, record, size);
}

PB_EXPORT int32_t PB_CALL CompareEntryData(const void* a, int32_t a_size, const void* b,
                                           int32_t b_size) {
  return pb::HostCompareEntryData(a, a_size, b, b_size);
}

PB_EXPORT int32_t PB_CALL GetEntryInfo(char* text, int32_t length, const void* record,
                                       int32_t record_size) {
  return pb::HostGetEntryInfo(text, length, record, record_size);
}

PB_EXPORT int32_t PB_CALL SendMemoData(const void* record, const void* data, int32_t size,
                                       PB_HANDLE cancel) {
  return pb::SendMemoDataImpl(record, data, size, cancel);
}

PB_EXPORT int32_t PB_CALL SendResultData(const void* record, const void* data, int32_t size,
                                         PB_HANDLE cancel) {
  return pb::SendResultDataImpl(record, data, size, cancel);
}

PB_EXPORT int32_t PB_CALL GetErrorMsg(int32_t code, char* buffer, int32_t max) {
  return pb::GetErrorMsgImpl(code, buffer, max);
}

PB_EXPORT int32_t PB_CALL InputEntry(PB_HWND window, PB_HGLOBAL* handle_out) {
  return pb::ui::RunInputEntry(pb::ui::PlatformDialogRunner(), window, handle_out);
}

}  // extern "C"
