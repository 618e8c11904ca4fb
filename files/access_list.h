// access_list.h: the administrator's allow list of peer source networks ("allow.lst").
#ifndef PEERBEACON_FILES_ACCESS_LIST_H_
#define PEERBEACON_FILES_ACCESS_LIST_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace pb {

// The name both callers pass: the file stands beside the plug-in module.
inline constexpr char kAccessListFileName[] = "allow.lst";

// 1 when some token of the file file_name in the plug-in module's directory admits the IPv4
// address (network order), else 0. The file is read afresh on every call; every failure (no
// module directory, a path of more than 259 characters, a missing, empty or unreadable file)
// answers 0. Nothing is logged. A file that is rewritten while it is checked is answered from
// what the read found: the old text, the new one or as much of it as was written by then.
int32_t IsAddressAllowed(uint32_t address_network_order, const char* file_name);

// The scanner behind IsAddressAllowed, on a byte buffer: 1 when a token of text[0..size)
// admits the address, else 0. Reads nothing outside the buffer; text may be null when size
// is 0.
int32_t AccessListAdmits(const unsigned char* text, size_t size, uint32_t address_network_order);

// Whether one token ("a.b.c.d" or "a.b.c.d/n") admits the address.
bool AccessTokenAdmits(const char* token, uint32_t address_network_order);

// The full path of file_name beside the module at module_path, cut after the module's last
// separator; empty when the path has no usable separator or the result exceeds 259
// characters.
std::string AccessListPath(const std::string& module_path, const char* file_name);

}  // namespace pb

#endif  // PEERBEACON_FILES_ACCESS_LIST_H_
