// clockagent simulate: a GPS timing receiver on a pseudo-terminal, for tests and demonstrations.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "receiver/daro_link.h"
#include "receiver/serial_link.h"
#include "receiver/timing_packets.h"
#include "update/clock_setting.h"

namespace clockagent {
namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyTime = std::chrono::steady_clock::time_point;

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

struct Options {
  std::string link;
  int offset = 18;
  bool fixedTime = false;
  double fixedUnixTime = 0;  // seconds since 1970, UTC
  bool broadcast = false;
  bool silent = false;
  int turnaroundMs = 0;
  int latencyMs = 0;
  PulseLine pulse = PulseLine::None;
  int garbage = 0;
  bool flood = false;
  bool atOnce = false;
  int dleStorm = 0;
  int oversize = 0;
  int splitMs = -1;
  bool wrongLength = false;
  bool noTime = false;
  int flags = 0;
  bool fixedTow = false;
  float tow = 0;
  int week = -1;  // -1: the current week
  int hangupAfter = 0;
  std::string replay;
  SerialLineSettings lineChoice;
  LineParameters line;  // what lineChoice stands for
  bool verbose = false;
};

// "YYYY-MM-DDTHH:MM:SS[.fff][Z]" as seconds since 1970.
bool ParseUtc(const char* text, double* unixTime) {
  unsigned year, month, day, hour, minute, second;
  int used = 0;
  if (std::sscanf(text, "%4u-%2u-%2uT%2u:%2u:%2u%n", &year, &month, &day, &hour, &minute, &second,
                  &used) != 6) {
    return false;
  }
  double fraction = 0;
  const char* rest = text + used;
  if (*rest == '.') {
    char* end = nullptr;
    fraction = std::strtod(rest, &end);
    if (end == rest + 1) return false;
    rest = end;
  }
  if (*rest == 'Z') ++rest;
  if (*rest != '\0') return false;
  SystemTime t;
  t.wYear = static_cast<std::uint16_t>(year);
  t.wMonth = static_cast<std::uint16_t>(month);
  t.wDay = static_cast<std::uint16_t>(day);
  t.wHour = static_cast<std::uint16_t>(hour);
  t.wMinute = static_cast<std::uint16_t>(minute);
  t.wSecond = static_cast<std::uint16_t>(second);
  std::int64_t seconds = 0;
  if (!SystemTimeToUnixSeconds(t, &seconds) || seconds <= kGpsEpochUnix) return false;
  *unixTime = static_cast<double>(seconds) + fraction;
  return true;
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
int ParseOptions(int argc, char** argv, Options& o) {
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

// Where a symbolic link at `path` points; empty when there is none.
std::string LinkTarget(const std::string& path) {
  char target[4096];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  if (n <= 0) return "";
  return std::string(target, static_cast<std::size_t>(n));
}

// What this command links to: the pseudo-terminal it made.
bool IsPseudoTerminalLink(const std::string& path) {
  return LinkTarget(path).rfind("/dev/pts/", 0) == 0;
}

volatile sig_atomic_t g_stop = 0;
void OnStopSignal(int) { g_stop = 1; }

double NowUnix() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void Put16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, static_cast<std::uint16_t>(v >> 16));
  Put16(b, static_cast<std::uint16_t>(v));
}
void PutSingle(Bytes& b, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  Put32(b, bits);
}

class Simulator {
 public:
  Simulator(const Options& options, int master) : o_(options), master_(master) {
    link_->isOpen = 1;
    if (!o_.replay.empty()) {
      std::ifstream in(o_.replay, std::ios::binary);
      replay_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    byteTime_ = std::chrono::duration_cast<Duration>(
        std::chrono::nanoseconds(CharacterTimeNs(o_.line)));
  }

  // Serves the port until a stop signal, or until the receiver hangs up.
  void Run() {
    double lastBroadcastSecond = std::floor(NowUnix());
    SteadyTime lastReplay = std::chrono::steady_clock::now();
    double replayBudget = 0;
    while (!g_stop && !hungUp_) {
      const SteadyTime now = std::chrono::steady_clock::now();
      if (o_.flood && !o_.silent) Flood(now);
      if (o_.pulse != PulseLine::None) Pulse(now);
      SendDue(now);

      if (o_.broadcast && !o_.silent) {
        // Each second edge's packet is queued a little ahead, so that its first byte leaves at
        // the edge (and the latency) exactly.
        const double unix = NowUnix();
        const double edge = std::floor(unix) + 1;
        if (edge > lastBroadcastSecond && edge - unix < 0.05 && o_.pulse == PulseLine::None) {
          lastBroadcastSecond = edge;
          const SteadyTime at = now + std::chrono::duration_cast<Duration>(
                                          std::chrono::duration<double>(edge - unix));
          ScheduleAt(at + std::chrono::milliseconds(o_.latencyMs), Packet8FAB(GpsSeconds(edge)));
        }
      }
      if (replayAt_ < replay_.size()) {
        // As many bytes as the line has carried since the last turn.
        replayBudget += std::chrono::duration<double>(now - lastReplay) / byteTime_;
        const auto n = std::min(replay_.size() - replayAt_, static_cast<std::size_t>(replayBudget));
        if (n > 0) {
          Transmit(replay_.data() + replayAt_, n);
          replayAt_ += n;
          replayBudget -= static_cast<double>(n);
        }
      }
      lastReplay = now;

      pollfd p{master_, POLLIN, 0};
      const timespec timeout = Timeout(now);
      const int ready = ppoll(&p, 1, &timeout, nullptr);
      if (ready > 0 && (p.revents & POLLIN)) Receive();
    }
  }

 private:
  using Duration = std::chrono::steady_clock::duration;

  // The pulse: its line raised at each true second, read on the clock without pause through the
  // last millisecond before it so that the edge lies on the second to a few microseconds, and
  // lowered 100 ms later. A broadcast follows each edge at a delay that wanders as a receiver's.
  void Pulse(SteadyTime now) {
    double unix = NowUnix();
    if (unix > nextEdge_ + 0.5) nextEdge_ = std::floor(unix) + 1;  // held up: the next one
    if (raised_ && now >= lowerAt_) SetPulseLine(false);
    if (unix < nextEdge_ - 0.001) return;
    while (unix < nextEdge_) unix = NowUnix();
    SetPulseLine(true);
    const SteadyTime edge = std::chrono::steady_clock::now();
    lowerAt_ = edge + std::chrono::milliseconds(100);
    if (o_.broadcast && !o_.silent) {
      const auto delay = std::chrono::milliseconds(o_.latencyMs + 20 + static_cast<int>(random_() % 61));
      ScheduleAt(edge + delay, Packet8FAB(GpsSeconds(nextEdge_)));
    }
    nextEdge_ += 1;
  }

  void SetPulseLine(bool high) {
    int bits = o_.pulse == PulseLine::Dcd ? TIOCM_DTR : TIOCM_RTS;
    ioctl(master_, high ? TIOCMBIS : TIOCMBIC, &bits);
    raised_ = high;
  }

  // The time to report, on the GPS scale, as seconds since the GPS epoch.
  double GpsSeconds(double unixTime) const {
    if (startUnix_ < 0) startUnix_ = unixTime;
    const double utc = o_.fixedTime ? o_.fixedUnixTime + (unixTime - startUnix_) : unixTime;
    return utc - static_cast<double>(kGpsEpochUnix) + o_.offset;
  }

  // Stop bits are not compared: a UART checks only the first, so one stop bit reads a line that
  // sends two, and two sent are one and some idle time to a reader of one.
  bool LineMatches() const {
    termios t{};
    if (tcgetattr(master_, &t) != 0) return true;
    termios mine{};
    cfsetspeed(&mine, o_.line.baudRate);  // glibc takes the rate in bits per second too
    const bool odd = (t.c_cflag & PARODD) != 0;
    return cfgetospeed(&t) == cfgetospeed(&mine) && odd == (o_.line.parity == kOddParity);
  }

  void Receive() {
    std::uint8_t buffer[4096];
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) return;
    const auto n = static_cast<std::size_t>(got);
    const bool heard = LineMatches();
    if (o_.verbose) {
      std::fprintf(stderr, "rx%s:", heard ? "" : " (line settings differ, not understood)");
      for (std::size_t i = 0; i < n; ++i) std::fprintf(stderr, " %02X", buffer[i]);
      std::fputc('\n', stderr);
    }
    if (!heard) return;
    ReceiveBytes(*link_, buffer, n, [this](ReceiverLink& l) {
      if (l.packetId != kTimeRequestId || l.packetLength != 0 || hungUp_) return;
      // A new attempt: a --time receiver's clock begins again at its time.
      const SteadyTime now = std::chrono::steady_clock::now();
      if (now - lastRequest_ >= std::chrono::seconds(1)) startUnix_ = -1;
      lastRequest_ = now;
      if (++requests_ == o_.hangupAfter) {
        hungUp_ = true;
        if (o_.verbose) std::fputs("hanging up\n", stderr);
        return;
      }
      if (o_.broadcast || o_.silent || !o_.replay.empty()) return;
      // The answer starts once the four request bytes have crossed the line and the receiver
      // has turned round, at the first moment whose time of week a single holds exactly.
      ScheduleAnswer(std::chrono::steady_clock::now() + 4 * byteTime_ +
                     std::chrono::milliseconds(o_.turnaroundMs));
    });
  }

