// The texts of `info` and `verify`.
#ifndef LARKSPUR_TOOLS_LARKSPUR_CLI_FIRMWARE_REPORT_H_
#define LARKSPUR_TOOLS_LARKSPUR_CLI_FIRMWARE_REPORT_H_

#include <ostream>

#include "format/firmware_check.h"

namespace larkspur {

// What the file is: its table of contents, what lies in front of the code
// blocks, behind them and between them, the named blocks, the erase area
// the payload lies in, the header bytes the profile does not give, where
// the partition starts in the payloads; then whether every header is right
// (a summary when all are, else the problems).
void PrintInfo(std::ostream& out, const FirmwareCheck& check);

// Only what is wrong: the problems of the file as a whole, then those of
// its blocks in file order, each with its block and file offset.
void PrintProblems(std::ostream& out, const FirmwareCheck& check);

}  // namespace larkspur

#endif  // LARKSPUR_TOOLS_LARKSPUR_CLI_FIRMWARE_REPORT_H_
