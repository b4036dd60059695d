// clockagent simulate: a GPS timing receiver on a pseudo-terminal, for tests and demonstrations.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "cli/commands.h"
#include "cli/options.h"
#include "simulator/pty_line_posix.h"
#include "simulator/receiver_model.h"
#include "update/clock_setting.h"

namespace clockagent {
namespace {

const char kSimulateHelp[] =
    "Usage: clockagent simulate [OPTIONS]\n"
    "\n"
    "Plays a GPS timing receiver on a pseudo-terminal until stopped (Ctrl-C or SIGTERM). The path\n"
    "of the port to open is printed on standard output. By default the receiver answers each time\n"
    "request (packet 0x21) with packet 0x41 carrying the current GPS time. Bytes leave at the\n"
    "rate of the line settings, as on a real serial line.\n"
    "\n"
    "Options:\n"
    "  --link PATH       also make PATH a symbolic link to the port, replacing only a link to a\n"
    "                    pseudo-terminal that an earlier run left there; the link is removed\n"
    "                    when stopped\n"
    "  --offset N        GPS-UTC offset in whole seconds, -32768 to 32767 (default 18)\n"
    "  --time UTC        a receiver whose clock reads this time, YYYY-MM-DDTHH:MM:SS[.fff][Z], in\n"
    "                    its first timing packet, and runs on from there; a request after a\n"
    "                    second without one is answered with this time again\n"
    "  --broadcast       send packet 0x8F-AB at every second boundary instead of answering\n"
    "                    requests, as timing receivers do\n"
    "  --flags N         0x8F-AB's timing flags byte, 0 to 255 (default 0: GPS calendar, time\n"
    "                    set): 4 time not set, 8 no UTC information, 16 time entered by hand\n"
    "  --silent          send nothing at all\n"
    "  --turnaround MS   wait MS milliseconds after a request before answering (default 0)\n"
    "  --at-once         answer without waiting for a moment whose time of week a single holds\n"
    "                    (its time is then rounded, up to 1/32 s)\n"
    "  --latency MS      send each timing packet MS milliseconds after the moment it names\n"
    "                    (default 0). Without it the packets are true to the bit: an answer's\n"
    "                    time of week names the moment its first byte leaves (chosen so that a\n"
    "                    single holds it exactly), a broadcast's the second edge it leaves at.\n"
    "  --pulse LINE      a pulse per second: raise an output line at each true second for 100 ms,\n"
    "                    DTR for dcd or RTS for cts (a null-modem cable wires them to the\n"
    "                    program's DCD and CTS), and send each broadcast a random 20-80 ms after\n"
    "                    its second (besides --latency), as timing receivers do. A\n"
    "                    pseudo-terminal has no modem lines: tests give it fake ones.\n"
    "  --garbage N       send N noise bytes (never DLE) before each packet\n"
    "  --flood           fill every pause of the line with noise bytes (never DLE)\n"
    "  --dle-storm N     send N DLE bytes (0x10) before each packet\n"
    "  --oversize N      send a packet 0x41 of N data bytes before each packet\n"
    "  --split MS        send packets one byte at a time, MS milliseconds apart\n"
    "  --wrong-length    timing packets one data byte too long (11 and 18 bytes)\n"
    "  --tow VALUE       0x41 carries this time of week (a single: -1, 3.4e38, inf, nan, ...)\n"
    "  --week N          0x41 carries this week number, 0 to 65535 (default: the current week)\n"
    "  --hangup-after N  close the receiver's side of the port when the Nth request has arrived;\n"
    "                    the port then reads nothing and refuses writes\n"
    "  --no-time         a receiver without time yet: 0x41 carries time of week -1, week 0,\n"
    "                    offset 0; 0x8F-AB carries zeros but for its flags, 12 (time not set,\n"
    "                    no UTC information)\n"
    "  --replay FILE     send the bytes of FILE (a recording) once, paced at the line rate, and\n"
    "                    answer nothing\n"
    "  --baud N, --data-bits N, --parity P, --stop-bits N\n"
    "                    the receiver's line settings, as 'clockagent sync' takes them (9600,\n"
    "                    8, none and 1 by default). When the program's settings differ,\n"
    "                    requests go unheard and packets\n"
    "                    arrive as noise. A pseudo-terminal carries the program's baud rate and\n"
    "                    odd parity, so those are what is compared; stop bits garble nothing.\n"
    "  -v, --verbose     log the bytes received and the packets sent on standard error\n"
    "  --help            show this text\n"
    "\n"
    "Exit status: 0 when stopped by a signal, 1 when the pseudo-terminal or the link could not be\n"
    "made (also when something other than an earlier run's link stands at --link PATH), 2 for\n"
    "bad options or a --replay file that cannot be read.\n";

constexpr std::int64_t kGpsEpochUnix = kGpsEpochDays * 86400;

// A time the simulator can be set to: after the GPS epoch.
bool ParseUtc(const char* text, double* unixTime) {
  return ParseIsoTime(text, unixTime) && std::floor(*unixTime) > kGpsEpochUnix;
}

int Usage(const std::string& message, const char* value = nullptr) {
  return clockagent::Usage("simulate", value != nullptr ? message + ": " + value : message);
}

bool TakesValue(const std::string& arg) {
  for (const char* option : {"--tow", "--week", "--turnaround", "--dle-storm", "--oversize",
                             "--hangup-after", "--link", "--replay", "--offset", "--time", "--flags",
                             "--latency", "--pulse",
                             "--garbage", "--split"}) {
    if (arg == option) return true;
  }
  return false;
}

// Parses the options into `o`; returns -1 to go on, or the exit code.
int ParseOptions(int argc, char** argv, SimulatorOptions& o) {
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* v = nullptr;
    const LineOption* line = LineOptionNamed(arg);
    if (TakesValue(arg) || line != nullptr) {
      v = OptionValue(argc, argv, i++);
      if (v == nullptr) return Usage(arg + " needs a value");
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kSimulateHelp, stdout);
      return 0;
    } else if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "--broadcast") {
      o.broadcast = true;
    } else if (arg == "--silent") {
      o.silent = true;
    } else if (arg == "--wrong-length") {
      o.wrongLength = true;
    } else if (arg == "--no-time") {
      o.noTime = true;
    } else if (arg == "--flood") {
      o.flood = true;
    } else if (arg == "--at-once") {
      o.atOnce = true;
    } else if (arg == "--tow") {
      char* end = nullptr;
      o.tow = std::strtof(v, &end);
      if (end == v || *end != '\0') {
        return Usage("--tow takes a number (inf and nan too)", v);
      }
      o.fixedTow = true;
    } else if (arg == "--week") {
      if (!ParseInt(v, 0, 65535, &o.week)) {
        return Usage("--week takes a week number from 0 to 65535", v);
      }
    } else if (arg == "--turnaround") {
      if (!ParseInt(v, 0, 10000, &o.turnaroundMs)) {
        return Usage("--turnaround takes milliseconds from 0 to 10000", v);
      }
    } else if (arg == "--latency") {
      if (!ParseInt(v, 0, 1000, &o.latencyMs)) {
        return Usage("--latency takes milliseconds from 0 to 1000", v);
      }
    } else if (arg == "--pulse") {
      if (!ParsePulseLine(v, &o.pulse)) return Usage("--pulse takes none, dcd or cts", v);
    } else if (arg == "--dle-storm") {
      if (!ParseInt(v, 0, 100000, &o.dleStorm)) {
        return Usage("--dle-storm takes a count of bytes from 0 to 100000", v);
      }
    } else if (arg == "--oversize") {
      if (!ParseInt(v, 0, 100000, &o.oversize)) {
        return Usage("--oversize takes a count of data bytes from 0 to 100000", v);
      }
    } else if (arg == "--hangup-after") {
      if (!ParseInt(v, 1, 1000000, &o.hangupAfter)) {
        return Usage("--hangup-after takes a count of requests from 1", v);
      }
    } else if (arg == "--link") {
      o.link = v;
    } else if (arg == "--replay") {
      o.replay = v;
    } else if (arg == "--flags") {
      if (!ParseInt(v, 0, 255, &o.flags)) return Usage("--flags takes a byte, 0 to 255", v);
    } else if (arg == "--offset") {
      if (!ParseInt(v, -32768, 32767, &o.offset)) {
        return Usage("--offset takes whole seconds from -32768 to 32767", v);
      }
    } else if (arg == "--time") {
      if (!ParseUtc(v, &o.fixedUnixTime)) {
        return Usage("--time takes a UTC time after 1980-01-06 as YYYY-MM-DDTHH:MM:SS[.fff][Z]", v);
      }
      o.fixedTime = true;
    } else if (arg == "--garbage") {
      if (!ParseInt(v, 0, 100000, &o.garbage)) {
        return Usage("--garbage takes a count of bytes from 0 to 100000", v);
      }
    } else if (arg == "--split") {
      if (!ParseInt(v, 0, 10000, &o.splitMs)) {
        return Usage("--split takes milliseconds from 0 to 10000", v);
      }
    } else if (line != nullptr) {
      const int index = WordIndex(*line, v);
      if (index < 0) return Usage(arg + " takes " + ChoiceWords(*line), v);
      o.lineChoice.*line->list->index = index;
    } else {
      return Usage("unknown option", arg.c_str());
    }
  }
  o.line = LineParametersOf(o.lineChoice);
  return -1;
}

}  // namespace

int RunSimulate(int argc, char** argv) {
  SimulatorOptions options;
  const int parsed = ParseOptions(argc, argv, options);
  if (parsed >= 0) return parsed;
  if (!options.replay.empty() && access(options.replay.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "clockagent simulate: cannot read %s: %s\n", options.replay.c_str(),
                 std::strerror(errno));
    return 2;
  }
  ReceiverModel::Bytes replay;
  if (!options.replay.empty()) {
    std::ifstream in(options.replay, std::ios::binary);
    replay.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  PtyLine line(options);
  std::string error;
  if (!line.Open(&error)) {
    std::fprintf(stderr, "clockagent simulate: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", line.Port().c_str());
  std::fflush(stdout);

  ReceiverModel receiver(options, std::move(replay), line, SystemLinkClock());
  line.Serve(receiver);
  return 0;
}

}  // namespace clockagent
