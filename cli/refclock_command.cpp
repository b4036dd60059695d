// clockagent refclock: the receiver as a reference clock for chronyd, ntpd and ntpsec, which
// discipline the clock from its samples and serve the time onward.
#include <sys/un.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "refclock/refclock_outputs.h"
#include "update/clock_sample.h"
#include "update/timer_loop.h"
#include "receiver/serial_link.h"
#include "receiver/system_serial_port.h"
#include "receiver/timing_packets.h"
#include "update/clock_setting.h"

namespace clockagent {
namespace {

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
    "A receiver time before this version's release day is a week-number rollover: it is moved\n"
    "forward by whole periods of 1024 weeks until it is not, and the status line says so.\n"
    "\n"
    "Exit status: 0 when stopped, 2 for bad options.\n"
    "\n"
    "Outputs (at least one; any number of each):\n"
    "  --sock PATH         datagrams to the socket chronyd made for 'refclock SOCK PATH'\n"
    "  --shm UNIT          the NTP shared-memory segment of unit 0 to 255 (key 0x4E545030 + UNIT),\n"
    "                      as chronyd's 'refclock SHM UNIT' and ntpd's 127.127.28.UNIT read it;\n"
    "                      made if no daemon has made it yet, for root alone for units 0 and 1\n"
    "\n"
    "Options:\n";

constexpr std::int64_t kNsPerSecond = 1000000000;
constexpr std::uint32_t kTickMs = 1000;          // a request, and the port tried again
constexpr std::uint32_t kStatusMs = 60000;       // a status line
constexpr std::int64_t kSilentAfterNs = 5 * kNsPerSecond;
constexpr std::int64_t kReopenAfterNs = 10 * kNsPerSecond;
// A broadcasting receiver sends every second: after three seconds without one, it is asked again.
constexpr std::int64_t kBroadcastGoneNs = 3 * kNsPerSecond;

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
      std::fputs(kRefclockHelp, stdout);
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
  if (o.sockPaths.empty() && o.shmUnits.empty()) {
    return Usage(command, "give at least one output, --sock PATH or --shm UNIT");
  }
  return -1;
}

std::int64_t MonotonicNs() { return SystemLinkClock().Now().monotonicNs; }

// The receiver as the status line tells it.
enum class ReceiverState { Waiting, NoPort, Silent, NoTime, Answering, Broadcasting };

// The port, the link over it and the outputs: packets in, samples out.
class Refclock final : private TimingSink {
 public:
  Refclock(const Options& options, std::vector<std::unique_ptr<SampleOutput>> outputs)
      : options_(options), outputs_(std::move(outputs)), lastHeardNs_(MonotonicNs()) {
    link_->port = port_.get();
    timing_.ActiveTimeType = options.choices.timeType;
    timing_.sink = this;
  }
  ~Refclock() { CloseLink(*link_); }
  Refclock(const Refclock&) = delete;
  Refclock& operator=(const Refclock&) = delete;

  // Each second: the port opened (anew, after a silence), the time asked for unless the receiver
  // broadcasts, and a line when the receiver's state has changed.
  void Tick() {
    const std::int64_t now = MonotonicNs();
    // A receiver unplugged and plugged in again is a new device behind the same name, and a
    // line that has gone never reads again: only a fresh open finds it.
    if (link_->isOpen && now - std::max(lastHeardNs_, openedNs_) >= kReopenAfterNs) {
      CloseLink(*link_);
    }
    if (!link_->isOpen) {
      char name[kPortNameSize];
      PortOpenName(options_.choices.port, name);
      const bool wasAway = portAway_;
      portAway_ = OpenLink(*link_, name) != 0;
      if (!portAway_) {
        PrepareLink(*link_, options_.choices.line);
        openedNs_ = now;
        // Back after the port could not be opened: waiting for the receiver, as at the start.
        if (wasAway) {
          lastHeardNs_ = now;
          heardAny_ = false;
        }
      }
    }
    if (link_->isOpen && (!heardBroadcast_ || now - lastBroadcastNs_ >= kBroadcastGoneNs)) {
      RequestTime(*link_);
    }
    const ReceiverState state = StateAt(now);
    if (!told_ || state != toldState_ || rolloverWeeks_ != toldRolloverWeeks_) {
      told_ = true;
      toldState_ = state;
      toldRolloverWeeks_ = rolloverWeeks_;
      if (!options_.quiet) PrintStatus();
    }
  }

  void PrintStatus() {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    char offset[48] = "none";
    if (sampled_) {
      std::snprintf(offset, sizeof offset, "%+.6f s", static_cast<double>(lastOffsetNs_) * 1e-9);
    }
    std::printf("%s samples %llu, last offset %s, %s\n", stamp,
                static_cast<unsigned long long>(samplesSent_), offset, StateText().c_str());
    std::fflush(stdout);
  }

