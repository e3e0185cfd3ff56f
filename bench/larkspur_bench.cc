// larkspur_bench: how much Open, Extract and Repack cost against copying
// the same file, and how much memory each holds against the file size.
//
//   larkspur_bench [--work DIR] [--repeat N] [--keep] [--no-tree]
//
// Generates its inputs (a 256 MiB UDA file in profile 0; a 64 MiB ROFS file
// in the N96 profile whose image holds a 4,000-file, 64 MB tree) into a
// scratch folder, runs every phase N times (7 by default), each in a fresh
// process right after another fresh process copies the same file durably
// (read, write, fsync), and prints the median time of each phase and the
// median of its ratios to those copies, pair by pair. On POSIX it then runs
// the ROFS tree case (rofs_tree_case.h: larkspur-cli repack of a
// 20,000-file firmware file against tar and dd of the same bytes), unless
// --no-tree. Not a test: nothing here fails a build; the target lines say
// PASS or MISS.
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
#include "bench/rofs_tree_case.h"
#include "port/console.h"

namespace larkspur::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultRepeat = 7;
// buildrofs waits 3 x 500 ms around moving the built image; a ROFS Repack
// holds these pauses whatever the machine does.
constexpr double kBuildPauseSeconds = 1.5;
// Builds of the ROFS image are then reproducible, so two runs' outputs
// compare by digest.
constexpr char kSourceDateEpoch[] = "1262304000";

constexpr char kUsage[] = "usage: larkspur_bench [--work DIR] [--repeat N] [--keep] [--no-tree]\n";

struct Options {
  std::string work;
  int repeat = kDefaultRepeat;
  bool keep = false;
  bool tree = true;  // the ROFS tree case after the others (POSIX only)
};

// One phase's runs, each with the durable copy run just before it.
struct Measured {
  std::vector<double> seconds;
  std::vector<double> copy_seconds;
  std::uint64_t peak_bytes = 0;
  std::uint64_t copy_peak_bytes = 0;

  double Median() const { return MedianOf(seconds); }
  double CopyMedian() const { return MedianOf(copy_seconds); }
  double CopyRatio() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < seconds.size() && i < copy_seconds.size(); ++i)
      ratios.push_back(seconds[i] / copy_seconds[i]);
    return MedianOf(ratios);
  }
};

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
    return {Phase::kCopy,       Phase::kOpen,        Phase::kStrip,
            Phase::kStripScan,  Phase::kCarve,       Phase::kExtract,
            Phase::kExtractInProcess, Phase::kReassemble, Phase::kRepack,
            Phase::kRepackInProcess, Phase::kDiff};
  }
  return {Phase::kCopy,         Phase::kOpen,     Phase::kStrip,      Phase::kStripScan,
          Phase::kCarve,        Phase::kExtract,  Phase::kExtractInProcess, Phase::kRofsRead,
          Phase::kReassemble,   Phase::kRepack,   Phase::kRepackInProcess, Phase::kRofsBuild};
}

const char* LabelOf(const Workload& workload, Phase phase) {
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
      return "app's whole Extract: Open + Extract";
    case Phase::kExtractInProcess:
      return workload.uda ? "the same again, in a second program folder"
                          : "the same, readimage's work done in the process";
    case Phase::kRofsRead:
      return "  of it: readimage unpacks the tree";
    case Phase::kReassemble:
      return "reassembly (CutIntoBlocks)";
    case Phase::kRepack:
      return "app's whole Repack: Open + Repack";
    case Phase::kRepackInProcess:
      return workload.uda ? "the same again, in a second program folder"
                          : "the same, rofsbuild's work done in the process, no pauses";
    case Phase::kRofsBuild:
      return "  of it: rofsbuild builds the tree";
    case Phase::kDurableCopy:
      return "durable copy (own process: read, write, fsync)";
    case Phase::kDiff:
      return "diff of two such files (real FAT16, 3 files differ)";
  }
  return "";
}

