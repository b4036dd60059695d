// Holds a serial port open for itself alone until SIGTERM or SIGINT: the other program in tests
// of ports that are in use.
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "receiver/system_serial_port.h"

namespace {
volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: port_holder PORT\n");
    return 2;
  }
  auto port = clockagent::NewSystemSerialPort();
  if (!port->Open(argv[1])) {
    std::fprintf(stderr, "port_holder: cannot open %s\n", argv[1]);
    return 1;
  }
  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  std::printf("held\n");
  std::fflush(stdout);
  while (!g_stop) pause();
  port->Close();
  return 0;
}
