// direct_input_dialog.cc: the direct-input dialog's procedure and the record InputEntry builds.
#include "ui/direct_input_dialog.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "core/plugin_state.h"
#include "hostview/host_interface.h"
#include "net/socket.h"
#include "platform/platform.h"
#include "ui/resource_ids.h"

namespace pb::ui {
namespace {

constexpr uint32_t kParseFailure = 0xFFFFFFFFu;

// The direct-input lock and the text it guards, alive for the whole process. Like a critical
// section, the lock may be entered again by the thread that holds it: a host may call
// InputEntry again from a message that the first dialog's loop dispatches on that thread.
// The inner call runs its whole dialog and makes its record before the outer one reads the
// text again.
std::recursive_mutex& DirectInputLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}
char g_direct_input_text[kDirectInputSize];

constexpr int32_t kMade = 1;
constexpr int32_t kNotMade = 2;

// Turns the typed text into the host's record; the caller holds the direct-input lock.
int32_t MakeRecord(const char* text, PB_HGLOBAL* handle_out) {
  const uint32_t address = platform::ParseDottedAddress(text);
  if (address == kParseFailure) return kNotMade;

  const size_t name_field = strlen(text) + 1;
  const size_t size = PB_ENTRY_FIXED_SIZE + name_field;
  void* block = platform::GlobalAllocZeroed(size);
  *handle_out = block;
  if (block == nullptr) return kNotMade;
  auto* record = static_cast<uint8_t*>(platform::GlobalLockBlock(block));
  if (record == nullptr) return kNotMade;

  // The port the plug-in runs on, as in the records of listed peers; 0 before start-up.
  uint8_t socket_address[SocketAddress::kSize];
  SocketAddress::FromNetwork(address, static_cast<uint16_t>(g_stOrgData.port))
      .Write(socket_address);
  BuildEntryRecord(record, size, socket_address, text, name_field);
  platform::GlobalUnlockBlock(block);
  return kMade;
}

}  // namespace

bool DirectInputDialog::OnInit(DialogSurface&) {
  memset(text_, 0, kDirectInputSize);
  return true;
}

void DirectInputDialog::OnCommand(DialogSurface& surface, int id, Notification notification) {
  if (notification != Notification::kClicked) return;
  if (id == PB_IDOK) {
    const std::string typed = surface.GetText(PB_IDC_DIRECT_ADDRESS, kDirectInputChars);
    const size_t n = typed.size() < kDirectInputChars ? typed.size() : kDirectInputChars;
    memcpy(text_, typed.data(), n);
    text_[n] = '\0';
    surface.End(kDialogOk);
  } else if (id == PB_IDCANCEL) {
    surface.End(kDialogCancel);
  }
}

int32_t RunInputEntry(DialogRunner& runner, PB_HWND owner, PB_HGLOBAL* handle_out) {
  if (handle_out == nullptr) return kNotMade;
  try {
    std::lock_guard<std::recursive_mutex> hold(DirectInputLock());
    DirectInputDialog dialog(g_direct_input_text);
    if (runner.Run(DialogKind::kDirectInput, owner, dialog) != kDialogOk) return kNotMade;
    return MakeRecord(g_direct_input_text, handle_out);
  } catch (...) {
    return kNotMade;  // the lock or the dialog failed before any record was made
  }
}

}  // namespace pb::ui
