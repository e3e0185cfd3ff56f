#include "bench/bench_phases.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "app/run_reports.h"
#include "diff/firmware_diff.h"
#include "pipeline/extract.h"
#include "pipeline/opened_file.h"
#include "pipeline/repack.h"
#include "pipeline/rofs_tools.h"
#include "workspace/workspace.h"
#include "bench/bench_inputs.h"
#include "extract/carve.h"
#include "extract/strip.h"
#include "pipeline/tool_runner.h"
#include "format/block_header.h"
#include "format/firmware_layout.h"
#include "format/hex_text.h"
#include "format/load_file_bytes.h"
#include "format/partition.h"
#include "port/file_view.h"
#include "port/files.h"
#include "repack/reassemble.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // MinGW's C++ library defines it already
#define NOMINMAX
#endif
#include <windows.h>
#undef DeleteFile
#undef SetCurrentDirectory
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <memory>

namespace larkspur::bench {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPhaseNames[] = {"copy",       "open",         "strip",         "strip-scan",
                                       "carve",      "extract",      "rofs-read",     "reassemble",
                                       "repack",     "rofs-build",   "durable-copy",  "extract-in-process",
                                       "repack-in-process", "diff"};

// The durable copy's buffer: dd's bs=4M.
constexpr std::size_t kCopyBufferBytes = 4 << 20;

// The tools the program folders need, from the tool folder beside the
// benchmark's own executable.
#ifdef _WIN32
constexpr const char* kTools[] = {"readimage.exe", "rofsbuild.exe"};
#else
constexpr const char* kTools[] = {"readimage", "rofsbuild"};
#endif

class Stopwatch {
 public:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Runs Open, Extract and Repack through the pipeline the way larkspur-cli
// does, with the program folder's ROFS tools (the app's way, pauses
// included) or the same work in this process.
class Driver {
 public:
  Driver(const Workload& workload, bool in_process)
      : workload_(workload),
        workspace_(in_process ? InProcessHome(workload) : workload.home),
        reporter_([this](const std::string& line) { last_line_ = line; }, [](const std::string&) {},
                  [](const std::string& text) { throw std::runtime_error(text); }) {
    if (in_process) {
      tools_ = std::make_unique<pipeline::InProcessRofsTools>();
    } else {
      tools_ = std::make_unique<pipeline::ExternalRofsTools>();
    }
  }

  void Open() {
    file_ = pipeline::OpenFirmware(workload_.input, std::nullopt, workload_.model, reporter_);
  }
  void Extract() {
    Expect("Extract", pipeline::Extract(file_, workload_.model, workspace_, *tools_, reporter_));
  }
  void Repack() {
    Expect("Repack", pipeline::Repack(file_, workload_.model, workspace_, *tools_, reporter_).outcome);
  }

 private:
  void Expect(const std::string& command, const pipeline::Outcome& outcome) {
    if (outcome.refusal) throw std::runtime_error(command + " refused: " + SayText(*outcome.refusal));
    if (!outcome.done()) throw std::runtime_error(command + " did not finish; last log line: " + last_line_);
  }

