// peer_table.h: the people's form of the peer list, in columns that fit the terminal.
#ifndef PEERBEACON_HOST_PEER_TABLE_H_
#define PEERBEACON_HOST_PEER_TABLE_H_

#include <cstddef>
#include <string>
#include <vector>

namespace pbhost {

struct PeerRow {
  std::string index;
  std::string name;  // shown as given: the caller escapes it
  std::string status;
  std::string address;
  std::vector<std::string> groups;  // group paths
};

// Lines of a table with the columns #, name, status, address and groups, none longer than
// `width` bytes where that can be had (narrow terminals still get every column at a minimum
// width). Names and group lists too long for their column continue on further lines of the
// row, broken at blanks or group boundaries where possible and never inside a double-byte
// character: the texts are CP932, in which a byte takes one terminal column.
std::vector<std::string> FormatPeerTable(const std::vector<PeerRow>& rows, size_t width);

// The width that COLUMNS names, or 80: for a terminal that does not tell its own.
size_t ColumnsFromEnvironment();

// Breaks `text` into pieces of at most `width` bytes, at blanks where possible (the blank is
// dropped) and otherwise between characters. Empty text gives one empty piece.
std::vector<std::string> WrapText(const std::string& text, size_t width);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_PEER_TABLE_H_
