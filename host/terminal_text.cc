// terminal_text.cc: conversion of the host's texts at the terminal's edge.
#include "host/terminal_text.h"

#include "host/text_escape.h"
#include "platform/text_encoding.h"

namespace pbhost {
namespace {

std::string& Encoding() {
  static std::string encoding;
  return encoding;
}

}  // namespace

bool ResolveEncoding(const std::string& option, bool machine, std::string* encoding,
                     std::string* error) {
  if (option == "raw" || (option.empty() && machine)) {
    encoding->clear();
    return true;
  }
  *encoding = option.empty() || option == "locale" ? pb::platform::TerminalEncoding() : option;
  if (pb::platform::CanConvertText(*encoding)) return true;
  *error = "cannot convert between code page 932 and " + *encoding + " here; try --encoding raw";
  return false;
}

void SetTerminalEncoding(const std::string& encoding) { Encoding() = encoding; }
const std::string& TerminalEncoding() { return Encoding(); }

std::string ShowCp932(std::string_view text) {
  return pb::platform::Cp932ToTerminal(text, Encoding());
}

bool TypedToCp932(std::string_view typed, std::string* cp932, std::string* why) {
  std::string bad;
  switch (pb::platform::TerminalToCp932(typed, Encoding(), cp932, &bad)) {
    case pb::platform::TypedTextFault::kNone:
      return true;
    case pb::platform::TypedTextFault::kNotInCp932:
      *why = "not sent: \"" + EscapeControls(bad) +
             "\" has no code in the Windows Japanese code page (CP932); retype without it";
      return false;
    case pb::platform::TypedTextFault::kInvalid:
      break;
  }
  *why = "not sent: the text is not valid " + Encoding() + " at \"" + EscapeMachine(bad) +
         "\"; retype it";
  return false;
}

}  // namespace pbhost
