// larkspur_bench: how much Open, Extract and Repack cost against copying
// the same file, and how much memory each holds against the file size.
//
//   larkspur_bench [--work DIR] [--repeat N] [--keep]
//
// Generates its inputs (a 256 MiB UDA file in profile 0; a 64 MiB ROFS file
// in the N96 profile whose image holds a 4,000-file, 64 MB tree) into a
// scratch folder, runs every phase N times (5 by default), each in a fresh
// process, and prints the best and the median time of each. Not a test:
// nothing here fails a build; the target lines say PASS or MISS.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_inputs.h"
#include "bench/bench_phases.h"
#include "bench/bench_report.h"
#include "bench/phase_process.h"
#include "port/console.h"

namespace larkspur::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultRepeat = 5;
// buildrofs waits 3 x 500 ms around moving the built image; a ROFS Repack
// holds these pauses whatever the machine does.
constexpr double kBuildPauseSeconds = 1.5;
// Builds of the ROFS image are then reproducible, so two runs' outputs
// compare by digest.
constexpr char kSourceDateEpoch[] = "1262304000";

constexpr char kUsage[] = "usage: larkspur_bench [--work DIR] [--repeat N] [--keep]\n";

struct Options {
  std::string work;
  int repeat = kDefaultRepeat;
  bool keep = false;
};

struct Measured {
  std::vector<double> seconds;
  std::uint64_t peak_bytes = 0;

  double Median() const {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
  }
  double Best() const {
    return seconds.empty() ? 0 : *std::min_element(seconds.begin(), seconds.end());
  }
};

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

int RunAsChild(int argc, char** argv) {
  // --child PHASE WORKLOAD WORK RESULT
  if (argc != 6) {
    std::cerr << "larkspur_bench --child: wrong arguments\n";
    return 2;
  }
  const std::string phase_name = argv[2];
  const std::string workload_name = argv[3];
  const std::string work = argv[4];
  const std::string result = argv[5];
  try {
    if (phase_name == "generate") {
      GenerateInputs(work);
      WriteChildResult(result, 0);
      return 0;
    }
    const auto phase = PhaseFromName(phase_name);
    if (!phase) throw std::runtime_error("unknown phase " + phase_name);
    const Workload workload = workload_name == "uda" ? UdaWorkload(work) : RofsWorkload(work);
    WriteChildResult(result, RunPhase(*phase, workload));
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "larkspur_bench " << phase_name << " " << workload_name << ": " << error.what()
              << "\n";
    return 1;
  }
}

ChildMeasure RunPhaseChild(const std::string& phase, const std::string& workload,
                           const std::string& work) {
  return RunChild({"--child", phase, workload, work, work + "phase-result"}, work + "phase.log",
                  work + "phase-result");
}

std::vector<Phase> PhasesOf(const Workload& workload) {
  if (workload.uda) {
    return {Phase::kCopy,  Phase::kOpen,    Phase::kStrip,      Phase::kStripScan,
            Phase::kCarve, Phase::kExtract, Phase::kReassemble, Phase::kRepack};
  }
  return {Phase::kCopy,   Phase::kOpen,     Phase::kStrip,    Phase::kStripScan,
          Phase::kCarve,  Phase::kExtract,  Phase::kRofsRead, Phase::kReassemble,
          Phase::kRepack, Phase::kRofsBuild};
}

const char* LabelOf(Phase phase) {
  switch (phase) {
    case Phase::kCopy:
      return "copy: read + WriteFileReplacing";
    case Phase::kOpen:
      return "Open (load)";
    case Phase::kStrip:
      return "header stripping (block chain)";
    case Phase::kStripScan:
      return "header stripping (signature scan)";
    case Phase::kCarve:
      return "carve + write partition image";
    case Phase::kExtract:
      return "whole Extract: Open + Extract";
    case Phase::kRofsRead:
      return "  of it: readimage unpacks the tree";
    case Phase::kReassemble:
      return "reassembly (CutIntoBlocks)";
    case Phase::kRepack:
      return "whole Repack: Open + Repack";
    case Phase::kRofsBuild:
      return "  of it: rofsbuild builds the tree";
  }
  return "";
}

