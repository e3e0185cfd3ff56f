#include "tools/larkspur-cli/cli_options.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace larkspur {

const char kCliUsage[] =
    "usage: larkspur-cli [--model 0|1|2|3] [--kind rofs|uda] [--home DIR] [--accept-damaged] extract FILE\n"
    "       larkspur-cli [--model 0|1|2|3] [--kind rofs|uda] [--home DIR] [--keep-lead]\n"
    "                    [--extend-erase-area] [--package-to DIR] repack FILE\n"
    "       larkspur-cli [--model 0|1|2|3] [--kind rofs|uda] info FILE\n"
    "       larkspur-cli [--model 0|1|2|3] [--kind rofs|uda] verify FILE\n"
    "       larkspur-cli [--model 0|1|2|3] [--kind rofs|uda] [--json] diff OLD NEW\n"
    "       larkspur-cli --help | --version\n"
    "  (every form also takes --lang zh|en)\n"
    "\n"
    "  --model   the phone model: 0, 5530, 5800, n97 or n86; 1 or n96;\n"
    "            2 or 5320, 3 or n78; without it the 5530/5800/N97/N86 profile\n"
    "            is in force and no model is selected, as in the window\n"
    "  --kind    what the file holds, a ROFS image or user data (FAT); without it\n"
    "            the file's name decides: \"uda\" or \"UDA\" in it means user data\n"
    "  --lang    the language of the log lines: zh (Chinese) or en (English);\n"
    "            default: the system's (LANGUAGE, LC_ALL, LC_MESSAGES, LANG),\n"
    "            Chinese for zh* and for C/POSIX or none, English for others\n"
    "  --home    the folder that plays the program folder (exebat, temp, rofs2,\n"
    "            fat16, and where REB- files go); default: this program's folder;\n"
    "            info and verify take it and do not use it\n"
    "  --accept-damaged\n"
    "            extract a file whose blocks are damaged (a header checksum or\n"
    "            check value that does not hold, a broken chain of blocks) anyway,\n"
    "            with a warning for each; without it such a file is refused\n"
    "  --keep-lead\n"
    "            write the extracted file's own bytes in front of the ROFS header\n"
    "            (a signed image's header) instead of zeros\n"
    "  --extend-erase-area\n"
    "            when the rebuilt partition runs past the end of its erase area in\n"
    "            the table of contents, move that end (aligned as the area's start)\n"
    "            instead of refusing; the log shows the table before and after\n"
    "  --package-to DIR\n"
    "            also write DIR, a copy of FILE's package folder ready for the\n"
    "            flasher: its files, the REB- file under FILE's name and the\n"
    "            checksum list (.vpl) with its new checksum; DIR must not exist\n"
    "            or be empty\n"
    "\n"
    "  extract   strip the block headers and carve the partition image out:\n"
    "            temp/rofs2.img, unpacked into rofs2 (ROFS) or fat16/fat16.img (UDA)\n"
    "  repack    rebuild the partition image and write REB-FILE into the home folder;\n"
    "            when a checksum list (.vpl) beside FILE lists it, REB-<list> too,\n"
    "            with the REB- file's CRC-32\n"
    "  info      what the file is: kind, prefix, start address, blocks, CRC-32\n"
    "  verify    check every block header and print what is wrong; then the file's\n"
    "            CRC-32 and whether the checksum list (.vpl) beside it agrees\n"
    "  diff      what NEW changes against OLD (an original and its REB- file): files\n"
    "            added, removed and changed, hidden entries, attributes and times,\n"
    "            the partition's fields, what lies outside the payload, the blocks\n"
    "            that differ; read from both files, nothing unpacked. Without\n"
    "            --model the model both files fit; --json writes the same as JSON\n"
    "\n"
    "Exit status: 0 done, 1 ended with an error (or verify found a wrong header or\n"
    "a checksum list that gives another CRC-32),\n"
    "2 usage error, 3 extract of a UDA file done but its files could not be put\n"
    "in the folder uda (a name the folder cannot hold, a damaged FAT, a FAT32\n"
    "volume): fat16.img is written, change it with a disk-image tool.\n"
    "diff: 0 the same firmware, 1 they differ, 2 they cannot be compared.\n";

