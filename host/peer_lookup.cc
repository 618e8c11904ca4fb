// peer_lookup.cc: name, index and address lookup of listed peers.
#include "host/peer_lookup.h"

#include "host/commands.h"
#include "host/records.h"
#include "host/terminal_text.h"
#include "host/text_escape.h"
#include "platform/platform.h"

namespace pbhost {
namespace {

unsigned char FoldAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// How many bytes of `name` `typed` covers as a prefix, or npos when it is not one. Both are
// walked character by character, so a trail byte is only ever compared exactly.
size_t PrefixLength(std::string_view name, std::string_view typed) {
  size_t i = 0;
  while (i < typed.size()) {
    if (i >= name.size()) return std::string_view::npos;
    const auto t = static_cast<unsigned char>(typed[i]);
    const auto n = static_cast<unsigned char>(name[i]);
    if (pb::platform::IsCp932LeadByte(t) || pb::platform::IsCp932LeadByte(n)) {
      if (t != n || i + 1 >= typed.size() || i + 1 >= name.size() || typed[i + 1] != name[i + 1]) {
        return std::string_view::npos;
      }
      i += 2;
    } else {
      if (FoldAscii(t) != FoldAscii(n)) return std::string_view::npos;
      ++i;
    }
  }
  return i;
}

// The display name is the nickname, a blank and the address in parentheses.
bool IsWholeNickname(std::string_view name, size_t covered) {
  return covered == name.size() || name.substr(covered).starts_with(" (");
}

}  // namespace

NameMatch FindPeerByName(const std::vector<std::string>& names, std::string_view typed) {
  NameMatch match;
  if (typed.empty()) return match;
  std::vector<size_t> exact;
  for (size_t i = 0; i < names.size(); ++i) {
    const size_t covered = PrefixLength(names[i], typed);
    if (covered == std::string_view::npos) continue;
    match.candidates.push_back(i);
    if (IsWholeNickname(names[i], covered)) exact.push_back(i);
  }
  if (match.candidates.size() == 1 || exact.size() == 1) {
    match.kind = NameMatch::kFound;
    match.found = match.candidates.size() == 1 ? match.candidates[0] : exact[0];
  } else if (!match.candidates.empty()) {
    match.kind = NameMatch::kAmbiguous;
  }
  return match;
}

bool IsIndexOrAtAddress(const std::string& word) {
  int32_t index = 0;
  return ParseInt32(word, &index) || word.starts_with("@");
}

bool LookUpListedPeer(const PluginApi& api, const std::string& word, ListedPeer* peer,
                      std::string* error) {
  int32_t index = 0;
  // Without a count an index is still tried; the plug-in refuses one that is out of range.
  const bool countable = api.Has("GetEntryCount");
  if (ParseInt32(word, &index) && !countable) return FetchPeer(api, index, peer, error);
  if (!countable) {
    *error = "unavailable: the plug-in does not export GetEntryCount";
    return false;
  }
  const int32_t count = api.GetEntryCount();
  if (ParseInt32(word, &index)) {
    if (index < count && index < kMaxListCount) return FetchPeer(api, index, peer, error);
    *error = "no listed peer " + word;
    return false;
  }
  std::vector<ListedPeer> peers;
  for (int32_t i = 0; i < count && i < kMaxListCount; ++i) {
    ListedPeer listed;
    std::string ignored;
    if (!FetchPeer(api, i, &listed, &ignored)) continue;
    if (word.starts_with("@")) {
      if (word.compare(1, std::string::npos, DottedAddress(listed.raw.data() + 32)) == 0) {
        *peer = std::move(listed);
        return true;
      }
      continue;
    }
    peers.push_back(std::move(listed));
  }
  if (word.starts_with("@")) {
    *error = "no listed peer " + word;
    return false;
  }
  // The names are code page 932, as the plug-in holds them; the typed word is converted first.
  std::string cp932_word, why;
  if (!TypedToCp932(word, &cp932_word, &why)) {
    *error = why;
    return false;
  }
  std::vector<std::string> names;
  for (const ListedPeer& listed : peers) names.push_back(listed.record.name);
  const NameMatch match = FindPeerByName(names, cp932_word);
  switch (match.kind) {
    case NameMatch::kFound:
      *peer = std::move(peers[match.found]);
      return true;
    case NameMatch::kAmbiguous: {
      std::string list;
      for (size_t i : match.candidates) {
        list += (list.empty() ? "" : ", ") + EscapeHuman(peers[i].record.name) + " [" +
                std::to_string(peers[i].index) + "]";
      }
      *error = "\"" + word + "\" matches " + std::to_string(match.candidates.size()) +
               " peers: " + list + "; type more of the name or use the index";
      return false;
    }
    case NameMatch::kUnknown:
      break;
  }
  *error = "no listed peer named \"" + word + "\"; see peers";
  return false;
}

}  // namespace pbhost
