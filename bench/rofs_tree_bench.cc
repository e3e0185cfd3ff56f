// rofs_tree_bench: the ROFS tree case of larkspur_bench alone.
//
//   rofs_tree_bench [--work DIR] [--repeat N] [--keep] [--programs DIR]
//
// --programs DIR times the larkspur-cli and tools of another build's program
// folder (DIR holds larkspur-cli and exebat/), for a before-and-after run
// on the same tree; by default those of this build.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "bench/bench_report.h"
#include "bench/rofs_tree_case.h"

int main(int argc, char** argv) {
  larkspur::bench::RofsTreeOptions options;
  options.programs = LARKSPUR_BENCH_BIN_DIR;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--work" && i + 1 < argc) {
      options.work = argv[++i];
    } else if (argument == "--repeat" && i + 1 < argc) {
      options.repeat = std::max(1, std::atoi(argv[++i]));
    } else if (argument == "--keep") {
      options.keep = true;
    } else if (argument == "--programs" && i + 1 < argc) {
      options.programs = larkspur::bench::WithSeparator(std::filesystem::absolute(argv[++i]).string());
    } else {
      std::cerr << "usage: rofs_tree_bench [--work DIR] [--repeat N] [--keep] [--programs DIR]\n";
      return 2;
    }
  }
  options.work = larkspur::bench::WorkFolder(options.work, "larkspur-rofs-tree");
  try {
    return larkspur::bench::RunRofsTreeCase(options);
  } catch (const std::exception& error) {
    std::cerr << "\nrofs_tree_bench: " << error.what() << "\n";
    return 1;
  }
}
