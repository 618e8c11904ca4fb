// options.h: the host's command-line options.
#ifndef PEERBEACON_HOST_OPTIONS_H_
#define PEERBEACON_HOST_OPTIONS_H_

#include <string>
#include <vector>

namespace pbhost {

struct Options {
  std::string plugin;                    // empty: Peerbeacon.nxl beside the executable
  std::string script;                    // empty: standard input
  std::string text = "peerbeacon-host";  // InitializeNetEx's text argument
  std::string encoding;                  // --encoding: raw, locale or a name; empty: default
  bool machine = false;
  bool announce = true;
  bool allow_missing = false;
  bool help = false;
};

// Parses argv[1..]; false with a reason in *error for an unknown option or a missing value.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

extern const char kUsage[];

}  // namespace pbhost

#endif  // PEERBEACON_HOST_OPTIONS_H_
