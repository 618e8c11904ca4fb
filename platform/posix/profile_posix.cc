// profile_posix.cc: the private-profile (INI) functions for the Linux build, with the Win32 rules.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace pb::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

// A name as the caller gives it counts without its surrounding blanks, like a name in the file.
bool SameName(std::string_view a, const char* b) { return SameProfileName(a, Trim(b)); }

// Editors may start a UTF-8 file with a byte order mark; it is not part of the first line.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// One line of the file as it stands, split into its meaning.
struct Line {
  std::string text;  // without its line end
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed, quotes still on
};

std::vector<Line> ParseLines(const std::string& content) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    Line line;
    line.text = content.substr(start, end - start);
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  for (Line& line : lines) {
    std::string_view t = line.text;
    if (&line == &lines.front() && t.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
      t.remove_prefix(kUtf8Mark.size());
    }
    t = Trim(t);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      const size_t close = t.rfind(']');
      line.kind = Line::kSection;
      line.name = Trim(close == std::string_view::npos ? t.substr(1) : t.substr(1, close - 1));
      continue;
    }
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) continue;
    line.kind = Line::kKey;
    line.name = Trim(t.substr(0, eq));
    line.value = Trim(t.substr(eq + 1));
  }
  return lines;
}

bool ReadWholeFile(const char* path, std::string* content) {
  if (path == nullptr) return false;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) content->append(chunk, n);
  fclose(f);
  return true;
}

// The index of the first section line named section, or -1.
long FindSection(const std::vector<Line>& lines, const char* section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == Line::kSection && SameName(lines[i].name, section)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

// The index of the first key line named key inside the section starting at section_line.
long FindKey(const std::vector<Line>& lines, long section_line, const char* key) {
  for (size_t i = static_cast<size_t>(section_line) + 1; i < lines.size(); ++i) {
    if (lines[i].kind == Line::kSection) break;
    if (lines[i].kind == Line::kKey && SameName(lines[i].name, key)) return static_cast<long>(i);
  }
  return -1;
}

// A value as the lookups return it: one surrounding pair of matching quotes dropped.
std::string_view Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

bool LookUp(const char* section, const char* key, const char* path, std::string* value) {
  if (section == nullptr || key == nullptr) return false;
  std::string content;
  if (!ReadWholeFile(path, &content)) return false;
  const std::vector<Line> lines = ParseLines(content);
  const long s = FindSection(lines, section);
  if (s < 0) return false;
  const long k = FindKey(lines, s, key);
  if (k < 0) return false;
  value->assign(Unquoted(lines[static_cast<size_t>(k)].value));
  return true;
}

}  // namespace

uint32_t GetProfileString(const char* section, const char* key, const char* default_value,
                          char* buffer, uint32_t size, const char* path) {
  if (buffer == nullptr || size == 0) return 0;
  std::string value;
  if (!LookUp(section, key, path, &value)) {
    // The default loses its trailing blanks, as with the Win32 function.
    value = default_value != nullptr ? default_value : "";
    while (!value.empty() && value.back() == ' ') value.pop_back();
  }
  const size_t n = value.size() < size - 1 ? value.size() : size - 1;
  memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

int32_t GetProfileInt(const char* section, const char* key, int32_t default_value,
                      const char* path) {
  char text[30];
  if (GetProfileString(section, key, "", text, sizeof text, path) == 0) return default_value;
  return ParseProfileInteger(text);
}

bool GetProfileSection(const char* section, const char* path, std::vector<ProfileEntry>* entries) {
  entries->clear();
  std::string content;
  if (section == nullptr || !ReadWholeFile(path, &content)) return false;
  const std::vector<Line> lines = ParseLines(content);
  const long s = FindSection(lines, section);
  if (s < 0) return true;
  for (size_t i = static_cast<size_t>(s) + 1; i < lines.size(); ++i) {
    if (lines[i].kind == Line::kSection) break;
    if (lines[i].kind != Line::kKey) continue;
    entries->push_back(
        ProfileEntry{std::string(lines[i].name), std::string(Unquoted(lines[i].value))});
  }
  return true;
}

bool ProfileKeyMatches(const std::string& found, const char* asked) {
  return asked != nullptr && SameName(found, asked);
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* path) {
  if (section == nullptr || path == nullptr) return false;
  std::string content;
  const bool existed = ReadWholeFile(path, &content);
  std::vector<Line> lines = existed ? ParseLines(content) : std::vector<Line>();
  // A file that ended with a line end parses into a last, empty line: it is not a line.
  const bool trailing_newline = !content.empty() && content.back() == '\n';
  if (trailing_newline && !lines.empty() && lines.back().text.empty()) lines.pop_back();

  std::vector<std::string> out;
  out.reserve(lines.size() + 2);
  for (const Line& line : lines) out.push_back(line.text);

  const long s = FindSection(lines, section);
  const std::string section_name(Trim(section));
  const std::string key_name(key != nullptr ? Trim(key) : std::string_view());
  if (key == nullptr) {
    // Deleting a whole section: its header and every line up to the next section.
    if (s < 0) return true;
    size_t end = static_cast<size_t>(s) + 1;
    while (end < lines.size() && lines[end].kind != Line::kSection) ++end;
    out.erase(out.begin() + s, out.begin() + static_cast<long>(end));
  } else if (s < 0) {
    if (value == nullptr) return true;
    out.push_back("[" + section_name + "]");
    out.push_back(key_name + "=" + value);
  } else {
    const long k = FindKey(lines, s, key);
    if (k >= 0 && value == nullptr) {
      out.erase(out.begin() + k);
    } else if (k >= 0) {
      // The key keeps the file's spelling of its name; only the value changes.
      out[static_cast<size_t>(k)] = std::string(lines[static_cast<size_t>(k)].name) + "=" + value;
    } else if (value != nullptr) {
      // A new key goes behind the section's last key, before any blank lines that close it.
      size_t insert = static_cast<size_t>(s) + 1;
      for (size_t i = insert; i < lines.size() && lines[i].kind != Line::kSection; ++i) {
        if (!Trim(lines[i].text).empty()) insert = i + 1;
      }
      out.insert(out.begin() + static_cast<long>(insert), key_name + "=" + value);
    } else {
      return true;
    }
  }

  std::string text;
  for (const std::string& line : out) text += line + "\r\n";
  const std::string temp = std::string(path) + ".tmp";
  FILE* f = fopen(temp.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
  if (fclose(f) != 0 || !written) {
    remove(temp.c_str());
    return false;
  }
  if (rename(temp.c_str(), path) != 0) {
    remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace pb::platform
