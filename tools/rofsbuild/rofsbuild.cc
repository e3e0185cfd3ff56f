// rofsbuild OBEYFILE: builds the ROFS image an obey file describes into the
// current directory. Only the command line, the choice of time stamp and
// the exit status live here; the work is in rofs/.
//
// Exit status: 0 when the image was written, 1 when it was not (the reason
// on stderr names the obey file and line), 2 for a wrong command line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>

#include "port/progress.h"
#include "rofs/host_names.h"
#include "rofs/image_file.h"
#include "rofs/obey_build.h"
#include "rofs/obey_parser.h"
#include "rofs/rofs_errors.h"
#include "rofs/symbian_time.h"

namespace {

constexpr int kExitBuilt = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: rofsbuild OBEYFILE\n"
    "\n"
    "Builds the ROFS image that OBEYFILE describes and writes it under its\n"
    "rofsname into the current directory. Host paths in the obey file are\n"
    "relative to the current directory.\n"
    "\n"
    "Obey lines: rofsname=NAME, rofssize=BYTES, data=HOSTPATH IMAGEPATH,\n"
    "file=HOSTPATH IMAGEPATH, hide=IMAGEPATH, time=dd/mm/yyyy_hh:mm:ss,\n"
    "version=major.minor(build), REM comments. A data= or file= line may end\n"
    "in attrib=LETTERS (R H S set read-only, hidden, system; W alone: none)\n"
    "and exattrib=U (the phone adds a unique suffix to the name).\n"
    "\n"
    "Without time=, the time stamp is SOURCE_DATE_EPOCH (seconds since 1970)\n"
    "when that is set, otherwise the current time.\n"
    "\n"
    "With LARKSPUR_PROGRESS=1 in the environment, it also writes lines\n"
    "\"@progress bytes DONE TOTAL\" (bytes of file data) to stdout while it\n"
    "works.\n"
    "\n"
    "Exit status: 0 image written, 1 not written (reason on stderr), 2 usage.\n";

std::string ReadObeyFile(const std::string& name) {
  return larkspur::rofs::ReadTextFile(larkspur::rofs::HostPathFromBytes(name), name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::cout << kUsage;
    return kExitBuilt;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::cerr << kUsage;
    return kExitUsage;
  }
  const std::string obey_name = argv[1];
  try {
    const std::string text = ReadObeyFile(obey_name);
    larkspur::rofs::ObeyFile obey =
        larkspur::rofs::ParseObey(text, obey_name, larkspur::rofs::ImageNameFromObeyBytes);
    const std::int64_t default_time = obey.time ? 0 : larkspur::rofs::DefaultBuildTime();
    // Asked for by the program that started us (LARKSPUR_PROGRESS=1): bytes
    // of file data written of all, as "@progress bytes K N" lines on stdout.
    larkspur::port::ProgressPrinter progress(larkspur::port::ProgressRequested(),
                                             larkspur::port::kProgressBytes);
    const larkspur::rofs::BuildResult result = larkspur::rofs::BuildImageFromObey(
        std::move(obey), std::filesystem::current_path(), default_time,
        [&progress](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); });
    progress.Finish();
    std::cout << "rofsbuild: wrote " << larkspur::rofs::HostPathToBytes(result.image_path) << " ("
              << result.image_size << " bytes, " << result.file_count << " files)\n";
    return kExitBuilt;
  } catch (const larkspur::rofs::RofsError& error) {
    std::cerr << "rofsbuild: " << error.what() << "\n";
  } catch (const std::exception& error) {
    std::cerr << "rofsbuild: " << obey_name << ": " << error.what() << "\n";
  }
  return kExitFailed;
}
