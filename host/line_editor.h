// line_editor.h: reading command lines from a person at a terminal, and the terminal's width.
#ifndef PEERBEACON_HOST_LINE_EDITOR_H_
#define PEERBEACON_HOST_LINE_EDITOR_H_

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/command_table.h"
#include "host/output.h"

namespace pbhost {

// A line editor on a terminal: editing keys, history of the lines entered, and completion of
// the first word from a list. While it waits for a line, text written through it (Output's
// TerminalLine) appears on lines of its own and the prompt with the partly typed line is
// redrawn below it; while a command runs, text is written straight through. Next runs on one
// thread; Write may come from any thread.
class LineEditor : public LineReader, public TerminalLine {};

// The editor for the terminal behind `in` and `out`, or null when either is not a terminal or
// this build has none (the Windows host, or a Linux build without libedit); the caller then
// reads plain lines. One editor lives at a time, and every editor of a process uses the first
// one's streams (libedit's readline interface is process-wide); other streams get null.
std::unique_ptr<LineEditor> MakeLineEditor(std::FILE* in, std::FILE* out, const std::string& prompt,
                                           std::vector<std::string> first_words);

// The width of the terminal on standard output in columns: the terminal's own idea, else the
// COLUMNS variable, else 80.
size_t TerminalColumns();

}  // namespace pbhost

#endif  // PEERBEACON_HOST_LINE_EDITOR_H_
