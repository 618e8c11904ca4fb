// input_entry.cc: InputEntry: the direct-input dialog's text made into the host's record.
#include "plugin/input_entry.h"

#include <string>

#include "core/plugin_state.h"
#include "hostview/host_interface.h"
#include "ui/direct_input_dialog.h"

namespace pb {

int32_t RunInputEntry(ui::DialogRunner& runner, PB_HWND owner, PB_HGLOBAL* handle_out) {
  constexpr int32_t kNotMade = 2;
  if (handle_out == nullptr) return kNotMade;
  std::string text;
  if (!ui::AskDirectInput(runner, owner, &text)) return kNotMade;
  // The port the plug-in runs on, as in the records of listed peers; 0 before start-up.
  return MakeDirectInputRecord(text, static_cast<uint16_t>(g_stOrgData.port), handle_out);
}

}  // namespace pb
