// input_entry.h: InputEntry: the direct-input dialog's text made into the host's record.
#ifndef PEERBEACON_PLUGIN_INPUT_ENTRY_H_
#define PEERBEACON_PLUGIN_INPUT_ENTRY_H_

#include <cstdint>

#include "peerbeacon.h"
#include "ui/dialog_surface.h"

namespace pb {

// Shows the direct-input dialog through runner (one at a time across threads) and makes the
// typed address into an entry record with the plug-in's port. Returns 1 with a new global
// block whose handle is stored in *handle_out, 2 otherwise. *handle_out is written only when
// an address was typed: with the block, or null when it could not be allocated. A null
// handle_out gives 2 without showing anything, since the record would have nowhere to go.
int32_t RunInputEntry(ui::DialogRunner& runner, PB_HWND owner, PB_HGLOBAL* handle_out);

}  // namespace pb

#endif  // PEERBEACON_PLUGIN_INPUT_ENTRY_H_
