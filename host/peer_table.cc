// peer_table.cc: lays out the peer list in columns.
#include "host/peer_table.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "platform/platform.h"

namespace pbhost {
namespace {

constexpr size_t kGap = 2;
constexpr size_t kMinName = 12;
constexpr size_t kMinGroups = 10;

// The longest start of text[from..] that fits `width` without splitting a double-byte
// character (at least one character, so that a too narrow column still makes progress).
size_t FitCharacters(const std::string& text, size_t from, size_t width) {
  const std::string_view rest = std::string_view(text).substr(from);
  const size_t fits = pb::platform::Cp932FittingLength(rest, width);
  if (fits > 0 || rest.empty()) return fits;
  return pb::platform::IsCp932LeadByte(static_cast<unsigned char>(rest[0])) && rest.size() > 1 ? 2
                                                                                               : 1;
}

std::string Pad(std::string text, size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

}  // namespace

size_t ColumnsFromEnvironment() {
  if (const char* columns = std::getenv("COLUMNS")) {
    char* end = nullptr;
    const long value = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && value > 0 && value < 10000) {
      return static_cast<size_t>(value);
    }
  }
  return 80;
}

std::vector<std::string> WrapText(const std::string& text, size_t width) {
  std::vector<std::string> pieces;
  width = std::max<size_t>(width, 1);
  size_t at = 0;
  while (at < text.size()) {
    if (text.size() - at <= width) {
      pieces.push_back(text.substr(at));
      break;
    }
    size_t take = FitCharacters(text, at, width);
    // Prefer the last blank inside the piece, or the one just after it. Trail bytes of CP932
    // are never 0x20, so a blank is always a character of its own.
    const size_t blank = text.rfind(' ', at + take);
    if (blank != std::string::npos && blank > at) take = blank - at;
    pieces.push_back(text.substr(at, take));
    at += take;
    while (at < text.size() && text[at] == ' ') ++at;
  }
  if (pieces.empty()) pieces.emplace_back();
  return pieces;
}

std::vector<std::string> FormatPeerTable(const std::vector<PeerRow>& rows, size_t width) {
  PeerRow head{"#", "name", "status", "address", {"groups"}};
  size_t w_index = head.index.size(), w_name = head.name.size(), w_status = head.status.size(),
         w_address = head.address.size(), w_groups = head.groups[0].size();
  std::vector<std::string> group_texts;
  for (const PeerRow& row : rows) {
    std::string groups;
    for (const std::string& path : row.groups) groups += (groups.empty() ? "" : ", ") + path;
    w_index = std::max(w_index, row.index.size());
    w_name = std::max(w_name, row.name.size());
    w_status = std::max(w_status, row.status.size());
    w_address = std::max(w_address, row.address.size());
    w_groups = std::max(w_groups, groups.size());
    group_texts.push_back(std::move(groups));
  }
  // The fixed columns keep their width; the name and the groups share the rest, the name
  // giving way first down to a minimum, then the groups.
  const size_t fixed = w_index + w_status + w_address + 4 * kGap;
  const size_t room = width > fixed ? width - fixed : 0;
  if (w_name + w_groups > room) {
    const size_t name_share = std::max(kMinName, room / 2);
    w_name = std::min(w_name, std::max(name_share, room > w_groups ? room - w_groups : 0));
    w_groups = std::min(w_groups, std::max(kMinGroups, room > w_name ? room - w_name : 0));
  }
  const std::string gap(kGap, ' ');
  std::vector<std::string> lines;
  const auto emit = [&](const PeerRow& row, const std::string& groups) {
    const std::vector<std::string> names = WrapText(row.name, w_name);
    std::vector<std::string> group_lines;
    for (const std::string& piece : WrapText(groups, w_groups)) group_lines.push_back(piece);
    const size_t height = std::max(names.size(), group_lines.size());
    for (size_t i = 0; i < height; ++i) {
      const bool first = i == 0;
      std::string line = Pad(first ? row.index : "", w_index) + gap +
                         Pad(i < names.size() ? names[i] : "", w_name) + gap +
                         Pad(first ? row.status : "", w_status) + gap +
                         Pad(first ? row.address : "", w_address) + gap +
                         (i < group_lines.size() ? group_lines[i] : "");
      line.erase(line.find_last_not_of(' ') + 1);
      lines.push_back(std::move(line));
    }
  };
  emit(head, head.groups[0]);
  for (size_t i = 0; i < rows.size(); ++i) emit(rows[i], group_texts[i]);
  return lines;
}

}  // namespace pbhost