// Runs every phase `repeat` times, the phases of one round in order, so a
// slow spell of the machine falls on every phase alike.
std::vector<Measured> MeasureWorkload(const Workload& workload, const Options& options) {
  const std::vector<Phase> phases = PhasesOf(workload);
  const bool progress = port::StandardErrorIsTerminal();
  std::vector<Measured> measured(phases.size());
  for (int round = 0; round < options.repeat; ++round) {
    for (std::size_t i = 0; i < phases.size(); ++i) {
      if (progress)
        std::cerr << "\r  " << workload.name << " round " << round + 1 << "/" << options.repeat
                  << ": " << PhaseName(phases[i]) << "          " << std::flush;
      const ChildMeasure child = RunPhaseChild(PhaseName(phases[i]), workload.name, options.work);
      measured[i].seconds.push_back(child.seconds);
      measured[i].peak_bytes = std::max(measured[i].peak_bytes, child.peak_bytes);
    }
  }
  if (progress) std::cerr << "\r" << std::string(60, ' ') << "\r" << std::flush;
  return measured;
}

double SecondsOf(const std::vector<Phase>& phases, const std::vector<Measured>& measured,
                 Phase phase) {
  for (std::size_t i = 0; i < phases.size(); ++i) {
    if (phases[i] == phase) return measured[i].Best();
  }
  return 0;
}

std::uint64_t PeakOf(const std::vector<Phase>& phases, const std::vector<Measured>& measured,
                     Phase phase) {
  for (std::size_t i = 0; i < phases.size(); ++i) {
    if (phases[i] == phase) return measured[i].peak_bytes;
  }
  return 0;
}

