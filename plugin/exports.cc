// exports.cc: the plug-in's exported C functions, each a thin shim over its subsystem.
#include "peerbeacon.h"
#include "plugin/lifecycle.h"

extern "C" {

PB_EXPORT int32_t PB_CALL NetExSpecification(void* record) { return pb::Specification(record); }

PB_EXPORT int32_t PB_CALL InitializeNetEx(PB_HWND window, const char* text,
                                          MemoReceiveCallback callback) {
  return pb::Initialize(window, text, callback);
}

PB_EXPORT int32_t PB_CALL UnInitializeNetEx(void) { return pb::UnInitialize(); }

PB_EXPORT int32_t PB_CALL GetNxlStatus(void) { return pb::NxlStatus(); }

}  // extern "C"
