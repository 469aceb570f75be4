#pragma once
// Serves the control line (control_protocol.h) on 127.0.0.1 until `stop` becomes true.
#include <csignal>
#include <cstdint>

namespace velquora::emulator {

// Prints "control on 127.0.0.1:PORT" once listening; returns the process's exit code.
int RunControlServer(std::uint16_t port, volatile std::sig_atomic_t& stop);

}  // namespace velquora::emulator
