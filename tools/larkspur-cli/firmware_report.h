// The texts of `info` and `verify`.
#ifndef LARKSPUR_TOOLS_LARKSPUR_CLI_FIRMWARE_REPORT_H_
#define LARKSPUR_TOOLS_LARKSPUR_CLI_FIRMWARE_REPORT_H_

#include <ostream>

#include "format/firmware_check.h"

namespace larkspur {

// What the file is, and for each block (or a summary when all agree)
// whether its header is right.
void PrintInfo(std::ostream& out, const FirmwareCheck& check);

// Only what is wrong: block number, file offset, expected and found.
void PrintProblems(std::ostream& out, const FirmwareCheck& check);

}  // namespace larkspur

#endif  // LARKSPUR_TOOLS_LARKSPUR_CLI_FIRMWARE_REPORT_H_