namespace {

int ParseModel(std::string value) {
  std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
  static const std::map<std::string, int> kNames = {
      {"0", 0},    {"1", 1},   {"2", 2},   {"3", 3},    {"5530", 0}, {"5800", 0},
      {"n97", 0},  {"n86", 0}, {"n96", 1}, {"5320", 2}, {"n78", 3},
  };
  const auto found = kNames.find(value);
  if (found == kNames.end()) throw UsageError("unknown model '" + value + "' (use 0, 1, 2, 3, 5530, 5800, n97, n86, n96, 5320 or n78)");
  return found->second;
}

}  // namespace

CliOptions ParseCliOptions(const std::vector<std::string>& arguments) {
  CliOptions options;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= arguments.size()) throw UsageError(argument + " needs a value");
      return arguments[++i];
    };
    if (argument == "--help" || argument == "-h") {
      options.command = CliOptions::Command::kHelp;
      return options;
    } else if (argument == "--version") {
      options.command = CliOptions::Command::kVersion;
      return options;
    } else if (argument == "--model") {
      options.model = ParseModel(value());
    } else if (argument.rfind("--model=", 0) == 0) {
      options.model = ParseModel(argument.substr(8));
    } else if (argument == "--lang" || argument.rfind("--lang=", 0) == 0) {
      options.lang = argument == "--lang" ? value() : argument.substr(7);
      if (options.lang != "zh" && options.lang != "en") throw UsageError("unknown language '" + options.lang + "' (use zh or en)");
    } else if (argument == "--kind" || argument.rfind("--kind=", 0) == 0) {
      std::string kind = argument == "--kind" ? value() : argument.substr(7);
      std::transform(kind.begin(), kind.end(), kind.begin(), [](unsigned char c) { return std::toupper(c); });
      if (kind != "ROFS" && kind != "UDA") throw UsageError("unknown kind '" + kind + "' (use rofs or uda)");
      options.kind = kind;
    } else if (argument == "--accept-damaged") {
      options.accept_damaged = true;
    } else if (argument == "--keep-lead") {
      options.keep_lead = true;
    } else if (argument == "--extend-erase-area") {
      options.extend_erase_area = true;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "--package-to" || argument.rfind("--package-to=", 0) == 0) {
      options.package_to = argument == "--package-to" ? value() : argument.substr(13);
    } else if (argument == "--home") {
      options.home = value();
    } else if (argument.rfind("--home=", 0) == 0) {
      options.home = argument.substr(7);
    } else if (argument.size() > 1 && argument[0] == '-') {
      throw UsageError("unknown option " + argument);
    } else {
      words.push_back(argument);
    }
  }
  if (words.empty()) throw UsageError("no command given");
  static const std::map<std::string, CliOptions::Command> kCommands = {
      {"extract", CliOptions::Command::kExtract},
      {"repack", CliOptions::Command::kRepack},
      {"info", CliOptions::Command::kInfo},
      {"verify", CliOptions::Command::kVerify},
      {"diff", CliOptions::Command::kDiff},
  };
  const auto command = kCommands.find(words[0]);
  if (command == kCommands.end()) throw UsageError("unknown command '" + words[0] + "'");
  options.command = command->second;
  if (options.command == CliOptions::Command::kDiff) {
    if (words.size() != 3) throw UsageError("diff takes two files, OLD and NEW");
    options.new_file = words[2];
  } else if (words.size() != 2) {
    throw UsageError("expected a command and one FILE");
  }
  if (options.json && options.command != CliOptions::Command::kDiff) throw UsageError("--json applies to diff only");
  // info and verify take --home too and leave it unused: the installed
  // launcher gives every command the user's program folder.
  options.file = words[1];
  if (options.accept_damaged && options.command != CliOptions::Command::kExtract) {
    throw UsageError("--accept-damaged applies to extract only");
  }
  if ((options.keep_lead || options.extend_erase_area || !options.package_to.empty()) &&
      options.command != CliOptions::Command::kRepack) {
    throw UsageError(std::string(options.keep_lead           ? "--keep-lead"
                                 : options.extend_erase_area ? "--extend-erase-area"
                                                             : "--package-to") +
                     " applies to repack only");
  }
  return options;
}

}  // namespace larkspur
