#include "port/process.h"

#include "base/quoted_words.h"

namespace larkspur::port {

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  // The program builds these lines itself; an unclosed quote runs to the end.
  return SplitQuotedWords(command_line).words;
}

}  // namespace larkspur::port