  // Waits on the port as a reader of timing packets must: see LinkArrival.
  ArrivalHandler Arrival() {
    return LinkArrival(
        *port_, [this] { return link_->isOpen && !link_->inPacket; },
        [this] { return link_->isOpen != 0; },
        [this] {
          if (!link_->isOpen) return;
          ReadLink(*link_, [this](ReceiverLink& completed) { DispatchPacket(completed, timing_); });
        });
  }

 private:
  void TimingPacketReceived(const TimingReport& report) override {
    const std::int64_t at = report.arrival.monotonicNs;
    lastHeardNs_ = at;
    heardAny_ = true;
    if (report.packet == TimingPacket::Packet8FAB) {
      lastBroadcastNs_ = at;
      heardBroadcast_ = true;
    }
    ClockSample sample;
    if (!SampleOf(report, options_.choices.latencyMs, kReleaseReceiverTime, &sample)) return;
    bool sent = false;
    for (const auto& output : outputs_) {
      if (output->Send(sample, at)) sent = true;
    }
    if (sent) ++samplesSent_;
    sampled_ = true;
    lastSampleNs_ = at;
    lastPacket_ = report.packet;
    lastOffsetNs_ = sample.offsetNs;
    rolloverWeeks_ = sample.rolloverWeeks;
  }

  ReceiverState StateAt(std::int64_t now) const {
    if (!link_->isOpen) return ReceiverState::NoPort;
    if (sampled_ && now - lastSampleNs_ < kSilentAfterNs) {
      return lastPacket_ == TimingPacket::Packet8FAB ? ReceiverState::Broadcasting
                                                     : ReceiverState::Answering;
    }
    if (now - lastHeardNs_ < kSilentAfterNs) {
      return heardAny_ ? ReceiverState::NoTime : ReceiverState::Waiting;
    }
    return ReceiverState::Silent;
  }

  std::string StateText() const {
    const std::string port = PortDisplayName(options_.choices.port);
    switch (toldState_) {
      case ReceiverState::Waiting:
        return "waiting for timing packets from " + port;
      case ReceiverState::NoPort:
        return "cannot open " + port + ", trying again each second";
      case ReceiverState::Silent:
        return "no timing packet from " + port + " for 5 s or more, opening it anew every 10 s";
      case ReceiverState::NoTime:
        return "the receiver on " + port + " has no usable time";
      case ReceiverState::Answering:
      case ReceiverState::Broadcasting:
        break;
    }
    std::string text = toldState_ == ReceiverState::Broadcasting
                           ? "receiving 0x8F-AB broadcasts from " + port
                           : "receiving 0x41 answers from " + port;
    if (toldRolloverWeeks_ > 0) {
      text += ", week rollover: moved forward " + std::to_string(toldRolloverWeeks_) + " weeks";
    }
    return text;
  }

  const Options& options_;
  std::vector<std::unique_ptr<SampleOutput>> outputs_;
  std::unique_ptr<SerialPort> port_ = NewSystemSerialPort();
  std::unique_ptr<ReceiverLink> link_ = std::make_unique<ReceiverLink>();  // 8 KiB of buffers
  TimingContext timing_;

  bool portAway_ = false;  // the last open failed
  std::int64_t openedNs_ = 0;
  std::int64_t lastHeardNs_;  // the last timing packet, the start, or the port's return
  bool heardAny_ = false;
  std::int64_t lastBroadcastNs_ = 0;
  bool heardBroadcast_ = false;
  std::int64_t lastSampleNs_ = 0;
  bool sampled_ = false;
  TimingPacket lastPacket_ = TimingPacket::Packet41;
  std::int64_t lastOffsetNs_ = 0;
  int rolloverWeeks_ = 0;
  std::uint64_t samplesSent_ = 0;

  bool told_ = false;  // what the last state line said
  ReceiverState toldState_ = ReceiverState::Waiting;
  int toldRolloverWeeks_ = 0;
};

}  // namespace

int RunRefclock(int argc, char** argv) {
  Options options;
  const int parsed = ParseOptions(argc, argv, options);
  if (parsed >= 0) return parsed;

  InstallStopSignals();
  std::vector<std::unique_ptr<SampleOutput>> outputs;
  for (const std::string& path : options.sockPaths) outputs.push_back(NewSockOutput(path));
  for (int unit : options.shmUnits) outputs.push_back(NewShmOutput(unit, MonotonicNs()));
  Refclock refclock(options, std::move(outputs));

  LoopTimer tick{kTickMs, true};
  LoopTimer status{kStatusMs, true};
  refclock.Tick();
  const ArrivalHandler arrival = refclock.Arrival();
  RunTimers({{&tick, [&refclock] { refclock.Tick(); }},
             {&status,
              [&refclock, &options] {
                if (!options.quiet) refclock.PrintStatus();
              }}},
            [] { return false; }, &arrival);
  return 0;
}

}  // namespace clockagent
