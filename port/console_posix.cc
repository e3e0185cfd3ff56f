#include <unistd.h>

#include "port/console.h"

namespace larkspur::port {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace larkspur::port