// Runs every phase `repeat` times, each right after a durable copy of the
// same file, the phases of one round in order, so a slow spell of the
// machine falls on a phase and its copy alike.
std::vector<Measured> MeasureWorkload(const Workload& workload, const Options& options) {
  const std::vector<Phase> phases = PhasesOf(workload);
  const bool progress = port::StandardErrorIsTerminal();
  std::vector<Measured> measured(phases.size());
  for (int round = 0; round < options.repeat; ++round) {
    for (std::size_t i = 0; i < phases.size(); ++i) {
      if (progress)
        std::cerr << "\r  " << workload.name << " round " << round + 1 << "/" << options.repeat
                  << ": " << PhaseName(phases[i]) << "          " << std::flush;
      const ChildMeasure copy = RunPhaseChild(PhaseName(Phase::kDurableCopy), workload.name, options.work);
      const ChildMeasure child = RunPhaseChild(PhaseName(phases[i]), workload.name, options.work);
      measured[i].seconds.push_back(child.seconds);
      measured[i].copy_seconds.push_back(copy.seconds);
      measured[i].peak_bytes = std::max(measured[i].peak_bytes, child.peak_bytes);
      measured[i].copy_peak_bytes = std::max(measured[i].copy_peak_bytes, copy.peak_bytes);
    }
  }
  if (progress) std::cerr << "\r" << std::string(60, ' ') << "\r" << std::flush;
  return measured;
}

