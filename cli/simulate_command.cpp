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
    "\n"
    "  --protocol P      daro (the default: packets as above) or nmea: NMEA 0183 sentences, sent\n"
    "                    every second and nothing answered (bytes received are ignored)\n"
    "  --sentences LIST  NMEA: the sentences of each second, in order, from RMC, GGA and ZDA,\n"
    "                    each at most once (default RMC,GGA). Each names the UTC second of the\n"
    "                    pulse's edge before it; RMC and GGA carry a fixed position\n"
    "  --talker XX       NMEA: the two capital letters after '$' (default GP; GN, GL, ...)\n"
    "  --nmea-delay MS   NMEA: the first byte of each second's sentences leaves MS milliseconds\n"
    "                    after the true second (the pulse's edge), 0 to 950 (default 100)\n"
    "  --status S        NMEA: A, a valid fix (the default), or V: RMC status V, GGA quality 0\n"
    "  --bad-checksum    NMEA: every sentence's checksum is wrong\n"
    "  --nmea-rollover   NMEA: dates 1024 weeks (19.6 years) back, time of day unchanged, as a\n"
    "                    module whose week counter rolled over reports them (with --time too)\n"
    "\n"
    "  With --protocol nmea, --time (the time of the first sentences), --pulse, --silent,\n"
    "  --garbage, --flood, --split, the line settings and --link apply as above. The options of\n"
    "  DARO packets and requests (--offset, --broadcast, --flags, --tow, --week, --no-time,\n"
    "  --latency, --turnaround, --at-once, --wrong-length, --dle-storm, --oversize,\n"
    "  --hangup-after, --replay) are refused with it, and the NMEA options without it.\n"
    "\n"
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
                             "--latency", "--pulse", "--protocol", "--sentences", "--talker",
                             "--nmea-delay", "--status",
                             "--garbage", "--split"}) {
    if (arg == option) return true;
  }
  return false;
}

// The options of DARO's packets and requests, which an NMEA receiver has no use for.
bool DaroOnly(const std::string& arg) {
  for (const char* option : {"--offset", "--broadcast", "--flags", "--tow", "--week", "--no-time",
                             "--latency", "--turnaround", "--at-once", "--wrong-length",
                             "--dle-storm", "--oversize", "--hangup-after", "--replay"}) {
    if (arg == option) return true;
  }
  return false;
}

bool NmeaOnly(const std::string& arg) {
  for (const char* option : {"--sentences", "--talker", "--nmea-delay", "--status",
                             "--bad-checksum", "--nmea-rollover"}) {
    if (arg == option) return true;
  }
  return false;
}

// A comma-separated list of RMC, GGA and ZDA, each at most once.
bool ParseSentences(const char* text, NmeaTalk* talk) {
  talk->count = 0;
  for (const char* at = text;;) {
    const char* end = std::strchr(at, ',');
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - at) : std::strlen(at);
    NmeaSentenceKind sentence;
    if (!NmeaSentenceNamed(at, length, &sentence)) return false;
    for (int i = 0; i < talk->count; ++i) {
      if (talk->sentences[i] == sentence) return false;
    }
    talk->sentences[talk->count++] = sentence;
    if (end == nullptr) return true;
    at = end + 1;
  }
}

// Parses the options into `o`; returns -1 to go on, or the exit code.
int ParseOptions(int argc, char** argv, SimulatorOptions& o) {
  std::string daroOnly, nmeaOnly;  // the first of each given
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (DaroOnly(arg) && daroOnly.empty()) daroOnly = arg;
    if (NmeaOnly(arg) && nmeaOnly.empty()) nmeaOnly = arg;
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
    } else if (arg == "--protocol") {
      if (std::strcmp(v, "daro") == 0) {
        o.protocol = SimulatorProtocol::Daro;
      } else if (std::strcmp(v, "nmea") == 0) {
        o.protocol = SimulatorProtocol::Nmea;
      } else {
        return Usage("--protocol takes daro or nmea", v);
      }
    } else if (arg == "--sentences") {
      if (!ParseSentences(v, &o.nmea)) {
        return Usage("--sentences takes RMC, GGA and ZDA, comma-separated, each at most once", v);
      }
    } else if (arg == "--talker") {
      if (std::strlen(v) != 2 || v[0] < 'A' || v[0] > 'Z' || v[1] < 'A' || v[1] > 'Z') {
        return Usage("--talker takes two capital letters, such as GP or GN", v);
      }
      o.nmea.talker[0] = v[0];
      o.nmea.talker[1] = v[1];
    } else if (arg == "--nmea-delay") {
      if (!ParseInt(v, 0, 950, &o.nmeaDelayMs)) {
        return Usage("--nmea-delay takes milliseconds from 0 to 950", v);
      }
    } else if (arg == "--status") {
      if (std::strcmp(v, "A") != 0 && std::strcmp(v, "V") != 0) {
        return Usage("--status takes A or V", v);
      }
      o.nmea.validFix = v[0] == 'A';
    } else if (arg == "--bad-checksum") {
      o.nmea.badChecksum = true;
    } else if (arg == "--nmea-rollover") {
      o.nmeaRollover = true;
    } else if (line != nullptr) {
      const int index = WordIndex(*line, v);
      if (index < 0) return Usage(arg + " takes " + ChoiceWords(*line), v);
      o.lineChoice.*line->list->index = index;
    } else {
      return Usage("unknown option", arg.c_str());
    }
  }
  if (o.protocol == SimulatorProtocol::Nmea && !daroOnly.empty()) {
    return Usage(daroOnly + " is for DARO packets: an NMEA receiver sends UTC sentences of itself "
                 "and answers nothing");
  }
  if (o.protocol != SimulatorProtocol::Nmea && !nmeaOnly.empty()) {
    return Usage(nmeaOnly + " needs --protocol nmea");
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
