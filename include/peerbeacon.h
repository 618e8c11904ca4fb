/* peerbeacon.h: the host-facing interface of the Peerbeacon plug-in (Peerbeacon.nxl). */
#ifndef PEERBEACON_H_
#define PEERBEACON_H_

#include <stddef.h>
#include <stdint.h>

#include "peerbeacon_exports.h"

/* Exports and the memo callback use __stdcall on 32-bit Windows and the default C
   convention elsewhere. */
#if defined(_WIN32)
#define PB_CALL __stdcall
#else
#define PB_CALL
#endif

#if defined(PB_BUILDING_PLUGIN) && !defined(_WIN32)
#define PB_EXPORT __attribute__((visibility("default")))
#else
#define PB_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque host objects: the host's window, a waitable handle (on Linux a file descriptor
   value that becomes readable when signalled), and a global memory handle (on Linux the
   address of a heap block, freed with free()). */
typedef void* PB_HWND;
typedef void* PB_HANDLE;
typedef void* PB_HGLOBAL;

/* Called on a memo connection thread for every memo received. record is the sender's
   entry data record or null (size 0) when the sender is not listed; data points at the
   payload and length is the frame's length field (payload size + 8). Non-zero accepts. */
typedef int32_t(PB_CALL* MemoReceiveCallback)(const void* record, int32_t record_size,
                                              const void* data, int32_t length);

/* Status bits of GetNxlStatus. */
#define PB_STATUS_RUNNING 1
#define PB_STATUS_LISTENING 2
#define PB_STATUS_PRESENCE 4

/* Results of SendMemoData and SendResultData (any other value is the peer's own). */
#define PB_MEMO_PRESENT 0
#define PB_MEMO_ABSENT 1
#define PB_MEMO_STOPPED 2
#define PB_MEMO_FAILED 3
#define PB_MEMO_TIMEOUT 4
#define PB_MEMO_CANCELLED 5

/* GetErrorMsg's one known code: the receiving side refused the memo. */
#define PB_ERROR_REFUSED 101

#define PB_RECORD_VERSION 256
#define PB_ENTRY_KIND 2
#define PB_ENTRY_FIXED_SIZE 44
#define PB_GROUP_FIXED_SIZE 20

#pragma pack(push, 1)

/* Written by NetExSpecification; every other byte of the host's buffer stays as it was. */
typedef struct SpecificationRecord {
  int32_t value0;        /* 256 */
  int32_t value1;        /* 256 */
  char display_name[50]; /* "Peerbeacon" */
  int32_t value2;        /* 2 */
  int32_t value3;        /* 79 */
} SpecificationRecord;

/* IPv4 socket address in the Winsock layout. */
typedef struct PbSocketAddress {
  uint16_t family;  /* 2, host order */
  uint16_t port;    /* network order */
  uint32_t address; /* network order */
  uint8_t zero[8];
} PbSocketAddress;

/* Fixed part of an entry data record; the name follows at name_offset (44) and the group
   ids, when there are any, at group_ids_offset. */
typedef struct EntryDataRecord {
  int32_t size;
  int32_t version; /* 256 */
  int32_t kind;    /* 2 */
  int32_t status;  /* 1 present, 2 absent */
  int32_t group_count;
  int32_t group_ids_offset; /* -1 without groups */
  int32_t name_offset;      /* 44 */
  PbSocketAddress address;
} EntryDataRecord;

/* Fixed part of a group data record; the name follows at name_offset (20). */
typedef struct GroupDataRecord {
  int32_t size;        /* name length + 21 */
  int32_t version;     /* 256 */
  int32_t parent;      /* index in the combined group space, -1 at top level */
  int32_t reserved;    /* 0 */
  int32_t name_offset; /* 20 */
} GroupDataRecord;

#pragma pack(pop)

#if defined(__cplusplus)
static_assert(sizeof(SpecificationRecord) == 66, "SpecificationRecord layout");
static_assert(offsetof(SpecificationRecord, display_name) == 8, "name at 8");
static_assert(offsetof(SpecificationRecord, value2) == 58, "value at 58");
static_assert(offsetof(SpecificationRecord, value3) == 62, "value at 62");
static_assert(sizeof(PbSocketAddress) == 16, "socket address layout");
static_assert(offsetof(EntryDataRecord, status) == 12, "status at 12");
static_assert(offsetof(EntryDataRecord, group_count) == 16, "group count at 16");
static_assert(offsetof(EntryDataRecord, group_ids_offset) == 20, "ids offset at 20");
static_assert(offsetof(EntryDataRecord, name_offset) == 24, "name offset at 24");
static_assert(offsetof(EntryDataRecord, address) == 28, "address at 28");
static_assert(offsetof(EntryDataRecord, address.address) == 32, "IPv4 at 32");
static_assert(sizeof(EntryDataRecord) == PB_ENTRY_FIXED_SIZE, "entry fixed part");
static_assert(offsetof(GroupDataRecord, parent) == 8, "parent at 8");
static_assert(offsetof(GroupDataRecord, reserved) == 12, "reserved at 12");
static_assert(offsetof(GroupDataRecord, name_offset) == 16, "name offset at 16");
static_assert(sizeof(GroupDataRecord) == PB_GROUP_FIXED_SIZE, "group fixed part");
#endif

/* The exported functions, declared from their list in peerbeacon_exports.h. */
#define PB_DECLARE_EXPORT(type, name, parameters) PB_EXPORT type PB_CALL name parameters;
PB_EXPORT_LIST(PB_DECLARE_EXPORT)
#undef PB_DECLARE_EXPORT

#ifdef __cplusplus
}
#endif

#endif /* PEERBEACON_H_ */
