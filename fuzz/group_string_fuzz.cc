// group_string_fuzz.cc: group strings and direct interning into one GroupTable, with the
// table's invariants and the groups each string names checked after every step.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "store/group_table.h"

namespace {

using pb::GroupTable;
using pb::fuzz::Input;

// Ids equal positions, a parent is -1 or below its child, and (name, parent) is unique.
void CheckTable(const GroupTable& table) {
  std::set<std::pair<std::string, int32_t>> seen;
  const int32_t count = table.Count();
  PB_FUZZ_CHECK(count >= 0);
  for (int32_t i = 0; i < count; ++i) {
    const char* name = table.GetName(i);
    PB_FUZZ_CHECK(name != nullptr);
    const int32_t parent = table.GetParent(i);
    PB_FUZZ_CHECK(parent >= -1 && parent < i);
    PB_FUZZ_CHECK(seen.emplace(name, parent).second);
  }
  PB_FUZZ_CHECK(table.GetName(count) == nullptr);
  PB_FUZZ_CHECK(table.GetName(-1) == nullptr);
  PB_FUZZ_CHECK(table.GetParent(count) == -1);
}

// The groups of a group string read plainly: '&' followed by '&' or '>' is that character of a
// name; '>' separates levels and '&' groups. Each group is its list of level names. trailing
// tells whether the text ends in a group separator, which opens one more, empty, group.
std::vector<std::vector<std::string>> SplitGroups(const std::string& text, bool* trailing) {
  std::vector<std::vector<std::string>> groups(1);
  *trailing = false;
  std::string token;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : '\0';
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (c == '&' && (next == '&' || next == '>')) {
      token.push_back(next);
      ++i;
    } else if (c == '>') {
      groups.back().push_back(token);
      token.clear();
    } else if (c == '&' || c == '\0') {
      groups.back().push_back(token);
      token.clear();
      if (c == '&') groups.emplace_back();
      if (c == '&') *trailing = i + 1 == text.size();
    } else {
      token.push_back(c);
    }
  }
  return groups;
}

// The id's chain of names from the outermost level down.
std::vector<std::string> PathOf(const GroupTable& table, int32_t id) {
  std::vector<std::string> path;
  while (id >= 0) {
    PB_FUZZ_CHECK(path.size() <= static_cast<size_t>(table.Count()));
    path.insert(path.begin(), table.GetName(id));
    id = table.GetParent(id);
  }
  return path;
}

}  // namespace

// Input: a sequence of steps, each an operation byte and its operands:
//   op % 4 == 0: ParseGroups(string up to the next NUL byte, capacity from one byte)
//   op % 4 == 1: Intern(short string, parent from one signed byte)
//   op % 4 == 2: CountGroups of the next string only
//   op % 4 == 3: Clear (rare: only when op == 3)
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  GroupTable table;
  int steps = 0;
  while (!in.empty() && steps++ < 64) {
    const uint8_t op = in.Byte();
    switch (op % 4) {
      case 0: {
        const int32_t capacity = static_cast<int8_t>(in.Byte());
        const std::string text = in.Until(0);
        const int32_t n = GroupTable::CountGroups(text.c_str());
        bool trailing = false;
        const auto groups = SplitGroups(text, &trailing);
        PB_FUZZ_CHECK(text.empty() ? n == 0 : n >= 1);
        std::vector<int32_t> ids(static_cast<size_t>(n) + 8, -7);
        const int32_t before = table.Count();
        const int32_t result = table.ParseGroups(text.c_str(), ids.data(), capacity);
        PB_FUZZ_CHECK(result == n);
        CheckTable(table);
        if (text.empty()) {
          PB_FUZZ_CHECK(table.Count() == before);
          break;
        }
        // At most capacity ids; a trailing separator's empty group is written too when the
        // capacity leaves room for it (the receiver passes capacity n, which leaves none).
        const size_t all = groups.size();
        const size_t written =
            capacity <= 0 ? 0 : (static_cast<size_t>(capacity) < all ? capacity : all);
        for (size_t i = written; i < ids.size(); ++i) PB_FUZZ_CHECK(ids[i] == -7);
        // Every group the string names exists with its whole path, and the written ids are
        // the innermost levels of the groups in their order. The trailing empty group is
        // interned but not counted.
        PB_FUZZ_CHECK(groups.size() == static_cast<size_t>(n) + (trailing ? 1 : 0));
        for (size_t i = 0; i < written; ++i) {
          PB_FUZZ_CHECK(ids[i] >= 0 && ids[i] < table.Count());
          PB_FUZZ_CHECK(PathOf(table, ids[i]) == groups[i]);
        }
        break;
      }
      case 1: {
        const std::string name = pb::fuzz::CString(in.ShortString(64));
        const int32_t parent = static_cast<int8_t>(in.Byte());
        const int32_t before = table.Count();
        const int32_t id = table.Intern(name.c_str(), parent);
        PB_FUZZ_CHECK(id >= 0 && id < table.Count());
        PB_FUZZ_CHECK(table.Count() == before || (table.Count() == before + 1 && id == before));
        PB_FUZZ_CHECK(name == table.GetName(id));
        const int32_t expected_parent = parent >= 0 && parent < before ? parent : -1;
        if (id == before) PB_FUZZ_CHECK(table.GetParent(id) == expected_parent);
        // Callers pass -1 or an id the table gave out; for those interning is idempotent. (An
        // id not yet given out is stored as -1, but may name a real group on the next call.)
        if (parent == -1 || (parent >= 0 && parent < before)) {
          PB_FUZZ_CHECK(table.Intern(name.c_str(), parent) == id);
        }
        CheckTable(table);
        break;
      }
      case 2: {
        const std::string text = in.Until(0);
        const int32_t n = GroupTable::CountGroups(text.c_str());
        PB_FUZZ_CHECK(GroupTable::CountGroups(text.c_str()) == n);
        PB_FUZZ_CHECK(table.ParseGroups(text.c_str(), nullptr, 0) == n);
        CheckTable(table);
        break;
      }
      default:
        if (op == 3) {
          PB_FUZZ_CHECK(table.Clear() == 1);
          PB_FUZZ_CHECK(table.Count() == 0);
          PB_FUZZ_CHECK(table.Intern("x", -1) == 0);
        }
        break;
    }
  }
  return 0;
}
