// The measured phases of the benchmark. Each runs in a process of its own
// (so its peak resident memory is its own), does its untimed preparation,
// then times only its part of the work. The phases of one workload run in
// the order of Phase: later ones use the files earlier ones leave (the
// partition image of an Extract, the obey file of a Repack).
#ifndef LARKSPUR_BENCH_BENCH_PHASES_H_
#define LARKSPUR_BENCH_BENCH_PHASES_H_

#include <optional>
#include <string>

namespace larkspur::bench {

// One firmware file and the program folder it is extracted into and
// repacked from.
struct Workload {
  std::string name;    // "uda" or "rofs"
  bool uda = false;
  int model = 0;       // model selector item
  std::string input;   // the firmware file
  std::string home;    // program folder, ending in a separator
};

// The two UDA firmware files the diff phase compares, beside `workload`'s
// input: real FAT16 volumes of its size holding the ROFS workload's tree,
// the new one with a file removed, one changed and one added.
struct DiffPair {
  std::string old_file;
  std::string new_file;
};
DiffPair DiffPairOf(const Workload& workload);

// The two workloads below the work folder `work` (ending in a separator).
Workload UdaWorkload(const std::string& work);
Workload RofsWorkload(const std::string& work);

enum class Phase {
  kCopy,        // read the file and write it again (WriteFileReplacing)
  kOpen,        // Open1Click
  kStrip,       // StripBlockHeaders on the loaded file
  kStripScan,   // the scan for every signature, taken when a chain breaks
  kCarve,       // carving and writing the partition image
  kExtract,     // Open and the whole Extract through the console window
  kRofsRead,    // the ROFS unpacker alone on the carved image
  kReassemble,  // CutIntoBlocks on the loaded partition image
  kRepack,      // Open and the whole Repack through the console window
  kRofsBuild,   // the ROFS builder alone on the obey file of the Repack
  // What every phase is paired with: another process copying the same file
  // durably, as `dd bs=4M conv=fsync` does (read into one reused buffer,
  // write, fsync).
  kDurableCopy,
  // Open and Extract, then Open and Repack, through the pipeline with the
  // ROFS tools' work done in this process (no tool processes, no pauses),
  // in a program folder of their own: their outputs are compared with the
  // app's.
  kExtractInProcess,
  kRepackInProcess,
  // larkspur-cli diff's comparison of the UDA workload's DiffPair: every
  // payload and every file's bytes of both files read, nothing unpacked.
  kDiff,
};

const char* PhaseName(Phase phase);
std::optional<Phase> PhaseFromName(const std::string& name);

// Runs `phase` of `workload` in this process and returns the seconds its
// timed part took. Throws when the work did not succeed (an error box, a
// failed tool, a missing file), so no figure is ever reported for work
// that did not happen.
double RunPhase(Phase phase, const Workload& workload);

// Where the app writes the partition image of an Extract.
std::string PartitionImagePath(const Workload& workload);

// The program folder of the in-process phases, beside the app's.
std::string InProcessHome(const Workload& workload);

// Generating the inputs (untimed): the UDA file, the tree and the ROFS file.
void GenerateInputs(const std::string& work);

}  // namespace larkspur::bench

#endif  // LARKSPUR_BENCH_BENCH_PHASES_H_
