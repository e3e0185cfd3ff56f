// The terminal, for command-line programs.
#ifndef LARKSPUR_PORT_CONSOLE_H_
#define LARKSPUR_PORT_CONSOLE_H_

namespace larkspur::port {

// True when standard error is a terminal (progress goes there only then).
bool StandardErrorIsTerminal();

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_CONSOLE_H_
