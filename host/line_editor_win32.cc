// line_editor_win32.cc: the Windows host reads plain lines; only the console's width is asked.
#include <windows.h>

#include <cstdlib>

#include "host/line_editor.h"
#include "host/peer_table.h"

namespace pbhost {

std::unique_ptr<LineEditor> MakeLineEditor(std::FILE*, std::FILE*, const std::string&,
                                           std::vector<std::string>) {
  return nullptr;
}

size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) &&
      info.srWindow.Right >= info.srWindow.Left) {
    return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
  }
  return ColumnsFromEnvironment();
}

}  // namespace pbhost
