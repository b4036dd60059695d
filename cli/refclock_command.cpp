// clockagent refclock: the receiver as a reference clock for chronyd, ntpd and ntpsec, which
// discipline the clock from its samples and serve the time onward.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "receiver/system_serial_port.h"
#include "refclock/reference_clock.h"
#include "refclock/refclock_outputs.h"
#include "update/timer_loop.h"

namespace clockagent {
namespace {

// A format: the segments' key base goes in.
const char kRefclockHelp[] =
    "Usage: clockagent refclock --port DEV (--sock PATH | --shm UNIT)... [OPTIONS]\n"
    "\n"
    "Feeds a time daemon (chronyd, ntpd or ntpsec) from the receiver on DEV until stopped with\n"
    "Ctrl-C or SIGTERM. It takes every packet 0x8F-AB of a receiver that broadcasts them, and\n"
    "otherwise asks for packet 0x41 once a second. Each timing packet becomes one sample: the\n"
    "moment its first byte began to arrive, on the system clock, and the receiver's time for that\n"
    "moment. The daemon filters the samples, keeps the clock and its rate right, and can serve the\n"
    "time to the network. A packet without a usable time gives no sample.\n"
    "\n"
    "A receiver that goes silent or away is tried again (its port opened anew every 10 seconds\n"
    "while it says nothing, every second while the port cannot be opened), and so is a daemon that\n"
    "is not there; a line says when that begins and ends. A status line every minute and at each\n"
    "change of the receiver's state gives the samples sent, the last offset (the receiver's time\n"
    "less the system clock: positive when the clock is behind) and the state.\n"
    "\n"
    "With --pulse, a sample is the edge of the receiver's pulse per second before the packet, and\n"
    "the whole second the packet gives it (the shared-memory segment's precision then says about\n"
    "60 microseconds instead of a millisecond); a packet with no edge within a second before it\n"
    "gives a sample of its own, and the status line says which.\n"
    "\n"
    "A receiver time before this version's release day is a week-number rollover: it is moved\n"
    "forward by whole periods of 1024 weeks until it is not, and the status line says so.\n"
    "\n"
    "Exit status: 0 when stopped, 2 for bad options.\n"
    "\n"
    "Outputs (at least one; any number of each):\n"
    "  --sock PATH         datagrams to the socket chronyd made for 'refclock SOCK PATH'\n"
    "  --shm UNIT          the NTP shared-memory segment of unit 0 to 255 (key 0x%X + UNIT),\n"
    "                      as chronyd's 'refclock SHM UNIT' and ntpd's 127.127.28.UNIT read it;\n"
    "                      made if no daemon has made it yet, for this user alone (mode 0600:\n"
    "                      the daemons read it as root); made again if removed; one found made\n"
    "                      by another user, or that others may write, is refused\n"
    "\n"
    "Options:\n";

constexpr std::uint32_t kTickMs = 1000;     // a request, and the port tried again
constexpr std::uint32_t kStatusMs = 60000;  // a status line

struct Options {
  CycleChoices choices;
  std::vector<std::string> sockPaths;
  std::vector<int> shmUnits;
  bool quiet = false;
};

// Reads the options; returns -1 to go on, or the exit code.
int ParseOptions(int argc, char** argv, Options& o) {
  const char* const command = "refclock";
  bool hasPort = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf(kRefclockHelp, static_cast<unsigned>(kShmKeyBase));
      PrintReceiverOptionsHelp();
      std::printf(
          "  --quiet             no status lines\n"
          "  --help              show this text\n");
      return 0;
    } else if (arg == "--quiet") {
      o.quiet = true;
      continue;
    }
    if (!IsReceiverOption(arg) && arg != "--sock" && arg != "--shm") {
      return Usage(command, "unknown option: " + arg);
    }
    const char* v = OptionValue(argc, argv, i++);
    if (v == nullptr) return Usage(command, arg + " needs a value");
    if (arg == "--sock") {
      if (std::strlen(v) >= sizeof(sockaddr_un::sun_path)) {
        return Usage(command, "--sock takes a path of at most " +
                                  std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
                                  " bytes: " + v);
      }
      o.sockPaths.push_back(v);
    } else if (arg == "--shm") {
      int unit = 0;
      if (!ParseInt(v, 0, kLargestShmUnit, &unit)) {
        return Usage(command, std::string("--shm takes a unit from 0 to 255: ") + v);
      }
      o.shmUnits.push_back(unit);
    } else {
      const int applied = ApplyReceiverOption(command, arg, v, o.choices);
      if (applied >= 0) return applied;
      hasPort = hasPort || arg == "--port";
    }
  }
  if (!hasPort) return Usage(command, "--port is required");
  const int checked = CheckReceiverChoices(command, o.choices);
  if (checked >= 0) return checked;
  if (o.sockPaths.empty() && o.shmUnits.empty()) {
    return Usage(command, "give at least one output, --sock PATH or --shm UNIT");
  }
  return -1;
}

// "2026-12-08T09:23:49Z samples 12, last offset ...": a status line with the time it was said.
void PrintStatus(const ReferenceClock& refclock) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  std::printf("%s %s\n", stamp, refclock.StatusText().c_str());
  std::fflush(stdout);
}

// Tells systemd, when it started this program as a notify service, that the outputs are made. The
// unit starts before the time daemons, so the shared-memory segments exist, for this user alone,
// when a daemon attaches them; made by a daemon first, they would be root's, and out of reach.
void TellServiceManagerReady() {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr || path[0] == '\0' || std::strlen(path) >= sizeof(sockaddr_un::sun_path)) {
    return;
  }
  const std::size_t size = std::strlen(path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path, size);
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';  // an abstract address
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  static const char kReady[] = "READY=1";
  ::sendto(fd, kReady, sizeof kReady - 1, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
           length);
  ::close(fd);
}

}  // namespace

int RunRefclock(int argc, char** argv) {
  Options options;
  const int parsed = ParseOptions(argc, argv, options);
  if (parsed >= 0) return parsed;

  InstallStopSignals();
  std::vector<std::unique_ptr<SampleOutput>> outputs;
  for (const std::string& path : options.sockPaths) outputs.push_back(NewSockOutput(path));
  for (int unit : options.shmUnits) {
    outputs.push_back(NewShmOutput(unit, SystemLinkClock().Now().monotonicNs));
  }
  const std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  ReferenceClock refclock(options.choices, *port, SystemLinkClock(), std::move(outputs));
  TellServiceManagerReady();

  LoopTimer tick{kTickMs, true};
  LoopTimer status{kStatusMs, true};
  const auto tell = [&refclock, &options] {
    if (!options.quiet) PrintStatus(refclock);
  };
  if (refclock.Tick()) tell();
  const ArrivalHandler arrival = refclock.Arrival();
  RunTimers({{&tick, [&refclock, &tell] {
                if (refclock.Tick()) tell();
              }},
             {&status, tell}},
            [] { return false; }, &arrival);
  return 0;
}

}  // namespace clockagent
