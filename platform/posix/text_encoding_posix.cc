// text_encoding_posix.cc: code page 932 text to and from a terminal's encoding, with iconv.
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/text_encoding.h"

namespace pb::platform {
namespace {

constexpr char kCp932[] = "CP932";

// One conversion descriptor, closed on every way out.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of [*in, *in + *left) as it can onto *out; returns 0 when all of it
  // converted, otherwise the errno that stopped it (EILSEQ or EINVAL) with *in at the
  // character that could not be converted.
  int Run(const char** in, size_t* left, std::string* out) {
    while (*left > 0) {
      char buffer[256];
      char* dest = buffer;
      size_t room = sizeof buffer;
      char* from = const_cast<char*>(*in);
      const size_t r = iconv(cd_, &from, left, &dest, &room);
      const int error = errno;
      *in = from;
      out->append(buffer, static_cast<size_t>(dest - buffer));
      if (r == static_cast<size_t>(-1) && error != E2BIG) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return error;
      }
    }
    return 0;
  }

 private:
  iconv_t cd_;
};

void AppendHex(unsigned char byte, std::string* out) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  *out += hex;
}

bool IsCp932TrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

// The length of a UTF-8 character as its first byte announces it; 1 for a byte that starts
// none.
size_t Utf8Length(unsigned char byte) {
  if (byte >= 0xF5) return 1;
  if (byte >= 0xF0) return 4;
  if (byte >= 0xE0) return 3;
  if (byte >= 0xC2 && byte <= 0xDF) return 2;
  return 1;
}

bool IsUtf8(const std::string& encoding) {
  return encoding == "UTF-8" || encoding == "utf-8" || encoding == "UTF8" || encoding == "utf8";
}

}  // namespace

std::string TerminalEncoding() {
  std::string codeset;
  const locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale != static_cast<locale_t>(0)) {
    const char* name = nl_langinfo_l(CODESET, locale);
    if (name != nullptr) codeset = name;
    freelocale(locale);
  }
  // The C locale's codeset (and an environment naming a locale that is not installed).
  if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" ||
      codeset == "US-ASCII") {
    return "UTF-8";
  }
  return codeset;
}

bool CanConvertText(const std::string& encoding) {
  if (encoding.empty()) return true;
  Converter to(encoding.c_str(), kCp932), from(kCp932, encoding.c_str());
  return to.ok() && from.ok();
}

std::string Cp932ToTerminal(std::string_view text, const std::string& encoding) {
  if (encoding.empty()) return std::string(text);
  Converter converter(encoding.c_str(), kCp932);
  std::string out;
  const char* in = text.data();
  const char* const end = text.data() + text.size();
  size_t left = text.size();
  while (left > 0) {
    if (!converter.ok() || converter.Run(&in, &left, &out) == 0) break;
    // A lead byte with a proper trail byte is one character, even one without a code point
    // or one the terminal lacks; anything else is one stray byte.
    const auto first = static_cast<unsigned char>(in[0]);
    size_t bad = 1;
    if (IsCp932LeadByte(first) && in + 1 < end &&
        IsCp932TrailByte(static_cast<unsigned char>(in[1]))) {
      bad = 2;
    }
    for (size_t i = 0; i < bad; ++i) AppendHex(static_cast<unsigned char>(in[i]), &out);
    in += bad;
    left -= bad;
  }
  // Without a converter the bytes still reach the user, escaped where they are not ASCII.
  if (!converter.ok()) {
    for (; in < end; ++in) {
      const auto byte = static_cast<unsigned char>(*in);
      if (byte < 0x80) {
        out += *in;
      } else {
        AppendHex(byte, &out);
      }
    }
  }
  return out;
}

TypedTextFault TerminalToCp932(std::string_view text, const std::string& encoding, std::string* out,
                               std::string* bad) {
  out->clear();
  bad->clear();
  if (encoding.empty()) {
    out->assign(text);
    return TypedTextFault::kNone;
  }
  Converter converter(kCp932, encoding.c_str());
  if (!converter.ok()) return TypedTextFault::kInvalid;
  const char* in = text.data();
  size_t left = text.size();
  const int error = converter.Run(&in, &left, out);
  if (error == 0) return TypedTextFault::kNone;
  size_t length = 1;
  if (IsUtf8(encoding)) length = Utf8Length(static_cast<unsigned char>(in[0]));
  bad->assign(in, length < left ? length : left);
  if (error == EINVAL) return TypedTextFault::kInvalid;
  // iconv reports a character the target lacks and bytes the source does not allow alike;
  // the character on its own tells them apart.
  Converter check("UTF-32LE", encoding.c_str());
  std::string ignored;
  const char* at = bad->data();
  size_t bad_left = bad->size();
  return check.ok() && check.Run(&at, &bad_left, &ignored) == 0 ? TypedTextFault::kNotInCp932
                                                                : TypedTextFault::kInvalid;
}

}  // namespace pb::platform
