#include <io.h>

#include "port/console.h"

namespace larkspur::port {

bool StandardErrorIsTerminal() { return _isatty(2) != 0; }

}  // namespace larkspur::port
