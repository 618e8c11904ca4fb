// node_list_fuzz.cc: the node-list value parsers on arbitrary values, and the whole node-list
// read from an arbitrary file, compared with lookups made one key at a time through the
// platform's profile functions.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/node_list.h"
#include "fuzz/fuzz_input.h"
#include "platform/platform.h"
#include "store/group_table.h"

namespace {

using pb::fuzz::CanaryBuffer;
using pb::fuzz::Input;

pb::fuzz::ScratchDir* g_scratch = nullptr;

// atoi's reading: leading blanks, a sign, the leading digits; clamped instead of overflowing.
int64_t AtoiLike(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < (int64_t{1} << 40)) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// The group numbers of a MACHINE value that name one of groups node-list groups.
std::vector<int64_t> ModelGroups(const std::string& value, int32_t groups) {
  std::vector<int64_t> out;
  const size_t comma = value.find(',');
  if (comma == std::string::npos) return out;
  std::string piece;
  for (size_t i = comma + 1; i <= value.size(); ++i) {
    if (i == value.size() || value[i] == '&') {
      if (!piece.empty()) {
        const int64_t c = AtoiLike(piece);
        if (c > 0 && c <= groups) out.push_back(c);
      }
      piece.clear();
    } else {
      piece.push_back(value[i]);
    }
  }
  return out;
}

void CheckValueParsers(const std::string& value, int32_t groups, int32_t max, int32_t offset) {
  pb::GroupTable table;
  for (int32_t g = 0; g < groups; ++g) table.Intern(("g" + std::to_string(g)).c_str(), -1);

  const size_t comma = value.find(',');
  const size_t name_length = comma == std::string::npos ? value.size() : comma;
  PB_FUZZ_CHECK(pb::NodeListNameOf(value, nullptr, 0) == static_cast<int32_t>(name_length));
  CanaryBuffer name(static_cast<size_t>(max > 0 ? max : 0));
  PB_FUZZ_CHECK(pb::NodeListNameOf(value, reinterpret_cast<char*>(name.data()), max) ==
                static_cast<int32_t>(name_length));
  PB_FUZZ_CHECK(name.CanaryIntact());
  if (static_cast<int64_t>(max) > static_cast<int64_t>(name_length)) {
    PB_FUZZ_CHECK(std::memcmp(name.data(), value.data(), name_length) == 0);
    PB_FUZZ_CHECK(name.data()[name_length] == 0);
  } else {
    PB_FUZZ_CHECK(name.Untouched());
  }

  const std::vector<int64_t> expected = ModelGroups(value, groups);
  const int32_t count = pb::NodeListGroupsOf(value, nullptr, 0, offset, &table);
  PB_FUZZ_CHECK(count == static_cast<int32_t>(expected.size()));
  const size_t slots = max > 0 ? static_cast<size_t>(max) : 0;
  CanaryBuffer ids(slots * 4);
  PB_FUZZ_CHECK(pb::NodeListGroupsOf(value, reinterpret_cast<int32_t*>(ids.data()), max, offset,
                                     &table) == count);
  PB_FUZZ_CHECK(ids.CanaryIntact());
  const int64_t base = offset > 0 ? offset : 0;
  for (size_t i = 0; i < slots; ++i) {
    int32_t id;
    std::memcpy(&id, ids.data() + 4 * i, 4);
    if (i < expected.size()) {
      PB_FUZZ_CHECK(id == base + expected[i] - 1);
    } else {
      PB_FUZZ_CHECK(std::memcmp(ids.data() + 4 * i, "\xA5\xA5\xA5\xA5", 4) == 0);
    }
  }
}

// The GROUP section read key by key, as the design describes it, into a table.
void ModelGroupTable(const std::string& path, int32_t count, pb::GroupTable* table) {
  std::vector<int32_t> ids(static_cast<size_t>(count), -1);
  for (int32_t i = 1; i <= count; ++i) {
    char value[256];
    pb::platform::GetProfileString("GROUP", ("GROUP" + std::to_string(i)).c_str(), "error", value,
                                   sizeof value, path.c_str());
    // strtok at commas: runs of commas are one separator, leading ones are skipped.
    std::vector<std::string> fields;
    std::string field;
    for (const char* p = value;; ++p) {
      if (*p == ',' || *p == '\0') {
        if (!field.empty()) fields.push_back(field);
        field.clear();
        if (*p == '\0') break;
      } else {
        field.push_back(*p);
      }
    }
    const std::string name = fields.empty() ? std::string() : fields[0];
    const int64_t p = fields.size() >= 2 ? AtoiLike(fields[1]) : 0;
    const int32_t parent = p >= 1 && p <= count ? ids[static_cast<size_t>(p - 1)] : -1;
    ids[static_cast<size_t>(i - 1)] = table->Intern(name.c_str(), parent);
  }
}

std::string MachineValue(const std::string& path, const std::string& key) {
  char fallback[1024];
  char value[1024];
  pb::platform::GetProfileString("MACHINE", "DEFAULT", "", fallback, sizeof fallback, path.c_str());
  pb::platform::GetProfileString("MACHINE", key.c_str(), fallback, value, sizeof value,
                                 path.c_str());
  return value;
}

void CheckFile(const std::string& file, const std::vector<std::string>& asked_keys,
               int32_t offset) {
  const std::string dir = g_scratch->NextDir();
  const std::string path = dir + "/NodeList.ini";
  pb::fuzz::WriteFileBytes(path, file);
  pb::fuzz::SetEnv("PEERBEACON_WINDOWS_DIR", dir);
  std::string found;
  PB_FUZZ_CHECK(pb::FindNodeListFile(&found) && found == path);

  pb::GroupTable table;
  PB_FUZZ_CHECK(pb::ReadNodeListGroups(&table) == 0);
  for (int32_t i = 0; i < table.Count(); ++i) PB_FUZZ_CHECK(table.GetParent(i) < i);
  const int32_t count = pb::platform::GetProfileInt("GROUP", "COUNT", 0, path.c_str());
  // Key by key costs one file read per line; a long tree is only checked for its shape.
  if (count <= 64) {
    pb::GroupTable model;
    if (count > 0) ModelGroupTable(path, count, &model);
    PB_FUZZ_CHECK(table.Count() == model.Count());
    for (int32_t i = 0; i < model.Count(); ++i) {
      PB_FUZZ_CHECK(std::strcmp(table.GetName(i), model.GetName(i)) == 0);
      PB_FUZZ_CHECK(table.GetParent(i) == model.GetParent(i));
    }
  }

  std::vector<std::string> keys = asked_keys;
  std::vector<pb::platform::ProfileEntry> machine;
  pb::platform::GetProfileSection("MACHINE", path.c_str(), &machine);
  for (size_t i = 0; i < machine.size() && i < 8; ++i) keys.push_back(machine[i].key);
  for (const std::string& raw : keys) {
    const std::string key = pb::fuzz::CString(raw);
    const std::string value = MachineValue(path, key);
    const size_t comma = value.find(',');
    const std::string name = value.substr(0, comma);
    char buffer[1024];
    PB_FUZZ_CHECK(pb::GetNodeListName(key.c_str(), buffer, sizeof buffer) ==
                  static_cast<int32_t>(name.size()));
    PB_FUZZ_CHECK(name == buffer);
    const std::vector<int64_t> expected = ModelGroups(value, table.Count());
    const int32_t groups = pb::GetNodeListGroups(key.c_str(), nullptr, 0, offset, &table);
    PB_FUZZ_CHECK(groups == static_cast<int32_t>(expected.size()));
    std::vector<int32_t> ids(expected.size() + 1, -7);
    PB_FUZZ_CHECK(pb::GetNodeListGroups(key.c_str(), ids.data(), groups, offset, &table) == groups);
    const int64_t base = offset > 0 ? offset : 0;
    for (size_t i = 0; i < expected.size(); ++i) PB_FUZZ_CHECK(ids[i] == base + expected[i] - 1);
    PB_FUZZ_CHECK(ids[expected.size()] == -7);
  }
}

}  // namespace

