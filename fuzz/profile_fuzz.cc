// profile_fuzz.cc: the private-profile reader on an arbitrary file, and a write followed by a
// re-read: the written key reads back and every other key reads as it did before.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/platform.h"

namespace {

using pb::fuzz::CanaryBuffer;
using pb::fuzz::Input;

pb::fuzz::ScratchDir* g_scratch = nullptr;

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// The section names of the file as a reader would spell them: what stands between '[' and the
// last ']' of a line that starts with '['.
std::vector<std::string> SectionNames(const std::string& file) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < file.size() && names.size() < 16) {
    size_t end = file.find('\n', start);
    if (end == std::string::npos) end = file.size();
    const std::string line = Trim(file.substr(start, end - start));
    if (!line.empty() && line[0] == '[') {
      const size_t close = line.rfind(']');
      names.push_back(
          Trim(close == std::string::npos ? line.substr(1) : line.substr(1, close - 1)));
    }
    start = end + 1;
  }
  return names;
}

std::string Lookup(const std::string& path, const std::string& section, const std::string& key,
                   const char* fallback) {
  std::string buffer(4096, '\0');
  const uint32_t n = pb::platform::GetProfileString(section.c_str(), key.c_str(), fallback,
                                                    buffer.data(), 4096, path.c_str());
  PB_FUZZ_CHECK(n < 4096);
  buffer.resize(n);
  return buffer;
}

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// Every (section, key) that a lookup finds, with the value it gives: the first key of that name
// in the first section of that name.
using Readable = std::map<std::pair<std::string, std::string>, std::string>;

Readable ReadAll(const std::string& path, const std::vector<std::string>& sections) {
  Readable all;
  for (const std::string& section : sections) {
    if (HasNul(section)) continue;
    std::vector<pb::platform::ProfileEntry> entries;
    PB_FUZZ_CHECK(pb::platform::GetProfileSection(section.c_str(), path.c_str(), &entries));
    for (const pb::platform::ProfileEntry& entry : entries) {
      if (HasNul(entry.key) || entry.value.size() >= 4095) continue;
      // Names compare without case and without their surrounding blanks (" s" and "S" are one
      // section): keep the first spelling that a lookup would find.
      std::string upper_section = Trim(section), upper_key = entry.key;
      for (char& c : upper_section) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      for (char& c : upper_key) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      const auto id = std::make_pair(upper_section, upper_key);
      if (all.count(id) != 0) continue;
      // The listing and the single lookup agree.
      const std::string value = Lookup(path, section, entry.key, "\x01missing");
      PB_FUZZ_CHECK(value == entry.value);
      all[id] = value;
    }
  }
  return all;
}

// A name or value the writer is given: no line ends (a settings dialog's edit field has
// none) and no NUL.
std::string Clean(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c != '\n' && c != '\r' && c != '\0') out.push_back(c);
  }
  return out;
}

// What a lookup gives for a written value: trimmed, one surrounding pair of quotes dropped.
std::string AsRead(const std::string& value) {
  std::string v = Trim(value);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

}  // namespace

// Input: a buffer size byte, a section, a key and a value to write (short strings), a flag
// byte, then the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_scratch == nullptr) g_scratch = new pb::fuzz::ScratchDir();
  Input in(data, size);
  const uint32_t buffer_size = in.Byte();
  const std::string write_section = Clean(in.ShortString(40));
  const std::string write_key = Clean(in.ShortString(40));
  const std::string write_value = Clean(in.ShortString(80));
  const uint8_t flags = in.Byte();
  const std::string file = in.Rest();
  const std::string path = g_scratch->NextDir() + "/test.ini";
  pb::fuzz::WriteFileBytes(path, file);

  // Bounded reads: never more than size - 1 characters and always a terminator.
  std::vector<std::string> sections = SectionNames(file);
  sections.push_back(write_section);
  for (const std::string& section : sections) {
    CanaryBuffer buffer(buffer_size);
    const uint32_t n = pb::platform::GetProfileString(section.c_str(), write_key.c_str(), "dflt  ",
                                                      reinterpret_cast<char*>(buffer.data()),
                                                      buffer_size, path.c_str());
    PB_FUZZ_CHECK(buffer.CanaryIntact());
    if (buffer_size == 0) {
      PB_FUZZ_CHECK(n == 0 && buffer.Untouched());
    } else {
      PB_FUZZ_CHECK(n < buffer_size && buffer.data()[n] == 0);
    }
    pb::platform::GetProfileInt(section.c_str(), write_key.c_str(), -5, path.c_str());
  }

  const Readable before = ReadAll(path, sections);
  // A key name that starts a comment or a section, or holds '=', is not a key once written;
  // a section name with ']' is cut by the reader.
  const std::string key_trimmed = Trim(write_key);
  const bool writable = (flags & 1) != 0 && !HasNul(write_section) &&
                        write_key.find('=') == std::string::npos &&
                        write_section.find(']') == std::string::npos &&
                        (key_trimmed.empty() || (key_trimmed[0] != ';' && key_trimmed[0] != '['));
  if (!writable) return 0;
  PB_FUZZ_CHECK(pb::platform::WriteProfileString(write_section.c_str(), write_key.c_str(),
                                                 write_value.c_str(), path.c_str()));
  PB_FUZZ_CHECK(Lookup(path, write_section, write_key, "\x01missing") == AsRead(write_value));
  const Readable after = ReadAll(path, sections);
  std::string upper_section = Trim(write_section), upper_key = key_trimmed;
  for (char& c : upper_section) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (char& c : upper_key) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (const auto& [id, value] : before) {
    if (id == std::make_pair(upper_section, upper_key)) continue;
    const auto found = after.find(id);
    PB_FUZZ_CHECK(found != after.end());
    PB_FUZZ_CHECK(found->second == value);
  }
  return 0;
}
