/* peerbeacon_exports.h: the one list of the functions that Peerbeacon.nxl exports. */
#ifndef PEERBEACON_EXPORTS_H_
#define PEERBEACON_EXPORTS_H_

/* PB_EXPORT_LIST(X) expands X(return type, name, (parameters)) once for each export, in the
   order of the module's export table. Everything that names the exports is made from this
   list or checked against it: the declarations in peerbeacon.h, the Windows .def file and the
   Linux version script (cmake/ExportList.cmake, which reads the names as text: keep each
   entry in the form X(type, Name, (...))), the reference host's binding by name, and the
   checks of the built modules' export tables. The types are those of peerbeacon.h, which
   includes this file. */
#define PB_EXPORT_LIST(X)                                                                          \
  /* Description and lifecycle. */                                                                 \
  X(int32_t, NetExSpecification, (void* record))                                                   \
  X(int32_t, InitializeNetEx, (PB_HWND window, const char* text, MemoReceiveCallback callback))    \
  X(int32_t, UnInitializeNetEx, (void))                                                            \
  X(int32_t, GetNxlStatus, (void))                                                                 \
  X(int32_t, NetExConfigure, (PB_HWND window))                                                     \
  X(int32_t, NetExAbout, (PB_HWND window))                                                         \
                                                                                                   \
  /* Presence. */                                                                                  \
  X(int32_t, StartEntry, (void))                                                                   \
  X(int32_t, StartEntryEx, (int32_t absence))                                                      \
  X(int32_t, AbsenceEntry, (int32_t absence))                                                      \
  X(int32_t, ExitEntry, (void))                                                                    \
                                                                                                   \
  /* Entry list, read between LockEntryList and UnlockEntryList. */                                \
  X(int32_t, LockEntryList, (void))                                                                \
  X(int32_t, UnlockEntryList, (void))                                                              \
  X(int32_t, GetEntryCount, (void))                                                                \
  X(int32_t, GetEntryData, (int32_t index, void* record, int32_t size))                            \
  X(int32_t, GetGroupCount, (void))                                                                \
  X(int32_t, GetGroupData, (int32_t index, void* record, int32_t size))                            \
  X(int32_t, CompareEntryData, (const void* a, int32_t a_size, const void* b, int32_t b_size))     \
  X(int32_t, GetEntryInfo, (char* text, int32_t length, const void* record, int32_t record_size))  \
                                                                                                   \
  /* Memos. */                                                                                     \
  X(int32_t, SendMemoData, (const void* record, const void* data, int32_t size, PB_HANDLE cancel)) \
  X(int32_t, SendResultData,                                                                       \
    (const void* record, const void* data, int32_t size, PB_HANDLE cancel))                        \
  X(int32_t, GetErrorMsg, (int32_t code, char* buffer, int32_t max))                               \
                                                                                                   \
  /* Direct input. */                                                                              \
  X(int32_t, InputEntry, (PB_HWND window, PB_HGLOBAL * handle_out))

#endif /* PEERBEACON_EXPORTS_H_ */
