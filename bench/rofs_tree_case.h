// The ROFS tree case of the benchmarks: larkspur-cli repack of a 20,000-file
// ROFS firmware file against tar and dd of the same bytes.
#ifndef LARKSPUR_BENCH_ROFS_TREE_CASE_H_
#define LARKSPUR_BENCH_ROFS_TREE_CASE_H_

#include <string>

namespace larkspur::bench {

struct RofsTreeOptions {
  std::string work;      // a folder of its own, ending in a separator
  std::string programs;  // holds larkspur-cli and exebat/; ends in a separator
  int repeat = 5;
  bool keep = false;  // leave `work` behind
};

// Generates the tree and its firmware file in `options.work`, times the
// rounds and prints the figures and the target line to standard output.
// Returns 0; throws std::runtime_error when a process fails, and on a
// platform without fork and wait4.
int RunRofsTreeCase(const RofsTreeOptions& options);

}  // namespace larkspur::bench

#endif  // LARKSPUR_BENCH_ROFS_TREE_CASE_H_
