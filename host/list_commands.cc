// list_commands.cc: the commands that read the plug-in's peers and groups.
#include <algorithm>
#include <chrono>
#include <thread>

#include "host/commands.h"
#include "host/entry_reader.h"
#include "host/line_editor.h"
#include "host/peer_lookup.h"
#include "host/peer_table.h"
#include "host/terminal_text.h"
#include "host/text_escape.h"

namespace pbhost {
namespace {

constexpr const char* kStatusNames[] = {"?", "present", "absent"};

std::string JoinIds(const std::vector<int32_t>& ids) {
  std::string text;
  for (int32_t id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text;
}

CommandResult LockFailed() { return Failed("LockEntryList refused the lock"); }

void PrintPeer(Session& session, const ListedPeer& peer) {
  const PeerRecord& r = peer.record;
  session.out.Machine("PEER index=" + std::to_string(peer.index) +
                      " addr=" + DottedAddress(r.address) + " port=" + std::to_string(r.port) +
                      " status=" + std::to_string(r.status) + " name=\"" + EscapeMachine(r.name) +
                      "\" groups=" + JoinIds(r.group_ids));
}

// The people's form: how many are present and absent, then one row per peer in columns.
void PrintPeerTable(Session& session, const std::vector<ListedPeer>& peers,
                    const std::vector<GroupRecord>& groups) {
  std::vector<PeerRow> rows;
  size_t present = 0, absent = 0;
  for (const ListedPeer& peer : peers) {
    const PeerRecord& r = peer.record;
    present += r.status == 1 ? 1 : 0;
    absent += r.status == 2 ? 1 : 0;
    PeerRow& row = rows.emplace_back();
    row.index = std::to_string(peer.index);
    // The table is laid out on the code page 932 bytes, where a character's byte count is its
    // width on the screen, and each line is converted for the terminal once it is whole.
    row.name = EscapeControls(r.name);
    row.status = r.status == 1 || r.status == 2 ? kStatusNames[r.status] : "status ?";
    row.address = DottedAddress(r.address) + ":" + std::to_string(r.port);
    for (int32_t id : r.group_ids) row.groups.push_back(EscapeControls(GroupPath(groups, id)));
  }
  session.out.Human(std::to_string(peers.size()) + (peers.size() == 1 ? " peer" : " peers") + ": " +
                    std::to_string(present) + " present, " + std::to_string(absent) + " absent");
  if (peers.empty()) return;
  for (const std::string& line : FormatPeerTable(rows, TerminalColumns())) {
    session.out.Human(ShowCp932(line));
  }
}

// Prints `index` and its children below it, depth first; `seen` stops a malformed table that
// names a group as its own ancestor.
void PrintGroupTree(Session& session, const std::vector<GroupRecord>& groups, size_t index,
                    int depth, std::vector<bool>* seen) {
  if ((*seen)[index]) return;
  (*seen)[index] = true;
  session.out.Human(std::string(2 + 2 * static_cast<size_t>(depth), ' ') + "[" +
                    std::to_string(index) + "] " + EscapeHuman(groups[index].name));
  for (size_t child = 0; child < groups.size(); ++child) {
    if (groups[child].parent == static_cast<int32_t>(index)) {
      PrintGroupTree(session, groups, child, depth + 1, seen);
    }
  }
}

bool IsRoot(const std::vector<GroupRecord>& groups, size_t index) {
  const int32_t parent = groups[index].parent;
  return parent < 0 || static_cast<size_t>(parent) >= groups.size() ||
         static_cast<size_t>(parent) == index;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * bytes.size());
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

// One record's bytes as the plug-in filled them, when it filled any, and why it could not be
// read, when it could not.
void PrintRecord(Session& session, bool entry, int32_t index, const std::vector<uint8_t>& raw,
                 const std::string& error) {
  if (!raw.empty()) {
    session.out.Machine(std::string(entry ? "ENTRY" : "GROUP") +
                        "RECORD index=" + std::to_string(index) +
                        " size=" + std::to_string(raw.size()) + " bytes=" + Hex(raw));
    session.out.Human(std::string(entry ? "  entry [" : "  group [") + std::to_string(index) +
                      "] " + std::to_string(raw.size()) + " bytes: " + Hex(raw));
  }
  if (!error.empty()) session.out.Machine("BAD reason=\"" + EscapeMachine(error) + "\"");
}

int32_t CountPeers(const PluginApi& api, bool* locked) {
  EntryListLock lock(api);
  *locked = lock.locked();
  return lock.locked() ? api.GetEntryCount() : 0;
}

}  // namespace

CommandResult RunPeers(Session& session, const CommandArgs& /*args*/) {
  const PluginApi& api = session.api;
  std::vector<ListedPeer> peers;
  std::vector<GroupRecord> groups;
  std::vector<std::string> errors;
  {
    EntryListLock lock(api);
    if (!lock.locked()) return LockFailed();
    const int32_t count = api.GetEntryCount();
    if (count < 0 || count > kMaxListCount) {
      return Failed("GetEntryCount returned " + std::to_string(count));
    }
    for (int32_t i = 0; i < count; ++i) {
      ListedPeer peer;
      std::string error;
      if (FetchPeer(api, i, &peer, &error)) {
        peers.push_back(std::move(peer));
      } else {
        errors.push_back(error);
      }
    }
    // Node-list group indexes hold only within one lock period: read them under the same lock.
    groups = FetchGroups(api, &errors);
  }
  session.out.Machine("PEERS count=" + std::to_string(peers.size()));
  for (const ListedPeer& peer : peers) PrintPeer(session, peer);
  if (!session.out.machine()) PrintPeerTable(session, peers, groups);
  if (!errors.empty()) {
    for (const std::string& error : errors) {
      session.out.Machine("BAD reason=\"" + EscapeMachine(error) + "\"");
    }
    return Failed(std::to_string(errors.size()) + " record(s) could not be read: " + errors[0]);
  }
  return Ok();
}

CommandResult RunGroups(Session& session, const CommandArgs& /*args*/) {
  std::vector<GroupRecord> groups;
  std::vector<std::string> errors;
  {
    EntryListLock lock(session.api);
    if (!lock.locked()) return LockFailed();
    groups = FetchGroups(session.api, &errors);
  }
  session.out.Machine("GROUPS count=" + std::to_string(groups.size()));
  session.out.Human(std::to_string(groups.size()) + (groups.size() == 1 ? " group" : " groups"));
  for (size_t i = 0; i < groups.size(); ++i) {
    session.out.Machine("GROUP index=" + std::to_string(i) +
                        " parent=" + std::to_string(groups[i].parent) + " name=\"" +
                        EscapeMachine(groups[i].name) + "\" path=\"" +
                        EscapeMachine(GroupPath(groups, static_cast<int32_t>(i))) + "\"");
  }
  std::vector<bool> seen(groups.size(), false);
  for (size_t i = 0; i < groups.size(); ++i) {
    if (IsRoot(groups, i)) PrintGroupTree(session, groups, i, 0, &seen);
  }
  // Whatever a cycle kept away from every root still gets shown.
  for (size_t i = 0; i < groups.size(); ++i) {
    if (!seen[i]) PrintGroupTree(session, groups, i, 0, &seen);
  }
  if (!errors.empty()) {
    for (const std::string& error : errors) {
      session.out.Machine("BAD reason=\"" + EscapeMachine(error) + "\"");
    }
    return Failed(std::to_string(errors.size()) + " group(s) could not be read: " + errors[0]);
  }
  return Ok();
}

CommandResult RunRecords(Session& session, const CommandArgs& /*args*/) {
  const PluginApi& api = session.api;
  struct Dump {
    std::vector<uint8_t> raw;
    std::string error;
  };
  std::vector<Dump> entries, groups;
  {
    // One lock for both lists: node-list group ids in the entry records name the groups of
    // this lock period only.
    EntryListLock lock(api);
    if (!lock.locked()) return LockFailed();
    const int32_t peer_count = api.GetEntryCount();
    const int32_t group_count = api.GetGroupCount();
    if (peer_count < 0 || peer_count > kMaxListCount || group_count < 0 ||
        group_count > kMaxListCount) {
      return Failed("the plug-in counts " + std::to_string(peer_count) + " peers and " +
                    std::to_string(group_count) + " groups");
    }
    for (int32_t i = 0; i < peer_count; ++i) {
      ListedPeer peer;
      Dump& dump = entries.emplace_back();
      FetchPeer(api, i, &peer, &dump.error);
      dump.raw = std::move(peer.raw);
    }
    for (int32_t i = 0; i < group_count; ++i) {
      GroupRecord group;
      Dump& dump = groups.emplace_back();
      FetchGroup(api, i, &group, &dump.error, &dump.raw);
    }
  }
  session.out.Machine("RECORDS peers=" + std::to_string(entries.size()) +
                      " groups=" + std::to_string(groups.size()));
  session.out.Human(std::to_string(entries.size()) + " entry and " + std::to_string(groups.size()) +
                    " group records");
  int bad = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    PrintRecord(session, true, static_cast<int32_t>(i), entries[i].raw, entries[i].error);
    bad += entries[i].error.empty() ? 0 : 1;
  }
  for (size_t i = 0; i < groups.size(); ++i) {
    PrintRecord(session, false, static_cast<int32_t>(i), groups[i].raw, groups[i].error);
    bad += groups[i].error.empty() ? 0 : 1;
  }
  if (bad > 0) return Failed(std::to_string(bad) + " record(s) could not be read");
  return Ok();
}

CommandResult RunInfo(Session& session, const CommandArgs& args) {
  int32_t index = 0;
  // Comfortably above the 304 bytes the plug-in asks for and the longest text it can build.
  char text[512] = {};
  int32_t length = 0;
  {
    EntryListLock lock(session.api);
    if (!lock.locked()) return LockFailed();
    ListedPeer peer;
    std::string error;
    if (!LookUpListedPeer(session.api, args[0], &peer, &error)) return Failed(error);
    index = peer.index;
    length = session.api.GetEntryInfo(text, static_cast<int32_t>(sizeof text), peer.raw.data(),
                                      static_cast<int32_t>(peer.raw.size()));
  }
  if (length <= 0 || static_cast<size_t>(length) >= sizeof text) {
    return Failed("GetEntryInfo returned " + std::to_string(length));
  }
  // Trust the terminator inside the buffer rather than the returned length alone.
  const std::string info(text, std::find(text, text + sizeof text - 1, '\0'));
  session.out.Machine("INFO index=" + std::to_string(index) + " text=\"" + EscapeMachine(info) +
                      "\"");
  size_t start = 0;
  while (start <= info.size()) {
    size_t end = info.find("\r\n", start);
    if (end == std::string::npos) end = info.size();
    session.out.Human("  " + EscapeHuman(info.substr(start, end - start)));
    start = end + 2;
  }
  return Ok();
}

CommandResult RunWaitPeers(Session& session, const CommandArgs& args) {
  int32_t wanted = 0;
  int32_t seconds = 10;
  if (!ParseInt32(args[0], &wanted) || wanted < 0) return Failed("bad peer count " + args[0]);
  if (args.size() > 1 && (!ParseInt32(args[1], &seconds) || seconds < 0)) {
    return Failed("bad time-out " + args[1]);
  }
  using Clock = std::chrono::steady_clock;
  const auto begin = Clock::now();
  const auto deadline = begin + std::chrono::seconds(seconds);
  int32_t count = 0;
  for (;;) {
    bool locked = false;
    count = CountPeers(session.api, &locked);
    if (!locked) return LockFailed();
    if (count >= wanted || Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
  if (count < wanted) {
    return Failed("timed out after " + std::to_string(seconds) + " s with " +
                  std::to_string(count) + " of " + std::to_string(wanted) + " peers");
  }
  session.out.Machine("WAITED peers=" + std::to_string(count) + " ms=" + std::to_string(ms));
  session.out.Human(std::to_string(count) + " peers after " + std::to_string(ms) + " ms");
  return Ok();
}

}  // namespace pbhost