const Measured& MeasuredOf(const std::vector<Phase>& phases, const std::vector<Measured>& measured,
                           Phase phase) {
  for (std::size_t i = 0; i < phases.size(); ++i) {
    if (phases[i] == phase) return measured[i];
  }
  throw std::logic_error("phase not measured");
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
      << options.repeat << " runs of every phase, each in a fresh process right after a durable\n"
      << "  copy of the same file in another fresh process; work folder " << options.work << "\n"
      << "  median s: the median of the runs; MB/s from it, counting the firmware file's bytes\n"
      << "  (the tree's for the ROFS tools), MB = 10^6 bytes.\n"
      << "  copy s: the median of the durable copies (read into a 4 MiB buffer, write, fsync, as\n"
      << "  dd bs=4M conv=fsync) run just before; x copy: the median of run / copy, pair by pair.\n"
      << "  peak: ru_maxrss of the phase's process (or of a tool it ran, whichever is larger);\n"
      << "  a mapped file's pages count in it as they are read.\n"
      << "  app's: the pipeline as larkspur-cli runs it, with the tools of exebat; in the\n"
      << "  process: the same pipeline doing the ROFS tools' work itself, in a second program\n"
      << "  folder whose outputs must be the same bytes as the app's.\n";

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
    Measured copies;
    for (const Measured& phase : measured) {
      copies.seconds.insert(copies.seconds.end(), phase.copy_seconds.begin(), phase.copy_seconds.end());
      copies.peak_bytes = std::max(copies.peak_bytes, phase.copy_peak_bytes);
    }
    figures.push_back({LabelOf(workload, Phase::kDurableCopy), copies.Median(), 0, 0, file_size, copies.peak_bytes});
    for (std::size_t i = 0; i < phases.size(); ++i) {
      const bool tree = phases[i] == Phase::kRofsRead || phases[i] == Phase::kRofsBuild;
      figures.push_back({LabelOf(workload, phases[i]), measured[i].Median(), measured[i].CopyMedian(),
                         measured[i].CopyRatio(), tree ? kTreeBytes : file_size, measured[i].peak_bytes});
      if (phases[i] == Phase::kRepack && !workload.uda) {
        Measured without = measured[i];
        for (double& seconds : without.seconds) seconds -= kBuildPauseSeconds;
        figures.push_back({"  the same without the fixed 3 x 500 ms pauses", without.Median(),
                           without.CopyMedian(), without.CopyRatio(), file_size, 0});
      }
    }
    return figures;
  };

  const auto uda_size = static_cast<std::uint64_t>(fs::file_size(uda.input));
  const auto rofs_size = static_cast<std::uint64_t>(fs::file_size(rofs.input));
  const std::vector<Phase> uda_phases = PhasesOf(uda);

  PrintSection(std::cout,
               "UDA firmware file, profile 0 (256 KiB blocks): " + std::to_string(uda_size) + " bytes",
               uda_size, figures_of(uda, uda_measured));
  PrintSection(std::cout,
               "ROFS firmware file, N96 profile (32 KiB blocks): " + std::to_string(rofs_size) +
                   " bytes; its image holds " + std::to_string(kTreeFileCount) + " files, " +
                   std::to_string(kTreeBytes) + " bytes",
               rofs_size, figures_of(rofs, rofs_measured));

  auto peak_ratio = [&](Phase phase) {
    return static_cast<double>(MeasuredOf(uda_phases, uda_measured, phase).peak_bytes) /
           static_cast<double>(uda_size);
  };
  std::cout << "\nTargets (UDA file, against the durable copy)\n";
  const double strip = MeasuredOf(uda_phases, uda_measured, Phase::kStrip).Median();
  PrintTarget(std::cout, "header stripping", static_cast<double>(uda_size) / 1e9 / strip, 2.0,
              false, "GB/s");
  // Where the platform gives no peak (Windows), there is nothing to judge.
  if (peak_ratio(Phase::kExtract) > 0)
    PrintTarget(std::cout, "app's Extract peak memory against the file", peak_ratio(Phase::kExtract), 1.1, true, "x");
  if (peak_ratio(Phase::kRepack) > 0)
    PrintTarget(std::cout, "app's Repack peak memory against the file", peak_ratio(Phase::kRepack), 1.3, true, "x");
  // Two files mapped whole, and a few MiB of buffers: 2 x 256 MiB + 10 MiB.
  if (peak_ratio(Phase::kDiff) > 0)
    PrintTarget(std::cout, "diff's peak memory against the two files", peak_ratio(Phase::kDiff) / 2, 1.02, true, "x");
  PrintTarget(std::cout, "app's whole Extract", MeasuredOf(uda_phases, uda_measured, Phase::kExtract).CopyRatio(),
              1.3, true, "x");
  PrintTarget(std::cout, "app's whole Repack", MeasuredOf(uda_phases, uda_measured, Phase::kRepack).CopyRatio(),
              1.5, true, "x");

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
  for (const Workload* workload : {&uda, &rofs}) {
    const std::string app_image = PartitionImagePath(*workload);
    const std::string image_name = app_image.substr(workload->home.size());
    const std::string output_name = "REB-" + fs::path(workload->input).filename().string();
    const std::string app_output = workload->home + output_name;
    const std::string in_process = InProcessHome(*workload);
    std::cout << "  " << workload->name << " in-process partition image "
              << (SameContent(in_process + image_name, app_image) ? "same bytes as the app's"
                                                                  : "DIFFERS from the app's")
              << "; REB file "
              << (SameContent(in_process + output_name, app_output) ? "same bytes as the app's"
                                                                    : "DIFFERS from the app's")
              << "\n";
  }

#ifndef _WIN32
  if (options.tree) {
    RofsTreeOptions tree;
    tree.work = options.work + "rofs-tree/";
    tree.programs = LARKSPUR_BENCH_BIN_DIR;
    tree.repeat = std::min(options.repeat, 5);
    tree.keep = true;  // the work folder goes below
    RunRofsTreeCase(tree);
  }
#endif
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
    } else if (argument == "--no-tree") {
      options.tree = false;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  options.work = WorkFolder(options.work, "larkspur-bench");
  try {
    return Run(options);
  } catch (const std::exception& error) {
    std::cerr << "\nlarkspur_bench: " << error.what() << "\n";
    return 1;
  }
}