  Bytes Packet41(double gps) const {
    Bytes data;
    if (o_.noTime) {
      PutSingle(data, -1.0f);
      Put16(data, 0);
      PutSingle(data, 0.0f);
    } else {
      const double week = std::floor(gps / kSecondsPerWeek);
      PutSingle(data, o_.fixedTow ? o_.tow : static_cast<float>(gps - week * kSecondsPerWeek));
      const std::int64_t weekSent = o_.week >= 0 ? o_.week : static_cast<std::int64_t>(week);
      Put16(data, static_cast<std::uint16_t>(weekSent & 0xFFFF));
      PutSingle(data, static_cast<float>(o_.offset));
    }
    if (o_.wrongLength) data.push_back(0);
    Log("0x41", data);
    return Framed(kPacket41Id, data);
  }

  Bytes Packet8FAB(double gps) const {
    Bytes data = {kSubcodeAB};
    const auto whole = static_cast<std::int64_t>(std::floor(gps));
    if (o_.noTime) {
      data.resize(17, 0);
      data[9] = kTimeNotSetFlag | kNoUtcInfoFlag;
    } else {
      constexpr auto kWeekSeconds = static_cast<std::int64_t>(kSecondsPerWeek);
      const std::int64_t week = whole / kWeekSeconds;
      Put32(data, static_cast<std::uint32_t>(whole - week * kWeekSeconds));
      Put16(data, static_cast<std::uint16_t>(week & 0xFFFF));
      Put16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(o_.offset)));
      // The receiver's own calendar, in GPS time (kUtcCalendarFlag aside).
      SystemTime t;
      ReceiverTimeToSystemTime(static_cast<double>(whole), &t);
      data.push_back(static_cast<std::uint8_t>(o_.flags));
      data.push_back(static_cast<std::uint8_t>(t.wSecond));
      data.push_back(static_cast<std::uint8_t>(t.wMinute));
      data.push_back(static_cast<std::uint8_t>(t.wHour));
      data.push_back(static_cast<std::uint8_t>(t.wDay));
      data.push_back(static_cast<std::uint8_t>(t.wMonth));
      Put16(data, t.wYear);
    }
    if (o_.wrongLength) data.push_back(0);
    Log("0x8F-AB", data);
    return Framed(kPacket8FId, data);
  }

  Bytes Framed(std::uint8_t id, const Bytes& data) const {
    Bytes payload = {id};
    payload.insert(payload.end(), data.begin(), data.end());
    std::uint8_t frame[kFrameBufferSize];
    const int n = EncodeFrame(payload.size(), payload.data(), frame);
    return Bytes(frame, frame + (n > 0 ? n : 0));
  }

  void Log(const char* what, const Bytes& data) const {
    if (!o_.verbose) return;
    std::fprintf(stderr, "tx: %s", what);
    for (std::uint8_t b : data) std::fprintf(stderr, " %02X", b);
    std::fputc('\n', stderr);
  }

  std::uint8_t Noise() {
    std::uint8_t b;
    do b = static_cast<std::uint8_t>(random_()); while (b == kDle);
    return b;
  }

  // The bytes the configured faults put in front of every packet.
  Bytes Faults() {
    Bytes bytes;
    for (int i = 0; i < o_.garbage; ++i) bytes.push_back(Noise());
    bytes.insert(bytes.end(), static_cast<std::size_t>(o_.dleStorm), kDle);
    if (o_.oversize > 0) {
      // No byte of it is DLE, so the frame is the id, the data and the end, unstuffed.
      const Bytes big = {kDle, kPacket41Id};
      bytes.insert(bytes.end(), big.begin(), big.end());
      bytes.insert(bytes.end(), static_cast<std::size_t>(o_.oversize), std::uint8_t{0x55});
      bytes.insert(bytes.end(), {kDle, kEtx});
    }
    return bytes;
  }

  // The GPS time of a moment of the steady clock.
  double GpsAt(SteadyTime at) const {
    const double unix =
        NowUnix() + std::chrono::duration<double>(at - std::chrono::steady_clock::now()).count();
    return GpsSeconds(unix);
  }

  // Queues a packet whose first byte leaves at `packetStart` (or as soon after as the line is
  // free), behind the configured faults.
  void ScheduleAt(SteadyTime packetStart, const Bytes& packet) {
    Bytes bytes = Faults();
    const SteadyTime start = packetStart - static_cast<int>(bytes.size()) * Spacing();
    bytes.insert(bytes.end(), packet.begin(), packet.end());
    Send(start, bytes);
  }

  // Queues a 0x41 answer from `earliest` on. Its time of week names the moment its first byte
  // leaves, less the latency, and that moment is chosen so that a single holds it exactly: the
  // answer is then true to the bit.
  void ScheduleAnswer(SteadyTime earliest) {
    Bytes bytes = Faults();
    const SteadyTime lineStart = std::max(earliest, lineFree_);
    SteadyTime packetStart = lineStart + static_cast<int>(bytes.size()) * Spacing();
    const auto latency = std::chrono::milliseconds(o_.latencyMs);
    double gps = GpsAt(packetStart - latency);
    // A --time receiver answers at once, as it always has: only its first answer is exact.
    if (!o_.fixedTow && !o_.fixedTime && !o_.noTime && !o_.atOnce) {
      const double exact = NextExactTime(gps);
      packetStart += std::chrono::duration_cast<Duration>(std::chrono::duration<double>(exact - gps));
      gps = exact;
    }
    const Bytes packet = Packet41(gps);
    bytes.insert(bytes.end(), packet.begin(), packet.end());
    Send(packetStart - static_cast<int>(bytes.size() - packet.size()) * Spacing(), bytes);
  }

  // The first GPS time from `gps` on whose time of week is a single-precision value.
  static double NextExactTime(double gps) {
    double week = std::floor(gps / kSecondsPerWeek);
    const double tow = gps - week * kSecondsPerWeek;
    float single = static_cast<float>(tow);
    if (static_cast<double>(single) < tow) single = std::nextafter(single, 1e9f);
    if (single >= static_cast<float>(kSecondsPerWeek)) {
      week += 1;
      single = 0;
    }
    return week * kSecondsPerWeek + static_cast<double>(single);
  }

  // Hands the bytes to the line from `start` on; what arrives at the wrong rate is noise.
  void Send(SteadyTime start, Bytes bytes) {
    if (!LineMatches()) {
      for (auto& b : bytes) b = static_cast<std::uint8_t>(random_());
    }
    Queue(start, bytes);
  }

  Duration Spacing() const {
    return std::max(byteTime_, Duration(std::chrono::milliseconds(std::max(o_.splitMs, 0))));
  }

  // Each byte is due when its last bit has crossed the line.
  void Queue(SteadyTime start, const Bytes& bytes) {
    const Duration spacing = Spacing();
    SteadyTime at = std::max(start, lineFree_);
    for (std::uint8_t b : bytes) {
      at += spacing;
      outbox_.push_back({at, b});
    }
    lineFree_ = at;
  }

  // Keeps noise on the line for the next 20 ms wherever nothing else is queued.
  void Flood(SteadyTime now) {
    const SteadyTime until = now + std::chrono::milliseconds(20);
    if (lineFree_ >= until) return;
    Bytes noise;
    for (SteadyTime at = std::max(now, lineFree_); at < until; at += byteTime_) {
      noise.push_back(Noise());
    }
    Queue(now, noise);
  }

  // Hands the port every byte that is due: none goes early, so the program never sees a byte
  // before its time.
  void SendDue(SteadyTime now) {
    std::uint8_t chunk[1024];
    std::size_t n = 0;
    while (!outbox_.empty() && outbox_.front().at <= now) {
      chunk[n++] = outbox_.front().byte;
      outbox_.pop_front();
      if (n == sizeof chunk) {
        Transmit(chunk, n);
        n = 0;
      }
    }
    if (n > 0) Transmit(chunk, n);
  }

  // Writes what the line takes; a full line drops the rest, as a receiver talks on regardless.
  void Transmit(const std::uint8_t* bytes, std::size_t n) {
    [[maybe_unused]] const ssize_t written = write(master_, bytes, n);
  }

  // Until the next byte is due, to the microsecond; at most 10 ms while broadcasting or replaying
  // and 200 ms otherwise.
  timespec Timeout(SteadyTime now) const {
    Duration wait = std::chrono::milliseconds(o_.broadcast || replayAt_ < replay_.size() ? 10 : 200);
    if (!outbox_.empty()) wait = std::max(Duration::zero(), std::min(wait, outbox_.front().at - now));
    if (o_.pulse != PulseLine::None) {
      const auto toEdge = std::chrono::duration_cast<Duration>(
          std::chrono::duration<double>(nextEdge_ - 0.001 - NowUnix()));
      wait = std::max(Duration::zero(), std::min(wait, toEdge));
      if (raised_) wait = std::max(Duration::zero(), std::min(wait, lowerAt_ - now));
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    timespec t{};
    t.tv_sec = static_cast<time_t>(ns / 1000000000);
    t.tv_nsec = static_cast<long>(ns % 1000000000);
    return t;
  }

  struct Outgoing {
    SteadyTime at;
    std::uint8_t byte;
  };

  const Options& o_;
  int master_;
  mutable double startUnix_ = -1;  // the moment of the first timing packet: --time's time
  Duration byteTime_{};
  std::unique_ptr<ReceiverLink> link_ = std::make_unique<ReceiverLink>();
  std::deque<Outgoing> outbox_;
  SteadyTime lineFree_{};
  Bytes replay_;
  std::size_t replayAt_ = 0;
  int requests_ = 0;
  SteadyTime lastRequest_;
  bool hungUp_ = false;
  double nextEdge_ = std::floor(NowUnix()) + 1;  // the next pulse, in seconds since 1970
  bool raised_ = false;
  SteadyTime lowerAt_{};
  std::mt19937 random_{20250};
};

}  // namespace

