// command_table.h: the host's command set and the loop that reads and runs command lines.
#ifndef PEERBEACON_HOST_COMMAND_TABLE_H_
#define PEERBEACON_HOST_COMMAND_TABLE_H_

#include <istream>
#include <string>
#include <vector>

#include "host/session.h"

namespace pbhost {

struct Command {
  const char* name;
  const char* usage;               // argument synopsis for help, "" for none
  const char* summary;             // one line for help
  std::vector<const char*> needs;  // exports the command calls; missing ones disable it
  size_t min_args;
  size_t max_args;
  CommandResult (*run)(Session& session, const CommandArgs& args);
};

const std::vector<Command>& Commands();

// Splits a command line into words; double quotes group words, and inside them a backslash
// before a quote or a backslash keeps that character. Returns false for an unterminated quote. A
// line whose first non-blank character is '#' yields no words.
bool SplitCommandLine(const std::string& line, std::vector<std::string>* words);

// As SplitCommandLine, except that for the memo commands (send, send-wait) the text after the
// target, when it does not open with a quote, is taken as typed: one argument, inner blanks
// and quotes kept, outer blanks dropped. Quoted text is split as SplitCommandLine does.
bool SplitCommandLineWithText(const std::string& line, std::vector<std::string>* words);

// Supplies the command lines: a stream, or a line editor at a terminal.
class LineReader {
 public:
  virtual ~LineReader() = default;
  // The next line without its line break; false at the end of input.
  virtual bool Next(std::string* line) = 0;
};

// Reads lines from `reader` and runs them until end of input or quit. Returns true when every
// command succeeded.
bool RunCommandLoop(Session& session, LineReader& reader);

// Reads lines from `in` and runs them until end of input or quit. With `interactive` a prompt
// precedes each line. Returns true when every command succeeded.
bool RunCommandLoop(Session& session, std::istream& in, bool interactive);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_COMMAND_TABLE_H_