// Input: a mode byte, then for mode bit 0 clear the value parsers' operands (group count, max,
// offset, the value) and for bit 0 set two asked keys, an offset and the node-list file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_scratch == nullptr) {
    g_scratch = new pb::fuzz::ScratchDir();
    // Nothing of the machine's own may be found: the system directory is an empty one, and no
    // Primus.ini stands beside this program.
    pb::fuzz::SetEnv("PEERBEACON_SYSTEM_DIR", g_scratch->root().string());
  }
  Input in(data, size);
  const uint8_t mode = in.Byte();
  if ((mode & 1) == 0) {
    const int32_t groups = in.Byte() % 40;
    const int32_t max = static_cast<int8_t>(in.Byte());
    const int32_t offset = static_cast<int16_t>(in.U16());
    CheckValueParsers(in.Rest(), groups, max, offset);
  } else {
    std::vector<std::string> keys;
    keys.push_back(in.ShortString(64));
    keys.push_back(in.ShortString(64));
    const int32_t offset = static_cast<int8_t>(in.Byte());
    // NUL bytes inside a line are the profile reader's concern (profile_fuzz); here they would
    // only make the key-by-key model, which reads C strings, disagree about them.
    std::string file = in.Rest();
    for (char& c : file) {
      if (c == '\0') c = ' ';
    }
    CheckFile(file, keys, offset);
  }
  return 0;
}
