// options.cc: parsing of the host's command line.
#include "host/options.h"

namespace pbhost {

const char kUsage[] =
    "usage: peerbeacon-host [options]\n"
    "  --plugin PATH     plug-in file (default: Peerbeacon.nxl beside this program, else in\n"
    "                    the installed plug-in folder, on Linux ../lib/peerbeacon from it)\n"
    "  --script FILE     read commands from FILE instead of standard input\n"
    "  --machine         machine-readable output, one fact per line\n"
    "  --no-announce     do not call StartEntry after start-up\n"
    "  --allow-missing   warn about missing exports and disable the commands that need them\n"
    "  --text TEXT       the text handed to InitializeNetEx (default peerbeacon-host)\n"
    "  --encoding NAME   the terminal's encoding: names, groups, info and received memos\n"
    "                    are converted to it from the Windows Japanese code page (CP932),\n"
    "                    and memo text typed or read from a script is converted to CP932;\n"
    "                    a character CP932 lacks is refused with a message. Default: the\n"
    "                    locale's (UTF-8 for the C locale); raw passes bytes unchanged,\n"
    "                    which --machine does unless --encoding is given (its values are\n"
    "                    always the CP932 bytes, escaped)\n"
    "  --help, -h        this text\n"
    "Commands are read interactively (prompt \"pb> \") when standard input is a terminal;\n"
    "type help for the list.\n"
    "Files on Linux: settings in the first Peerbeacon.ini found in this program's folder, the\n"
    "current folder, /usr/share/peerbeacon, /etc/peerbeacon or PATH; node list NodeList.ini\n"
    "(Primus.ini's NodeListPath, /etc/peerbeacon, ...); access list allow.lst beside the\n"
    "plug-in. Details: man peerbeacon-host.\n"
    "Exit status: 0 ok, 1 a command failed, 2 usage, 3 plug-in not loaded, 4 plug-in did not\n"
    "start, 5 no window or socket library.\n";

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    if (arg == "--plugin") {
      if (!value(&options->plugin)) return false;
    } else if (arg == "--script") {
      if (!value(&options->script)) return false;
    } else if (arg == "--text") {
      if (!value(&options->text)) return false;
    } else if (arg == "--encoding") {
      if (!value(&options->encoding)) return false;
    } else if (arg == "--machine") {
      options->machine = true;
    } else if (arg == "--no-announce") {
      options->announce = false;
    } else if (arg == "--allow-missing") {
      options->allow_missing = true;
    } else if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

}  // namespace pbhost
