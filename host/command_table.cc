// command_table.cc: the host's commands, their dispatch, and the output format for tests.
//
// With --machine every fact is one line on standard output, and every command ends with
// exactly one status line, so a test can read a command's output up to that line:
//   OK                                  the command succeeded
//   ERR <command>: <reason>             it failed (unknown command, bad arguments, refused)
// Fact lines, by command (values in "" are escaped: \" \\ \r \n \t and \xHH for other bytes
// outside printable ASCII):
//   LOADED path="<file>" exports=<found> missing=<name,name|->   at start-up
//   DESCRIBED name="Peerbeacon" values=256,256,2,79              at start-up (NetExSpecification)
//   INIT <result>                                                InitializeNetEx's result
//   CALL <export> <result>                                       start, startex, absence, leave,
//                                                                and StartEntry at start-up
//   STATUS <value> running=<0|1> listening=<0|1> presence=<0|1>  status (also at start-up)
//   PEERS count=<n>                                              peers, followed by n PEER lines
//   PEER index=<i> addr=<a.b.c.d> port=<p> status=<s> name="<display name>" groups=<id,id>
//   GROUPS count=<n>                                             groups, followed by n GROUP lines
//   GROUP index=<i> parent=<i|-1> name="<name>" path="<A>B>"
//   RECORDS peers=<n> groups=<m>                                 records, followed by n ENTRYRECORD
//   ENTRYRECORD index=<i> size=<bytes> bytes=<hex>               and m GROUPRECORD lines: each
//   GROUPRECORD index=<i> size=<bytes> bytes=<hex>               record as the plug-in filled it
//   BAD reason="<why>"                                           a record that could not be read
//   INFO index=<i> text="<GetEntryInfo text>"                    info
//   WAITED peers=<n> ms=<elapsed>                                wait-peers
//   MEMO accepted=<0|1> from=<a.b.c.d|-> port=<p> name="<name>" length=<frame length>
//        data="<payload>"                                        a memo arrived (any time)
//   SENT to=<a.b.c.d> result=<MemoSendResult>                   send, send-wait, send-bytes
//   INPUT result=<r> [addr=<a.b.c.d> port=<p> size=<record size>] input
//   PEERSTATUS addr=<a.b.c.d> status=<0|1|2> ms=<elapsed>        wait-peer (0: gone)
//   MEMOS count=<n>                                              wait-memos
//   UNINIT <result>                                              UnInitializeNetEx at the end
// Warnings and the reasons for a failed start go to standard error.
#include "host/command_table.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "host/commands.h"
#include "host/line_editor.h"
#include "host/peer_table.h"
#include "host/terminal_text.h"
#include "host/text_escape.h"
#include "platform/platform.h"

