// The command line of larkspur-cli.
#ifndef LARKSPUR_TOOLS_LARKSPUR_CLI_CLI_OPTIONS_H_
#define LARKSPUR_TOOLS_LARKSPUR_CLI_CLI_OPTIONS_H_

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace larkspur {

struct CliOptions {
  enum class Command { kExtract, kRepack, kInfo, kVerify, kDiff, kHelp, kVersion };
  Command command = Command::kHelp;
  std::optional<int> model;  // the model selector's item; none: nothing selected
  std::string home;          // empty: the executable's folder
  std::string lang;          // "zh" or "en" from --lang; empty: the system's language
  std::string kind;          // "ROFS" or "UDA" from --kind; empty: the file's name decides
  bool accept_damaged = false;     // extract: a damaged file too, with warnings
  bool keep_lead = false;          // repack: the source's bytes in front of the ROFS header
  bool extend_erase_area = false;  // repack: move the end of a too small erase area
  bool json = false;               // diff: JSON instead of lines
  std::string package_to;          // repack: a flashable copy of the package folder there
  std::string file;
  std::string new_file;  // diff: the second file (`file` is the first, the old one)
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Throws UsageError.
CliOptions ParseCliOptions(const std::vector<std::string>& arguments);

extern const char kCliUsage[];

}  // namespace larkspur

#endif  // LARKSPUR_TOOLS_LARKSPUR_CLI_CLI_OPTIONS_H_
