// wait_commands.cc: waiting for a peer's status or for received memos, so that scripts on
// several hosts can meet without fixed sleeps.
#include <chrono>
#include <thread>

#include "host/commands.h"
#include "host/entry_reader.h"
#include "host/memo_receiver.h"
#include "host/records.h"

namespace pbhost {
namespace {

using Clock = std::chrono::steady_clock;

// The status of the listed peer at dotted (1 present, 2 absent), 0 when it is not listed,
// -1 when the list could not be read.
int32_t PeerStatus(const PluginApi& api, const std::string& dotted) {
  EntryListLock lock(api);
  if (!lock.locked()) return -1;
  const int32_t count = api.GetEntryCount();
  for (int32_t i = 0; i < count && i < kMaxListCount; ++i) {
    ListedPeer peer;
    std::string error;
    if (!FetchPeer(api, i, &peer, &error)) continue;
    if (DottedAddress(peer.raw.data() + 32) == dotted) return peer.record.status;
  }
  return 0;
}

bool ParseSeconds(const std::string& text, int32_t* seconds) {
  return ParseInt32(text, seconds) && *seconds >= 0;
}

}  // namespace

CommandResult RunWaitPeer(Session& session, const CommandArgs& args) {
  int32_t want = 0;
  if (args[1] == "gone") {
    want = 0;
  } else if (!ParseInt32(args[1], &want) || want < 1 || want > 2) {
    return Failed("say 1 (present), 2 (absent) or gone");
  }
  int32_t seconds = 10;
  if (args.size() > 2 && !ParseSeconds(args[2], &seconds)) return Failed("bad time-out " + args[2]);
  const auto begin = Clock::now();
  const auto deadline = begin + std::chrono::seconds(seconds);
  int32_t status = 0;
  for (;;) {
    status = PeerStatus(session.api, args[0]);
    if (status < 0) return Failed("the entry list could not be locked");
    if (status == want || Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (status != want) {
    return Failed(args[0] + " still has status " + std::to_string(status) + " after " +
                  std::to_string(seconds) + " s");
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
  session.out.Machine("PEERSTATUS addr=" + args[0] + " status=" + std::to_string(status) +
                      " ms=" + std::to_string(ms.count()));
  return Ok();
}

CommandResult RunWaitMemos(Session& session, const CommandArgs& args) {
  int32_t wanted = 0;
  if (!ParseInt32(args[0], &wanted) || wanted < 0) return Failed("bad memo count " + args[0]);
  int32_t seconds = 10;
  if (args.size() > 1 && !ParseSeconds(args[1], &seconds)) return Failed("bad time-out " + args[1]);
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (MemosReceived() < wanted && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const int32_t got = MemosReceived();
  session.out.Machine("MEMOS count=" + std::to_string(got));
  if (got < wanted) {
    return Failed("only " + std::to_string(got) + " of " + std::to_string(wanted) + " memos");
  }
  return Ok();
}

}  // namespace pbhost