namespace pbhost {
namespace {

CommandResult RunHelp(Session& session, const CommandArgs& args);

CommandResult RunSleep(Session& /*session*/, const CommandArgs& args) {
  int32_t ms = 0;
  if (!ParseInt32(args[0], &ms) || ms < 0) return Failed("bad milliseconds " + args[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return Ok();
}

CommandResult RunQuit(Session& /*session*/, const CommandArgs& /*args*/) {
  CommandResult result;
  result.quit = true;
  return result;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

// The first export that `command` needs and the plug-in lacks, or null.
const char* MissingExport(const Session& session, const Command& command) {
  for (const char* name : command.needs) {
    if (!session.api.Has(name)) return name;
  }
  return nullptr;
}

CommandResult RunHelp(Session& session, const CommandArgs& /*args*/) {
  constexpr size_t kSummaryColumn = 24;
  const size_t width = std::max<size_t>(TerminalColumns(), kSummaryColumn + 20);
  session.out.Human("commands:");
  for (const Command& command : Commands()) {
    std::string line = std::string("  ") + command.name;
    if (*command.usage != '\0') line += std::string(" ") + command.usage;
    std::string summary = command.summary;
    if (const char* missing = MissingExport(session, command)) {
      summary += std::string(" (unavailable: no ") + missing + ")";
    }
    // A long synopsis gets a line of its own; the summary is wrapped below the column.
    if (line.size() >= kSummaryColumn) {
      session.out.Human(line);
      line.clear();
    }
    for (const std::string& piece : WrapText(summary, width - kSummaryColumn)) {
      line.resize(kSummaryColumn, ' ');
      session.out.Human(line + piece);
      line.clear();
    }
  }
  for (const std::string& piece :
       WrapText("A PEER is a listed peer's index, @ and its address, or the start of its name "
                "(any case; the whole nickname wins over a longer one). The memo TEXT is the "
                "rest of the line; put it in double quotes to keep outer blanks.",
                width)) {
    session.out.Human(piece);
  }
  return Ok();
}

CommandResult Execute(Session& session, const std::vector<std::string>& words) {
  const Command* command = FindCommand(words[0]);
  if (command == nullptr) return Failed("unknown command; try help");
  const CommandArgs args(words.begin() + 1, words.end());
  if (args.size() < command->min_args || args.size() > command->max_args) {
    return Failed(std::string("usage: ") + command->name + " " + command->usage);
  }
  if (const char* missing = MissingExport(session, *command)) {
    return Failed(std::string("unavailable: the plug-in does not export ") + missing);
  }
  return command->run(session, args);
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"peers",
       "",
       "list the peers with their groups",
       {"LockEntryList", "UnlockEntryList", "GetEntryCount", "GetEntryData"},
       0,
       0,
       RunPeers},
      {"groups",
       "",
       "show the group tree",
       {"LockEntryList", "UnlockEntryList", "GetGroupCount", "GetGroupData"},
       0,
       0,
       RunGroups},
      {"records",
       "",
       "show every entry and group record as bytes (hex)",
       {"LockEntryList", "UnlockEntryList", "GetEntryCount", "GetEntryData", "GetGroupCount",
        "GetGroupData"},
       0,
       0,
       RunRecords},
      {"info",
       "PEER",
       "show user and machine of a listed peer (index, @address or name)",
       {"LockEntryList", "UnlockEntryList", "GetEntryData", "GetEntryInfo"},
       1,
       1,
       RunInfo},
      {"wait-peers",
       "N [SECONDS]",
       "wait until at least N peers are listed (default 10 s)",
       {"LockEntryList", "UnlockEntryList", "GetEntryCount"},
       1,
       2,
       RunWaitPeers},
      {"start", "", "announce this user (StartEntry)", {"StartEntry"}, 0, 0, RunStart},
      {"startex", "N", "announce with absence value N", {"StartEntryEx"}, 1, 1, RunStartEx},
      {"absence", "N", "set the absence value (0 present)", {"AbsenceEntry"}, 1, 1, RunAbsence},
      {"leave", "", "tell the network this user leaves", {"ExitEntry"}, 0, 0, RunLeave},
      {"status",
       "",
       "show whether the plug-in runs, listens and hears presence",
       {"GetNxlStatus"},
       0,
       0,
       RunStatus},
      {"send",
       "PEER|ADDR[:PORT]|typed TEXT",
       "send a memo to a listed peer, an address, or the input one; PEER is an index, "
       "@address or the start of a name; TEXT is the rest of the line (quotes optional)",
       {"SendMemoData", "LockEntryList", "UnlockEntryList", "GetEntryData"},
       2,
       2,
       RunSend},
      {"send-wait",
       "PEER|ADDR[:PORT] TEXT",
       "send a memo and wait for its answer without a time limit",
       {"SendResultData", "LockEntryList", "UnlockEntryList", "GetEntryData"},
       2,
       2,
       RunSendWait},
      {"wait-peer",
       "ADDR 1|2|gone [SECONDS]",
       "wait until the peer at ADDR is present (1), absent (2) or gone (default 10 s)",
       {"LockEntryList", "UnlockEntryList", "GetEntryCount", "GetEntryData"},
       2,
       3,
       RunWaitPeer},
      {"wait-memos",
       "N [SECONDS]",
       "wait until N memos have arrived in all (default 10 s)",
       {},
       1,
       2,
       RunWaitMemos},
      {"send-bytes",
       "PEER|ADDR[:PORT] COUNT",
       "send a memo of COUNT pattern bytes",
       {"SendMemoData", "LockEntryList", "UnlockEntryList", "GetEntryData"},
       2,
       2,
       RunSendBytes},
      {"accept", "on|off", "accept or refuse the memos that arrive", {}, 1, 1, RunAccept},
      {"config", "", "edit the settings (next start-up)", {"NetExConfigure"}, 0, 0, RunConfig},
      {"about", "", "show the plug-in's About box", {"NetExAbout"}, 0, 0, RunAbout},
      {"input",
       "",
       "type a destination address; then 'send typed TEXT'",
       {"InputEntry"},
       0,
       0,
       RunInput},
      {"sleep", "MS", "pause the command stream", {}, 1, 1, RunSleep},
      {"help", "", "this list", {}, 0, 0, RunHelp},
      {"quit", "", "leave, stop the plug-in and exit", {}, 0, 0, RunQuit},
  };
  return commands;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Splits off at most `limit` words; *end is where the line goes on after the last one.
bool SplitWords(const std::string& line, size_t limit, std::vector<std::string>* words,
                size_t* end) {
  words->clear();
  // Raw input (the Windows console, or --encoding raw) is code page 932; converted input is
  // the terminal's encoding, whose bytes are not to be read as code page 932.
  const bool cp932 = TerminalEncoding().empty();
  size_t i = 0;
  for (;;) {
    *end = i;
    if (words->size() == limit) return true;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) return true;
    if (words->empty() && line[i] == '#') return true;
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      const char c = line[i++];
      if (cp932 && pb::platform::IsCp932LeadByte(static_cast<unsigned char>(c)) &&
          i < line.size()) {
        // A double-byte character whose second byte is a backslash (0x5C in 表 or ソ) is
        // not an escape.
        word += c;
        word += line[i++];
      } else if (c == '"') {
        quoted = !quoted;
      } else if (quoted && c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
        word += line[i++];
      } else {
        word += c;
      }
    }
    if (quoted) return false;
    words->push_back(std::move(word));
  }
}

// Commands whose last argument, the memo text, may be the rest of the line as typed.
bool TakesTextRest(const std::string& name) { return name == "send" || name == "send-wait"; }

}  // namespace

bool SplitCommandLine(const std::string& line, std::vector<std::string>* words) {
  size_t end = 0;
  return SplitWords(line, std::string::npos, words, &end);
}

bool SplitCommandLineWithText(const std::string& line, std::vector<std::string>* words) {
  size_t end = 0;
  std::vector<std::string> head;
  if (SplitWords(line, 1, &head, &end) && !head.empty() && TakesTextRest(head[0])) {
    const Command* command = FindCommand(head[0]);
    if (command != nullptr && command->max_args > 0 &&
        SplitWords(line, command->max_args, words, &end)) {
      size_t begin = end;
      while (begin < line.size() && IsBlank(line[begin])) ++begin;
      size_t last = line.size();
      while (last > begin && IsBlank(line[last - 1])) --last;
      // Quoted text keeps the quoted form's meaning, and its checks.
      if (words->size() == command->max_args && begin < last && line[begin] != '"') {
        words->push_back(line.substr(begin, last - begin));
        return true;
      }
    }
  }
  return SplitCommandLine(line, words);
}

bool RunCommandLoop(Session& session, LineReader& reader) {
  bool all_ok = true;
  std::string line;
  while (reader.Next(&line)) {
    std::vector<std::string> words;
    CommandResult result;
    if (!SplitCommandLineWithText(line, &words)) {
      words = {"?"};
      result = Failed("unterminated quote");
    } else if (words.empty()) {
      continue;
    } else {
      result = Execute(session, words);
    }
    if (result.ok) {
      session.out.Machine("OK");
    } else {
      all_ok = false;
      session.out.Machine("ERR " + EscapeMachine(words[0]) + ": " + EscapeMachine(result.error));
      // The command and its reason are in the terminal's encoding already.
      session.out.Human("error: " + EscapeControls(words[0]) + ": " + EscapeControls(result.error));
    }
    if (result.quit) break;
  }
  return all_ok;
}

bool RunCommandLoop(Session& session, std::istream& in, bool interactive) {
  class StreamReader final : public LineReader {
   public:
    StreamReader(Output& out, std::istream& in, bool interactive)
        : out_(out), in_(in), interactive_(interactive) {}
    bool Next(std::string* line) override {
      if (interactive_) out_.Prompt("pb> ");
      return static_cast<bool>(std::getline(in_, *line));
    }

   private:
    Output& out_;
    std::istream& in_;
    const bool interactive_;
  };
  StreamReader reader(session.out, in, interactive);
  return RunCommandLoop(session, reader);
}

}  // namespace pbhost
