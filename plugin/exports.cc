// exports.cc: the plug-in's exported C functions. Each is a thin shim: one guard keeps every
// exception on this side of the C boundary and answers with the export's failure value, the
// calls that need a running plug-in get the current instance (kept alive for the call), and
// the subsystem function behind export X, named HostX, gets what it works on as arguments.
#include <algorithm>
#include <cstring>
#include <memory>

#include "core/plugin_state.h"
#include "hostview/host_interface.h"
#include "peerbeacon.h"
#include "plugin/input_entry.h"
#include "plugin/lifecycle.h"
#include "services/memo_sender.h"
#include "services/presence_sender.h"
#include "store/instance.h"
#include "ui/about_dialog.h"
#include "ui/direct_input_dialog.h"
#include "ui/settings_dialog.h"

namespace pb {
namespace {

// Runs body; failure when it throws (out of memory, a failed lock).
template <typename Body>
int32_t Guarded(int32_t failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

// Runs body on the running instance; stopped (also the failure value) while the plug-in is
// not initialised.
template <typename Body>
int32_t OnInstance(int32_t stopped, Body body) noexcept {
  return Guarded(stopped, [&] {
    const std::shared_ptr<Instance> instance = CurrentInstance();
    if (!instance || g_stOrgData.initialized.load() == 0) return stopped;
    return body(*instance);
  });
}

// The host's reads on the running instance's tables; the node-list group table stays with the
// instance between LockEntryList and UnlockEntryList, and the record shows it.
template <typename Body>
int32_t OnHostTables(int32_t stopped, Body body) noexcept {
  return OnInstance(stopped, [&](Instance& i) {
    const HostTables tables{true,
                            &i.entries(),
                            &i.peer_groups(),
                            &i.node_list_groups,
                            &g_stOrgData.nodeListGroups,
                            i.settings.seedType,
                            i.stop_event(),
                            &i.host_read_session};
    return body(tables);
  });
}

// "受信側で拒否されました。" in Shift-JIS: the text of code 101.
constexpr unsigned char kRefusedText[] = {0x8E, 0xF3, 0x90, 0x4D, 0x91, 0xA4, 0x82, 0xC5,
                                          0x8B, 0x91, 0x94, 0xDB, 0x82, 0xB3, 0x82, 0xEA,
                                          0x82, 0xDC, 0x82, 0xB5, 0x82, 0xBD, 0x81, 0x42};

// Code 101's text: copied (at most max - 1 bytes and a NUL) when buffer is given and max is
// not 0, returning the length written; else its length, 24. -1 for any other code.
int32_t HostGetErrorMsg(int32_t code, char* buffer, int32_t max) {
  if (code != PB_ERROR_REFUSED) return -1;
  const int32_t length = static_cast<int32_t>(sizeof kRefusedText);
  if (buffer == nullptr || max == 0) return length;
  if (max < 0) return length;
  const int32_t n = std::min(length, max - 1);
  memcpy(buffer, kRefusedText, static_cast<size_t>(n));
  buffer[n] = '\0';
  return n;
}

}  // namespace
}  // namespace pb

using pb::Guarded;
using pb::HostTables;
using pb::Instance;
using pb::OnHostTables;
using pb::OnInstance;

extern "C" {

PB_EXPORT int32_t PB_CALL NetExSpecification(void* record) {
  return Guarded(0, [&] { return pb::HostNetExSpecification(record); });
}

PB_EXPORT int32_t PB_CALL InitializeNetEx(PB_HWND window, const char* text,
                                          MemoReceiveCallback callback) {
  return Guarded(0, [&] { return pb::HostInitializeNetEx(window, text, callback); });
}

PB_EXPORT int32_t PB_CALL UnInitializeNetEx(void) {
  return Guarded(0, [] { return pb::HostUnInitializeNetEx(); });
}

PB_EXPORT int32_t PB_CALL GetNxlStatus(void) {
  return Guarded(0, [] { return pb::HostGetNxlStatus(); });
}

// The dialog only edits the settings file: whatever the user did, the answer is 1.
PB_EXPORT int32_t PB_CALL NetExConfigure(PB_HWND window) {
  return Guarded(1, [&] {
    pb::ui::ShowSettingsDialog(pb::ui::PlatformDialogRunner(), window);
    return 1;
  });
}

PB_EXPORT int32_t PB_CALL NetExAbout(PB_HWND window) {
  return Guarded(1, [&] {
    pb::ui::ShowAboutDialog(pb::ui::PlatformDialogRunner(), window);
    return 1;
  });
}

PB_EXPORT int32_t PB_CALL StartEntry(void) {
  return OnInstance(0, [](const Instance& i) { return pb::HostStartEntry(i); });
}

PB_EXPORT int32_t PB_CALL StartEntryEx(int32_t absence) {
  return OnInstance(0, [&](const Instance& i) { return pb::HostStartEntryEx(i, absence); });
}

PB_EXPORT int32_t PB_CALL AbsenceEntry(int32_t absence) {
  return OnInstance(0, [&](const Instance& i) { return pb::HostAbsenceEntry(i, absence); });
}

PB_EXPORT int32_t PB_CALL ExitEntry(void) {
  return OnInstance(0, [](const Instance& i) { return pb::HostExitEntry(i); });
}

PB_EXPORT int32_t PB_CALL LockEntryList(void) {
  return OnHostTables(0, [](const HostTables& t) { return pb::HostLockEntryList(t); });
}

PB_EXPORT int32_t PB_CALL UnlockEntryList(void) {
  return OnHostTables(0, [](const HostTables& t) { return pb::HostUnlockEntryList(t); });
}

PB_EXPORT int32_t PB_CALL GetEntryCount(void) {
  return OnHostTables(0, [](const HostTables& t) { return pb::HostGetEntryCount(t); });
}

PB_EXPORT int32_t PB_CALL GetEntryData(int32_t index, void* record, int32_t size) {
  return OnHostTables(
      -1, [&](const HostTables& t) { return pb::HostGetEntryData(t, index, record, size); });
}

PB_EXPORT int32_t PB_CALL GetGroupCount(void) {
  return OnHostTables(0, [](const HostTables& t) { return pb::HostGetGroupCount(t); });
}

PB_EXPORT int32_t PB_CALL GetGroupData(int32_t index, void* record, int32_t size) {
  return OnHostTables(
      -1, [&](const HostTables& t) { return pb::HostGetGroupData(t, index, record, size); });
}

PB_EXPORT int32_t PB_CALL CompareEntryData(const void* a, int32_t a_size, const void* b,
                                           int32_t b_size) {
  return Guarded(0, [&] { return pb::HostCompareEntryData(a, a_size, b, b_size); });
}

// Works also while the plug-in is stopped: the record's address and "Invalidate" names.
PB_EXPORT int32_t PB_CALL GetEntryInfo(char* text, int32_t length, const void* record,
                                       int32_t record_size) {
  return Guarded(0, [&] {
    const std::shared_ptr<Instance> instance = pb::CurrentInstance();
    HostTables tables;
    if (instance && pb::g_stOrgData.initialized.load() != 0) {
      tables.running = true;
      tables.list = &instance->entries();
    }
    return pb::HostGetEntryInfo(tables, text, length, record, record_size);
  });
}

PB_EXPORT int32_t PB_CALL SendMemoData(const void* record, const void* data, int32_t size,
                                       PB_HANDLE cancel) {
  return OnInstance(PB_MEMO_FAILED, [&](const Instance& i) {
    return pb::HostSendMemoData(i, record, data, size, cancel);
  });
}

PB_EXPORT int32_t PB_CALL SendResultData(const void* record, const void* data, int32_t size,
                                         PB_HANDLE cancel) {
  return OnInstance(PB_MEMO_FAILED, [&](const Instance& i) {
    return pb::HostSendResultData(i, record, data, size, cancel);
  });
}

PB_EXPORT int32_t PB_CALL GetErrorMsg(int32_t code, char* buffer, int32_t max) {
  return Guarded(-1, [&] { return pb::HostGetErrorMsg(code, buffer, max); });
}

PB_EXPORT int32_t PB_CALL InputEntry(PB_HWND window, PB_HGLOBAL* handle_out) {
  return Guarded(
      2, [&] { return pb::RunInputEntry(pb::ui::PlatformDialogRunner(), window, handle_out); });
}

}  // extern "C"