  const Workload& workload_;
  const Workspace workspace_;
  SayingReporter reporter_;
  std::unique_ptr<pipeline::RofsTools> tools_;
  pipeline::OpenedFile file_;
  std::string last_line_;
};

ByteString Load(const std::string& path) {
  ByteString bytes;
  if (!LoadFileBytes(path, bytes)) throw std::runtime_error("missing or empty: " + path);
  return bytes;
}

const ModelProfile& ProfileOf(const Workload& workload) { return ProfileForModel(workload.model); }

std::string SignatureOf(const Workload& workload) {
  const ModelProfile& profile = ProfileOf(workload);
  return HexToBytes(workload.uda ? profile.UdaSignatureHex : profile.RofsSignatureHex);
}

int HeaderSizeOf(const Workload& workload) {
  const ModelProfile& profile = ProfileOf(workload);
  return workload.uda ? profile.UdaHeaderSize : profile.RofsHeaderSize;
}


// The unpacker writes into rofs2; an earlier run's files are removed first
// so every run creates the whole tree. The removal is flushed before the
// clock starts, or freeing the old files would be timed with the new ones.
void EmptyRofsFolder(const Workload& workload) {
  const fs::path folder = port::JoinPath(workload.home, "rofs2");
  fs::remove_all(folder);
  fs::create_directories(folder);
#ifndef _WIN32
  ::sync();
#endif
}

void RunTool(const Workload& workload, const std::string& command_line) {
  const port::ProcessOutcome outcome = RunInToolFolder(workload.home, command_line, nullptr);
  if (!Succeeded(outcome)) throw std::runtime_error(command_line + ": " + SayText(DescribeOutcome(outcome)));
}

double Copy(const Workload& workload) {
  const Stopwatch watch;
  const ByteString bytes = Load(workload.input);
  port::WriteFileReplacing(port::JoinPath(workload.home, "copy-of-input"), {bytes});
  return watch.Seconds();
}

double Strip(const Workload& workload, bool scan_only) {
  ByteString data = Load(workload.input);
  const std::string signature = SignatureOf(workload);
  const Stopwatch watch;
  if (scan_only) {
    StripEveryOccurrence(data, signature, HeaderSizeOf(workload));
  } else if (!StripBlockHeaders(data, signature, HeaderSizeOf(workload)).chain_intact) {
    throw std::runtime_error("the generated file's block chain is not intact");
  }
  return watch.Seconds();
}

double Carve(const Workload& workload) {
  ByteString data = Load(workload.input);
  StripBlockHeaders(data, SignatureOf(workload), HeaderSizeOf(workload));
  const Stopwatch watch;
  const std::string_view carved =
      CarvePartition(data, HexToBytes(workload.uda ? kFat16MagicHex : kRofsMagicHex));
  port::WriteFileReplacing(PartitionImagePath(workload), {carved});
  return watch.Seconds();
}

// As ReassembleAndWrite prepares it: the partition image behind the filler
// with room for the padding, and the input file's prefix.
double Reassemble(const Workload& workload) {
  const ModelProfile& profile = ProfileOf(workload);
  const std::size_t filler = workload.uda ? 0 : kRofsFiller;
  ByteString rebuilt;
  if (!port::ReadWholeFile(PartitionImagePath(workload), rebuilt,
                           static_cast<std::uint64_t>(kMaxByteStringLength), filler,
                           kTailAlignment)) {
    throw std::runtime_error("no partition image; the extract phase must run first");
  }
  const ByteString input = Load(workload.input);
  const std::int64_t found = PosFrom(SignatureOf(workload), input, 1);
  const std::string_view prefix = found > 1 ? Take(input, 1, found - 1) : std::string_view();
  const BlockCutting cutting =
      workload.uda ? BlockCutting{profile.UdaBlockSize, false, '\0'}
                   : BlockCutting{profile.RofsBlockSize, workload.model == kN96ModelIndex,
                                  static_cast<char>(0xFF)};
  const HeaderBuilder build = [&](std::size_t, std::string_view payload, std::string_view address,
                                  std::int32_t length) {
    return HexToBytes(workload.uda
                          ? BuildBlockHeaderHex(profile.UdaSignatureHex, profile.UdaTypeFieldHex,
                                                profile.UdaBlockSize, payload, address, length)
                          : BuildBlockHeaderHex(profile.RofsSignatureHex, profile.RofsTypeFieldHex,
                                                profile.RofsBlockSize, payload, address, length));
  };
  const ByteString start_address(
      Take(input, found + (workload.uda ? profile.UdaAddressIndex : profile.RofsAddressIndex) - 1,
           profile.AddressLength));
  const Stopwatch watch;
  const Reassembly blocks = CutIntoBlocks(rebuilt, prefix, start_address, cutting, build);
  const double seconds = watch.Seconds();
  if (blocks.total_size < rebuilt.size()) throw std::runtime_error("the reassembly lost bytes");
  return seconds;
}

// Read, write, fsync: what `dd if=FILE of=COPY bs=4M conv=fsync` does,
// outside the program's own code paths.
double DurableCopy(const Workload& workload) {
  const std::string to = port::JoinPath(workload.home, "durable-copy-of-input");
  std::unique_ptr<char[]> buffer(new char[kCopyBufferBytes]);
  const Stopwatch watch;
#ifdef _WIN32
  const HANDLE in = CreateFileA(workload.input.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) throw std::runtime_error("durable copy: cannot open");
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.get(), static_cast<DWORD>(kCopyBufferBytes), &got, nullptr))
      throw std::runtime_error("durable copy: read failed");
    if (got == 0) break;
    DWORD put = 0;
    if (!WriteFile(out, buffer.get(), got, &put, nullptr) || put != got)
      throw std::runtime_error("durable copy: write failed");
  }
  if (!FlushFileBuffers(out)) throw std::runtime_error("durable copy: flush failed");
  CloseHandle(in);
  CloseHandle(out);
#else
  const int in = ::open(workload.input.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || out < 0) throw std::runtime_error("durable copy: cannot open");
  for (;;) {
    const ssize_t got = ::read(in, buffer.get(), kCopyBufferBytes);
    if (got < 0) throw std::runtime_error("durable copy: read failed");
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out, buffer.get() + done, static_cast<std::size_t>(got - done));
      if (put <= 0) throw std::runtime_error("durable copy: write failed");
      done += put;
    }
  }
  if (::fsync(out) != 0) throw std::runtime_error("durable copy: fsync failed");
  ::close(in);
  ::close(out);
#endif
  return watch.Seconds();
}

}  // namespace

std::string PartitionImagePath(const Workload& workload) {
  return port::JoinPath(workload.home, workload.uda ? "fat16/fat16.img" : "temp/rofs2.img");
}

std::string InProcessHome(const Workload& workload) { return workload.home + "in-process/"; }

