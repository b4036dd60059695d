// clockagent: the command-line face of the receiver and clock core.
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "version.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"decode", "decode a recorded receiver byte stream: DARO packets, or NMEA sentences",
     clockagent::RunDecode},
    {"sync", "make one clock update attempt from the receiver on a serial port", clockagent::RunSync},
    {"run", "update the clock from the receiver at a fixed interval until stopped",
     clockagent::RunRun},
    {"find", "find the receiver: the serial port it is on and its line settings",
     clockagent::RunFind},
#ifdef _WIN32
    {"service", "install, remove, start, stop or ask the Windows service that keeps the clock set",
     clockagent::RunServiceCommand},
    {"w32time", "register, remove or ask the time provider that feeds Windows Time the receiver's time",
     clockagent::RunW32timeCommand},
#else
    {"refclock", "feed chronyd, ntpd or ntpsec with the receiver's time as a reference clock",
     clockagent::RunRefclock},
    {"simulate", "play a GPS timing receiver on a pseudo-terminal, for tests and demonstrations",
     clockagent::RunSimulate},
#endif
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: clockagent COMMAND [ARGS...]\n"
               "\n"
               "Keeps a PC clock set from a GPS timing receiver that speaks DARO.\n"
               "\n"
               "Commands:\n");
  for (const Command& command : kCommands) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "\n"
               "Run 'clockagent COMMAND --help' for a command's options and exit status.\n"
               "  --help      show this text\n"
               "  --version   show the version\n"
               "\n"
               "Exit status: a command's own; 2 for a missing or unknown command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 ||
      std::strcmp(name, "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(name, "--version") == 0) {
    std::printf("clockagent %s\n", clockagent::kVersionText);
    return 0;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(name, command.name) == 0) return command.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "clockagent: unknown command '%s'; run 'clockagent --help' for the list\n",
               name);
  return 2;
}
