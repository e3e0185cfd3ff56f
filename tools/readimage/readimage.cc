// readimage: extracts, lists or describes a ROFS image. Only the command
// line, the output format and the exit status live here; the work is in
// rofs/.
//
// Exit status: 0 when everything was read (and, for -z, written), 1
// otherwise (the reason on stderr names the image, the offset and what is
// wrong), 2 for a wrong command line.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "port/process.h"
#include "port/progress.h"
#include "rofs/host_names.h"
#include "rofs/image_file.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_extract.h"
#include "rofs/rofs_lookup.h"
#include "rofs/rofs_reader.h"
#include "rofs/symbian_time.h"

namespace {

using larkspur::HexNumber;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: readimage -z OUTDIR IMAGE   extract every file into OUTDIR\n"
    "       readimage -l IMAGE          list folders and files (attributes, size, path)\n"
    "       readimage -d IMAGE          show the header\n"
    "       readimage --help\n"
    "\n"
    "Names keep the case they have in the image. Hidden entries (masks for a\n"
    "lower layer) are listed but not extracted. The listing shows attributes\n"
    "as letters (D R H S A) and, in brackets, other attribute bits and extra\n"
    "attributes that are not the default 0xFF.\n"
    "\n"
    "With LARKSPUR_PROGRESS=1 in the environment, -z also writes lines\n"
    "\"@progress files DONE TOTAL\" to stdout while it works.\n"
    "\n"
    "Exit status: 0 done, 1 failed (reason on stderr), 2 usage.\n";

std::vector<std::uint8_t> LoadImage(const std::string& name) {
  return larkspur::rofs::ReadImageFile(larkspur::rofs::HostPathFromBytes(name), name);
}

std::string AttributeLetters(std::uint8_t attributes) {
  std::string letters = "-----";
  if (attributes & larkspur::rofs::kAttDirectory) letters[0] = 'D';
  if (attributes & larkspur::rofs::kAttReadOnly) letters[1] = 'R';
  if (attributes & larkspur::rofs::kAttHidden) letters[2] = 'H';
  if (attributes & larkspur::rofs::kAttSystem) letters[3] = 'S';
  if (attributes & larkspur::rofs::kAttArchive) letters[4] = 'A';
  return letters;
}

// What the letters do not show: attribute bits without a letter, and extra
// attributes other than the default 0xFF (the unique bit cleared makes the
// phone add a suffix to the name).
std::string UnusualAttributes(const larkspur::rofs::RofsFile& file) {
  using namespace larkspur::rofs;
  constexpr std::uint8_t kLettered =
      kAttDirectory | kAttReadOnly | kAttHidden | kAttSystem | kAttArchive;
  std::string text;
  if (file.attributes & ~kLettered) text += "  [attributes " + HexNumber(file.attributes) + "]";
  if (file.extra_attributes != kDefaultExtraAttributes) {
    text += "  [extra attributes " + HexNumber(file.extra_attributes);
    if (!(file.extra_attributes & kExtraAttUnique)) text += ": unique, the phone adds a suffix";
    text += "]";
  }
  return text;
}

void PrintLine(const std::string& attributes, const std::string& size, const std::string& path) {
  char head[32];
  std::snprintf(head, sizeof head, "%s %10s  ", attributes.c_str(), size.c_str());
  std::cout << head << path << "\n";
}

void ListDirectory(const larkspur::rofs::RofsDirectory& dir, const std::string& prefix) {
  for (const larkspur::rofs::RofsFile& file : dir.files) {
    std::string path = prefix + larkspur::rofs::ImageNameForDisplay(file.name);
    if (file.hidden()) path += "  [hidden: masks a lower layer]";
    path += UnusualAttributes(file);
    PrintLine(AttributeLetters(file.attributes), std::to_string(file.size), path);
  }
  for (const larkspur::rofs::RofsDirectory& sub : dir.subdirectories) {
    const std::string path = prefix + larkspur::rofs::ImageNameForDisplay(sub.name) + "/";
    PrintLine(AttributeLetters(sub.attributes), "-", path);
    ListDirectory(sub, path);
  }
}

void PrintHeader(const larkspur::rofs::RofsHeader& header) {
  const auto& v = header.version;
  std::cout << "identifier:       " << std::string(header.identifier.data(), 4) << "\n"
            << "header size:      " << HexNumber(header.header_size) << "\n"
            << "format version:   " << HexNumber(header.format_version) << "\n"
            << "directory tree:   " << HexNumber(header.dir_tree_offset) << ", "
            << HexNumber(header.dir_tree_size) << " bytes\n"
            << "file entries:     " << HexNumber(header.file_entries_offset) << ", "
            << HexNumber(header.file_entries_size) << " bytes\n"
            << "time:             " << larkspur::rofs::FormatSymbianTime(header.time) << " UTC ("
            << HexNumber(static_cast<std::uint64_t>(header.time)) << ")\n"
            << "image version:    " << int{v.major} << "." << int{v.minor} << "(" << v.build
            << ")\n"
            << "image size:       " << HexNumber(header.image_size) << " (" << header.image_size
            << " bytes)\n"
            << "checksum:         " << HexNumber(header.checksum) << "\n"
            << "max image size:   " << HexNumber(header.max_image_size) << "\n";
}

int Describe(const std::string& image_name) {
  const std::vector<std::uint8_t> bytes = LoadImage(image_name);
  PrintHeader(larkspur::rofs::ParseRofsHeader(bytes, image_name));
  std::cout.flush();
  const larkspur::rofs::RofsImage image = larkspur::rofs::ParseRofsImage(bytes, image_name);
  std::cout << "folders:          " << image.directory_count << " (root included)\n"
            << "files:            " << image.file_count << "\n";
  const std::vector<std::string> problems = larkspur::rofs::FindLookupTableProblems(bytes, image);
  if (problems.empty()) {
    std::cout << "lookup tables:    complete, in the phone's order\n";
  } else {
    // The phone may fail to open some names by path; listing and extracting
    // do not use the tables, so this is a warning, not a failure.
    std::cout << "lookup tables:    " << problems.size() << " problem(s)\n";
    for (const std::string& problem : problems) std::cout << "  " << problem << "\n";
  }
  return kExitDone;
}

int List(const std::string& image_name) {
  const std::vector<std::uint8_t> bytes = LoadImage(image_name);
  const larkspur::rofs::RofsImage image = larkspur::rofs::ParseRofsImage(bytes, image_name);
  ListDirectory(image.root, "");
  return kExitDone;
}

int Extract(const std::string& out_name, const std::string& image_name) {
  const std::vector<std::uint8_t> bytes = LoadImage(image_name);
  const larkspur::rofs::RofsImage image = larkspur::rofs::ParseRofsImage(bytes, image_name);
  // Asked for by the program that started us (LARKSPUR_PROGRESS=1): files
  // written of all to write, as "@progress files K N" lines on stdout.
  larkspur::port::ProgressPrinter progress(larkspur::port::ProgressRequested(), larkspur::port::kProgressFiles);
  const larkspur::rofs::ExtractStats stats = larkspur::rofs::ExtractImage(
      bytes, image, image_name, larkspur::rofs::HostPathFromBytes(out_name),
      [&progress](std::size_t done, std::size_t total) { progress.Update(done, total); });
  progress.Finish();
  std::cout << "readimage: extracted " << stats.files << " files (" << stats.bytes
            << " bytes) into " << out_name;
  if (stats.hidden_skipped) std::cout << "; " << stats.hidden_skipped << " hidden entries skipped";
  std::cout << "\n";
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  // UTF-8, from the wide command line on Windows: paths in any script.
  const std::vector<std::string> args = larkspur::port::ProgramArguments(argc, argv);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return kExitDone;
  }
  const bool extract = args.size() == 3 && args[0] == "-z";
  const bool list_or_describe = args.size() == 2 && (args[0] == "-l" || args[0] == "-d");
  if (!extract && !list_or_describe) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  const std::string& image_name = args.back();
  try {
    if (extract) return Extract(args[1], image_name);
    return args[0] == "-l" ? List(image_name) : Describe(image_name);
  } catch (const larkspur::rofs::RofsError& error) {
    std::cout.flush();
    std::cerr << "readimage: " << error.what() << "\n";
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "readimage: " << image_name << ": " << error.what() << "\n";
  }
  return kExitFailed;
}
