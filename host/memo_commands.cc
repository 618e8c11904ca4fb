// memo_commands.cc: sending a memo to a listed peer or a typed address, and whether received
// memos are accepted.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/commands.h"
#include "host/entry_reader.h"
#include "host/memo_receiver.h"
#include "host/peer_lookup.h"
#include "host/records.h"
#include "host/terminal_text.h"
#include "host/text_escape.h"

namespace pbhost {
namespace {

constexpr uint16_t kDefaultPort = 7129;

// An entry data record for a typed address, laid out as the plug-in's own records.
std::vector<uint8_t> RecordForAddress(uint32_t address_net, uint16_t port,
                                      const std::string& name) {
  std::vector<uint8_t> record(45 + name.size(), 0);
  auto put32 = [&record](size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i)
      record[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
  };
  put32(0, static_cast<int32_t>(record.size()));
  put32(4, PB_RECORD_VERSION);
  put32(8, PB_ENTRY_KIND);
  put32(12, 1);
  put32(16, 0);
  put32(20, -1);
  put32(24, PB_ENTRY_FIXED_SIZE);
  record[28] = 2;  // AF_INET, little-endian
  record[30] = static_cast<uint8_t>(port >> 8);
  record[31] = static_cast<uint8_t>(port);
  memcpy(record.data() + 32, &address_net, 4);
  memcpy(record.data() + 44, name.data(), name.size());
  return record;
}

// "a.b.c.d" or "a.b.c.d:port" into a network-order address and a host-order port.
bool ParseTarget(const std::string& text, uint32_t* address, uint16_t* port) {
  std::string host = text;
  *port = kDefaultPort;
  const size_t colon = text.find(':');
  if (colon != std::string::npos) {
    int32_t p = 0;
    if (!ParseInt32(text.substr(colon + 1), &p) || p <= 0 || p > 65535) return false;
    *port = static_cast<uint16_t>(p);
    host = text.substr(0, colon);
  }
  unsigned parts[4];
  char tail;
  if (sscanf(host.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) !=
      4) {
    return false;
  }
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    if (parts[i] > 255) return false;
    bytes[i] = static_cast<uint8_t>(parts[i]);
  }
  memcpy(address, bytes, 4);
  return true;
}

std::string ResultInWords(const Session& session, int32_t result) {
  switch (result) {
    case PB_MEMO_PRESENT:
      return "delivered; the recipient is present";
    case PB_MEMO_ABSENT:
      return "delivered; the recipient is absent";
    case PB_MEMO_STOPPED:
      return "not delivered: the plug-in is stopping";
    case PB_MEMO_FAILED: {
      std::string text = "not delivered: refused by the recipient or the exchange failed";
      if (session.api.Has("GetErrorMsg")) {
        char refusal[64] = {};
        if (session.api.GetErrorMsg(PB_ERROR_REFUSED, refusal, sizeof refusal) > 0) {
          text += " (" + EscapeHuman(refusal) + ")";
        }
      }
      return text;
    }
    case PB_MEMO_TIMEOUT:
      return "not delivered: no answer in time";
    case PB_MEMO_CANCELLED:
      return "not delivered: cancelled";
    default:
      return "the recipient answered " + std::to_string(result);
  }
}

CommandResult Send(Session& session, const CommandArgs& args, bool wait_without_limit,
                   const std::string& text);

// A payload of count bytes of a repeating pattern, for large memos.
std::string Pattern(size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(count, '\0');
  for (size_t i = 0; i < count; ++i) text[i] = kDigits[i % 16];
  return text;
}

CommandResult Send(Session& session, const CommandArgs& args, bool wait_without_limit,
                   const std::string& text) {
  std::vector<uint8_t> record;
  uint32_t address = 0;
  uint16_t port = 0;
  if (args[0] == "typed") {
    if (session.typed_record.empty()) return Failed("no destination typed yet; use input");
    record = session.typed_record;
  } else if (!IsIndexOrAtAddress(args[0]) && ParseTarget(args[0], &address, &port)) {
    record = RecordForAddress(address, port, args[0]);
  } else {
    // A listed peer: its own record, as the plug-in gave it, is the target.
    EntryListLock lock(session.api);
    if (!lock.locked()) return Failed("the entry list could not be locked");
    ListedPeer peer;
    std::string error;
    if (!LookUpListedPeer(session.api, args[0], &peer, &error)) return Failed(error);
    record = std::move(peer.raw);
  }
  // The exchange runs on this command thread, never on the window thread whose messages it
  // waits for.
  const int32_t result =
      wait_without_limit ? session.api.SendResultData(record.data(), text.data(),
                                                      static_cast<int32_t>(text.size()), nullptr)
                         : session.api.SendMemoData(record.data(), text.data(),
                                                    static_cast<int32_t>(text.size()), nullptr);
  const std::string to = DottedAddress(record.data() + 32);
  session.out.Machine("SENT to=" + to + " result=" + std::to_string(result));
  session.out.Human("memo to " + to + ": " + ResultInWords(session, result));
  return result == PB_MEMO_PRESENT || result == PB_MEMO_ABSENT
             ? Ok()
             : Failed("memo not delivered, result " + std::to_string(result));
}

// Sends the typed memo text (args[1]) as code page 932; nothing is sent when it cannot be.
CommandResult SendTyped(Session& session, const CommandArgs& args, bool wait_without_limit) {
  std::string memo, why;
  if (!TypedToCp932(args[1], &memo, &why)) return Failed(why);
  return Send(session, args, wait_without_limit, memo);
}

}  // namespace

CommandResult RunSend(Session& session, const CommandArgs& args) {
  return SendTyped(session, args, false);
}

CommandResult RunSendWait(Session& session, const CommandArgs& args) {
  return SendTyped(session, args, true);
}

CommandResult RunSendBytes(Session& session, const CommandArgs& args) {
  int32_t count = 0;
  if (!ParseInt32(args[1], &count) || count < 0 || count > (1 << 30)) {
    return Failed("bad byte count " + args[1]);
  }
  return Send(session, args, false, Pattern(static_cast<size_t>(count)));
}

CommandResult RunAccept(Session& /*session*/, const CommandArgs& args) {
  if (args[0] == "on") {
    SetMemoAccepted(true);
  } else if (args[0] == "off") {
    SetMemoAccepted(false);
  } else {
    return Failed("say on or off");
  }
  return Ok();
}

}  // namespace pbhost