int RunSimulate(int argc, char** argv) {
  Options options;
  const int parsed = ParseOptions(argc, argv, options);
  if (parsed >= 0) return parsed;
  if (!options.replay.empty() && access(options.replay.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "clockagent simulate: cannot read %s: %s\n", options.replay.c_str(),
                 std::strerror(errno));
    return 2;
  }

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::fprintf(stderr, "clockagent simulate: cannot make a pseudo-terminal: %s\n",
                 std::strerror(errno));
    return 1;
  }
  const std::string port = ptsname(master);
  // Hold the port side open: the line stays up between the program's opens, and its settings
  // are raw from the first byte on.
  const int hold = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  if (hold < 0 || tcgetattr(hold, &t) != 0) {
    std::fprintf(stderr, "clockagent simulate: cannot open %s: %s\n", port.c_str(),
                 std::strerror(errno));
    return 1;
  }
  cfmakeraw(&t);
  cfsetspeed(&t, kLineParametersAtOpen.baudRate);  // the rate the program opens a port at
  tcsetattr(hold, TCSANOW, &t);

  if (!options.link.empty()) {
    struct stat existing {};
    if (lstat(options.link.c_str(), &existing) == 0) {
      if (!IsPseudoTerminalLink(options.link)) {
        std::fprintf(stderr,
                     "clockagent simulate: will not replace %s: it is not a link to a "
                     "pseudo-terminal left by an earlier run (remove it or choose another path)\n",
                     options.link.c_str());
        return 1;
      }
      unlink(options.link.c_str());  // an earlier run's, left behind
    }
    if (symlink(port.c_str(), options.link.c_str()) != 0) {
      std::fprintf(stderr, "clockagent simulate: cannot link %s: %s\n", options.link.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }

  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // The pulse's edges and the packets' bytes leave on their microsecond, not the kernel's
  // default 50 us of slack later.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  std::printf("%s\n", port.c_str());
  std::fflush(stdout);

  Simulator(options, master).Run();

  // Unless something else has taken its place meanwhile.
  if (!options.link.empty() && LinkTarget(options.link) == port) unlink(options.link.c_str());
  close(hold);
  close(master);
  // A receiver that hung up stays gone until stopped.
  while (!g_stop) poll(nullptr, 0, 100);
  return 0;
}

}  // namespace clockagent