int Run(const Options& options) {
#ifdef _WIN32
  _putenv_s("SOURCE_DATE_EPOCH", kSourceDateEpoch);
#else
  ::setenv("SOURCE_DATE_EPOCH", kSourceDateEpoch, 1);
#endif
  fs::create_directories(options.work);
  std::cout
      << "larkspur_bench: " << std::thread::hardware_concurrency() << " cores, "
      << options.repeat << " runs of every phase, each in a fresh process; work folder "
      << options.work << "\n"
      << "  best s: the fastest run, least disturbed by other work on the machine; MB/s and\n"
      << "  x copy use it.\n"
      << "  MB/s counts the firmware file's bytes (the tree's for the ROFS tools), MB = 10^6 "
         "bytes.\n"
      << "  x copy: time against the copy of the same file, which reads it whole and writes it "
         "with\n"
      << "  port::WriteFileReplacing (write, fsync, rename), as every output of the program is "
         "written.\n"
      << "  peak: ru_maxrss of the phase's process (or of a tool it ran, whichever is larger).\n";

  if (port::StandardErrorIsTerminal()) std::cerr << "  generating inputs..." << std::flush;
  RunPhaseChild("generate", "-", options.work);

  const Workload uda = UdaWorkload(options.work);
  const Workload rofs = RofsWorkload(options.work);
  const std::vector<Measured> uda_measured = MeasureWorkload(uda, options);
  const std::vector<Measured> rofs_measured = MeasureWorkload(rofs, options);

  auto figures_of = [](const Workload& workload, const std::vector<Measured>& measured) {
    const std::vector<Phase> phases = PhasesOf(workload);
    const auto file_size = static_cast<std::uint64_t>(fs::file_size(workload.input));
    std::vector<Figure> figures;
    for (std::size_t i = 0; i < phases.size(); ++i) {
      const bool tree = phases[i] == Phase::kRofsRead || phases[i] == Phase::kRofsBuild;
      figures.push_back({LabelOf(phases[i]), measured[i].Best(), measured[i].Median(),
                         tree ? kTreeBytes : file_size, measured[i].peak_bytes});
      if (phases[i] == Phase::kRepack && !workload.uda) {
        figures.push_back({"  the same without the fixed 3 x 500 ms pauses",
                           measured[i].Best() - kBuildPauseSeconds,
                           measured[i].Median() - kBuildPauseSeconds, file_size, 0});
      }
    }
    return figures;
  };

  const auto uda_size = static_cast<std::uint64_t>(fs::file_size(uda.input));
  const auto rofs_size = static_cast<std::uint64_t>(fs::file_size(rofs.input));
  const std::vector<Phase> uda_phases = PhasesOf(uda);
  const std::vector<Phase> rofs_phases = PhasesOf(rofs);
  const double uda_copy = SecondsOf(uda_phases, uda_measured, Phase::kCopy);
  const double rofs_copy = SecondsOf(rofs_phases, rofs_measured, Phase::kCopy);

  PrintSection(
      std::cout,
      "UDA firmware file, profile 0 (256 KiB blocks): " + std::to_string(uda_size) + " bytes",
      uda_size, uda_copy, figures_of(uda, uda_measured));
  PrintSection(std::cout,
               "ROFS firmware file, N96 profile (32 KiB blocks): " + std::to_string(rofs_size) +
                   " bytes; its image holds " + std::to_string(kTreeFileCount) + " files, " +
                   std::to_string(kTreeBytes) + " bytes",
               rofs_size, rofs_copy, figures_of(rofs, rofs_measured));

  std::cout << "\nTargets (UDA file)\n";
  const double strip = SecondsOf(uda_phases, uda_measured, Phase::kStrip);
  PrintTarget(std::cout, "header stripping", static_cast<double>(uda_size) / 1e9 / strip, 2.0,
              false, "GB/s");
  PrintTarget(std::cout, "whole Extract against the copy",
              SecondsOf(uda_phases, uda_measured, Phase::kExtract) / uda_copy, 1.5, true, "x");
  PrintTarget(std::cout, "whole Repack against the copy",
              SecondsOf(uda_phases, uda_measured, Phase::kRepack) / uda_copy, 2.0, true, "x");
  PrintTarget(std::cout, "peak memory of an Extract against the file",
              static_cast<double>(PeakOf(uda_phases, uda_measured, Phase::kExtract)) /
                  static_cast<double>(uda_size),
              1.5, true, "x");
  PrintTarget(std::cout, "peak memory of a Repack against the file",
              static_cast<double>(PeakOf(uda_phases, uda_measured, Phase::kRepack)) /
                  static_cast<double>(uda_size),
              2.5, true, "x");

  const std::string uda_output = uda.home + "REB-" + fs::path(uda.input).filename().string();
  const std::string rofs_output = rofs.home + "REB-" + fs::path(rofs.input).filename().string();
  std::cout << "\nOutput digests (equal across runs when outputs are byte-identical)\n"
            << "  uda  fat16.img   " << ContentDigest(uda.home + "fat16/fat16.img") << "\n"
            << "  uda  REB file    " << ContentDigest(uda_output)
            << (SameContent(uda_output, uda.input) ? "  (same bytes as the input)"
                                                   : "  (DIFFERS from the input)")
            << "\n"
            << "  rofs rofs2.img   " << ContentDigest(rofs.home + "temp/rofs2.img") << "\n"
            << "  rofs REB file    " << ContentDigest(rofs_output) << "\n";

  if (!options.keep) fs::remove_all(options.work);
  return 0;
}

}  // namespace
}  // namespace larkspur::bench

int main(int argc, char** argv) {
  using namespace larkspur::bench;
  if (argc > 1 && std::string(argv[1]) == "--child") return RunAsChild(argc, argv);

  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--work" && i + 1 < argc) {
      options.work = argv[++i];
    } else if (argument == "--repeat" && i + 1 < argc) {
      options.repeat = std::max(1, std::atoi(argv[++i]));
    } else if (argument == "--keep") {
      options.keep = true;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (options.work.empty()) {
    std::random_device random;
    options.work =
        (std::filesystem::temp_directory_path() / ("larkspur-bench-" + std::to_string(random())))
            .string();
  }
  options.work = WithSeparator(std::filesystem::absolute(options.work).string());
  try {
    return Run(options);
  } catch (const std::exception& error) {
    std::cerr << "\nlarkspur_bench: " << error.what() << "\n";
    return 1;
  }
}