Workload UdaWorkload(const std::string& work) {
  return {"uda", true, 0, work + "inputs/RM-bench.uda.fpsx", work + "uda/"};
}

DiffPair DiffPairOf(const Workload& workload) {
  const std::string folder = fs::path(workload.input).parent_path().string() + "/";
  return {folder + "RM-old.uda.fpsx", folder + "RM-new.uda.fpsx"};
}

Workload RofsWorkload(const std::string& work) {
  return {"rofs", false, kN96ModelIndex, work + "inputs/RM-bench.rofs2.fpsx", work + "rofs/"};
}

const char* PhaseName(Phase phase) { return kPhaseNames[static_cast<int>(phase)]; }

std::optional<Phase> PhaseFromName(const std::string& name) {
  for (int i = 0; i < static_cast<int>(std::size(kPhaseNames)); ++i) {
    if (name == kPhaseNames[i]) return static_cast<Phase>(i);
  }
  return std::nullopt;
}

double RunPhase(Phase phase, const Workload& workload) {
  switch (phase) {
    case Phase::kCopy:
      return Copy(workload);
    case Phase::kOpen: {
      Driver driver(workload, false);
      const Stopwatch watch;
      driver.Open();
      return watch.Seconds();
    }
    case Phase::kStrip:
      return Strip(workload, false);
    case Phase::kStripScan:
      return Strip(workload, true);
    case Phase::kCarve:
      return Carve(workload);
    case Phase::kExtract: {
      if (!workload.uda) EmptyRofsFolder(workload);
      Driver driver(workload, false);
      const Stopwatch watch;
      driver.Open();
      driver.Extract();
      return watch.Seconds();
    }
    case Phase::kRofsRead: {
      EmptyRofsFolder(workload);
      const Stopwatch watch;
      RunTool(workload, "readimage.exe -z ../rofs2 ../temp/rofs2.img");
      return watch.Seconds();
    }
    case Phase::kReassemble:
      return Reassemble(workload);
    case Phase::kRepack: {
      Driver driver(workload, false);
      const Stopwatch watch;
      driver.Open();
      driver.Repack();
      return watch.Seconds();
    }
    case Phase::kRofsBuild: {
      const std::string built = port::JoinPath(workload.home, "exebat/rofs2r.img");
      const Stopwatch watch;
      RunTool(workload, "rofsbuild.exe ../temp/rofs2.obey");
      const double seconds = watch.Seconds();
      port::DeleteFile(built);
      return seconds;
    }
    case Phase::kDurableCopy:
      return DurableCopy(workload);
    case Phase::kExtractInProcess: {
      Driver driver(workload, true);
      const Stopwatch watch;
      driver.Open();
      driver.Extract();
      return watch.Seconds();
    }
    case Phase::kRepackInProcess: {
      Driver driver(workload, true);
      const Stopwatch watch;
      driver.Open();
      driver.Repack();
      return watch.Seconds();
    }
    case Phase::kDiff: {
      const DiffPair pair = DiffPairOf(workload);
      const Stopwatch watch;
      const diff::FirmwareDifference difference =
          diff::CompareFirmwareFiles(pair.old_file, pair.new_file, std::nullopt, workload.model);
      const double seconds = watch.Seconds();
      // A partition the readers refused was not compared file by file.
      if (!difference.partition_problem.empty()) throw std::runtime_error(difference.partition_problem);
      if (difference.entries.size() != 3) {
        throw std::runtime_error("diff found " + std::to_string(difference.entries.size()) +
                                 " entries that differ, not the 3 made");
      }
      return seconds;
    }
  }
  throw std::logic_error("unknown phase");
}

void GenerateInputs(const std::string& work) {
  // The build's tool folder: the benchmarks live outside the program folder.
  const std::string tools = LARKSPUR_BENCH_TOOL_DIR;
  const std::string tree_home = work + "tree/";
  for (const std::string& home : {UdaWorkload(work).home, RofsWorkload(work).home, InProcessHome(UdaWorkload(work)),
                                  InProcessHome(RofsWorkload(work)), tree_home}) {
    for (const char* folder : {"exebat", "temp", "rofs2", "fat16"})
      fs::create_directories(home + folder);
    for (const char* tool : kTools) {
      fs::copy_file(tools + tool, home + "exebat/" + tool, fs::copy_options::overwrite_existing);
    }
  }
  fs::create_directories(work + "inputs");
  const Workload uda = UdaWorkload(work);
  WriteUdaFirmware(uda.input, uda.model, kUdaFileSize);
  WriteTree(tree_home + "rofs2", kTreeFileCount, kTreeBytes);
  const Workload rofs = RofsWorkload(work);
  WriteRofsFirmware(tree_home, rofs.input, rofs.model, kRofsFileSize);
  const DiffPair pair = DiffPairOf(uda);
  WriteUdaFirmwarePair(pair.old_file, pair.new_file, uda.model, kUdaFileSize, tree_home + "rofs2",
                       work + "diff/edited");
}

}  // namespace larkspur::bench
