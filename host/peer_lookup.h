// peer_lookup.h: finding a listed peer from what a person types: an index, @address or a name.
#ifndef PEERBEACON_HOST_PEER_LOOKUP_H_
#define PEERBEACON_HOST_PEER_LOOKUP_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "host/entry_reader.h"

namespace pbhost {

struct NameMatch {
  enum Kind { kFound, kAmbiguous, kUnknown };
  Kind kind = kUnknown;
  size_t found = 0;                // position in the names, for kFound
  std::vector<size_t> candidates;  // every name that matched, for kAmbiguous
};

// Finds the display name ("nickname (a.b.c.d)") that `typed` names. Both are the plug-in's
// bytes (CP932): typed text must be in that code page before it gets here. A name matches when
// `typed` is a prefix of it; ASCII letters match either case, except inside a double-byte
// character, whose second byte may look like one. When several names match, one whose
// nickname is exactly `typed` wins; otherwise the result is ambiguous. Empty `typed` matches
// nothing.
NameMatch FindPeerByName(const std::vector<std::string>& names, std::string_view typed);

// Finds a listed peer by index, "@a.b.c.d" or name (FindPeerByName) while the entry-list lock
// is held. False with a message fit for a person (the candidates when the name is ambiguous).
bool LookUpListedPeer(const PluginApi& api, const std::string& word, ListedPeer* peer,
                      std::string* error);

// True when `word` names a peer by index or "@address" rather than by name; such words are
// never taken as names.
bool IsIndexOrAtAddress(const std::string& word);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_PEER_LOOKUP_H_
