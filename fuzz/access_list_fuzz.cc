// access_list_fuzz.cc: the allow-list scanner on arbitrary file contents and addresses, checked
// against a plain reading of the file's rules.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "files/access_list.h"
#include "fuzz/fuzz_input.h"
#include "platform/platform.h"

namespace {

using pb::fuzz::Input;

// The file's rules read directly: digits, '.' and '/' collect a token of at most 64
// characters (the 64th ends it); a line feed, a '#' (whose comment runs to the next line feed)
// and the end of the file end it; every other byte is skipped. A token a.b.c.d[/n] admits the
// address when both agree under the prefix mask (n clamped to 32; n = 0 is the full mask).
bool ModelTokenAdmits(const std::string& token, uint32_t address) {
  const size_t slash = token.find('/');
  const std::string text = token.substr(0, slash);
  int prefix = 0;
  if (slash != std::string::npos) {
    for (size_t i = slash + 1; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
      prefix = prefix * 10 + (token[i] - '0');
      if (prefix > 32) prefix = 33;
    }
  }
  if (prefix > 32) prefix = 32;
  const uint32_t mask_host = prefix == 0 || prefix == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefix);
  uint8_t mask_bytes[4] = {static_cast<uint8_t>(mask_host >> 24),
                           static_cast<uint8_t>(mask_host >> 16),
                           static_cast<uint8_t>(mask_host >> 8), static_cast<uint8_t>(mask_host)};
  uint32_t mask;
  std::memcpy(&mask, mask_bytes, 4);
  const uint32_t token_address = pb::platform::ParseDottedAddress(text.c_str());
  return (address & mask) == (token_address & mask);
}

bool ModelAdmits(const std::string& file, uint32_t address) {
  std::string token;
  bool admitted = false;
  auto end = [&]() {
    if (!token.empty() && ModelTokenAdmits(token, address)) admitted = true;
    token.clear();
  };
  for (size_t i = 0; i < file.size(); ++i) {
    const char c = file[i];
    if ((c >= '0' && c <= '9') || c == '.' || c == '/') {
      token.push_back(c);
      if (token.size() == 64) end();
    } else if (c == '\n') {
      end();
    } else if (c == '#') {
      end();
      while (i < file.size() && file[i] != '\n') ++i;
    }
  }
  end();
  return admitted;
}

}  // namespace

// Input: the IPv4 address (4 bytes, network order as stored), then the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  uint32_t address;
  const std::string address_bytes = in.Bytes(4);
  if (address_bytes.size() < 4) return 0;
  std::memcpy(&address, address_bytes.data(), 4);
  const std::string file = in.Rest();
  // Exactly the file's bytes, so that a read past its end is reported.
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[file.size() + 1]);
  std::memcpy(bytes.get(), file.data(), file.size());
  const unsigned char* text = file.empty() ? nullptr : bytes.get();

  const int32_t admitted = pb::AccessListAdmits(text, file.size(), address);
  PB_FUZZ_CHECK(admitted == 0 || admitted == 1);
  PB_FUZZ_CHECK((admitted == 1) == ModelAdmits(file, address));

  // Every address a token names is admitted by a file holding just that token.
  const std::string first = pb::fuzz::CString(file.substr(0, 64));
  if (!first.empty() && first.find_first_not_of("0123456789./") == std::string::npos) {
    const uint32_t named =
        pb::platform::ParseDottedAddress(first.substr(0, first.find('/')).c_str());
    const auto* p = reinterpret_cast<const unsigned char*>(first.data());
    PB_FUZZ_CHECK(pb::AccessListAdmits(p, first.size(), named) == 1);
    PB_FUZZ_CHECK(pb::AccessTokenAdmits(first.c_str(), named));
  }
  return 0;
}
