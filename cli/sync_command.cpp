// clockagent sync and clockagent run: the update cycle against a receiver on a serial port.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "update/timer_loop.h"
#include "receiver/system_serial_port.h"
#include "record/update_record.h"
#include "update/clock_setter.h"
#include "update/clock_setting.h"
#include "update/interval_text.h"
#include "update/update_cycle.h"

namespace clockagent {
namespace {

const char kSyncHelp[] =
    "Usage: clockagent sync --port DEV [OPTIONS]\n"
    "\n"
    "Makes one clock update attempt: opens the port, asks the receiver for the time every 200 ms\n"
    "for at most 30 polls, and sets the system clock from the first timing packet (0x41 or\n"
    "0x8F-AB). Prints the outcome (Success, Error - COM Failure, Error - DARO Failure,\n"
    "Error - System Update or Error - Bad Time), then for a timing packet its time of week and the\n"
    "UTC time the clock was set to. Setting the clock needs the right to (root on Linux, an\n"
    "administrator on Windows); without it the outcome is Error - System Update.\n"
    "\n"
    "A receiver time before this version's release day is a week-number rollover: it is moved\n"
    "forward by whole periods of 1024 weeks until it is not, and a line says so.\n"
    "\n"
    "The time is refused (Error - Bad Time, and a line says why) when the receiver says it is not\n"
    "yet set or was entered by hand, or, for UTC, that it does not yet know the GPS-UTC offset. A\n"
    "correction of 0.5 s or more is made only when a second timing packet agrees with the first\n"
    "(to 0.1 s); --max-correction refuses larger ones.\n"
    "\n"
    "With --pulse, the receiver's pulse per second on that modem line times the packet: the clock\n"
    "is set to the whole second of the pulse's edge before the packet, plus the time since that\n"
    "edge. A packet with no edge within a second before it (or with a time far from the edge's\n"
    "second) is timed by itself, and a line says so.\n"
    "\n"
    "With --protocol nmea the receiver is an NMEA 0183 one: nothing is asked of it, and the time\n"
    "comes from the first burst of sentences (RMC or ZDA, checksums right) that names a UTC second,\n"
    "taken as the moment the burst began to arrive less the latency, or with --pulse as the edge\n"
    "before the burst (at most a second before it). RMC status V or GGA quality 0 refuses it.\n"
    "\n"
    "Exit status: 0 when the clock was set (or would have been, with --dry-run), 1 when the attempt\n"
    "ended in an error or was interrupted, 2 for bad options.\n"
    "\n"
    "Options:\n";

const char kRunHelp[] =
    "Usage: clockagent run --port DEV --interval \"dd hh:mm\" [OPTIONS]\n"
    "\n"
    "Starts periodic clock updates: one attempt at once, then one every interval (days, hours\n"
    "and minutes, at most 49 17:02), each as 'clockagent sync' makes it. Prints a line per\n"
    "outcome with the successful and total attempts and the correction made or why a time was\n"
    "refused, until stopped with Ctrl-C or SIGTERM, which ends an attempt in progress and closes\n"
    "the port.\n"
    "\n"
    "With --discipline the clock is held between updates by its rate: from the offsets the\n"
    "updates measure, the clock's own frequency error is estimated, and its rate is set to keep\n"
    "it on time; only an offset over 0.128 s is stepped. Each line then ends with the rate in\n"
    "force ('rate -100.012 ppm': the correction to the clock's rate; negative slows it). The rate\n"
    "is handed back to the system when the run ends.\n"
    "\n"
    "Exit status: 0 when stopped, 2 for bad options or an interval that is refused.\n"
    "\n"
    "Options:\n"
    "  --interval \"dd hh:mm\"  the time between attempts, two digits in each field, such as\n"
    "                      \"00 06:00\"\n"
    "  --discipline        hold the clock by its rate between updates; step only large offsets\n";

// The options both commands take, after the command's own text.
void PrintOptionsHelp() {
  PrintReceiverOptionsHelp();
  std::printf(
      "  --log FILE          append a line for each attempt to the CSV record FILE (time_utc,\n"
      "                      port, outcome, packet, offset_s, set_to, reason,\n"
      "                      timed_by, rate_ppm; at 1 MB it becomes FILE.1.csv and a new one\n"
      "                      is begun)\n"
      "  --max-correction S  refuse to move the clock by more than S whole seconds (default 0: no\n"
      "                      limit)\n"
      "  --dry-run           do not set the clock; show the time it would be set to\n"
      "  --help              show this text\n");
}

struct Options {
  CycleChoices choices;
  bool dryRun = false;
  std::string log;  // the record's file, if any
};

// The console as the cycle's front end: the choices come from the options, and each outcome is
// handed to the command to print.
class ConsoleFront final : public CycleFrontEnd {
 public:
  using Printer = std::function<void(const AttemptResult&, const std::string& timeOfWeek)>;
  ConsoleFront(const Options& options, Printer print)
      : choices_(options.choices), print_(std::move(print)) {
    if (!options.log.empty()) record_ = std::make_unique<UpdateRecord>(options.log);
  }

  CycleChoices Choices() override { return choices_; }
  void AttemptBegan() override { timeOfWeek_.clear(); }
  // The receiver's own time of week, whatever the time type.
  void TimeOfWeekReceived(const TimingFields& fields, TimeType) override {
    char text[kTimeOfWeekTextSize];
    FormatTimeOfWeek(fields.timeOfWeek, text);
    timeOfWeek_ = text + std::strspn(text, " ");  // without the panel's leading blank
  }
  void AttemptEnded(const AttemptResult& result) override {
    ++ended;
    print_(result, timeOfWeek_);
    std::fflush(stdout);
    if (record_ != nullptr && !record_->Append(result) && !recordFailed_) {
      // Said once; the updates go on.
      recordFailed_ = true;
      std::fprintf(stderr, "clockagent: cannot write the record %s: %s; updates go on\n",
                   record_->Path().c_str(), record_->Failure().c_str());
    }
  }
  void ScheduleChanged(bool) override {}
  void Refused(const char* message) override {
    std::fprintf(stderr, "clockagent: Error: %s\n", message);
  }

  int ended = 0;

 private:
  CycleChoices choices_;
  Printer print_;
  std::string timeOfWeek_;
  std::unique_ptr<UpdateRecord> record_;
  bool recordFailed_ = false;
};

// The cycle with its port, timers and clock, as the window program has them.
struct Session {
  Session(bool dryRun, ConsoleFront& front)
      : clock(dryRun ? static_cast<ClockSetter&>(dryRunClock) : systemClock),
        engine(*port, timerUpdate, timerPoll, clock, front) {}
  // The timers, and the port while an attempt waits for its packet: bytes are read the moment
  // they arrive, not at the next poll.
  bool Run(const std::function<bool()>& done) {
    UpdateCycle& cycle = engine.cycle;
    const ArrivalHandler arrival = CycleArrival(*port, cycle);
    return RunTimers({{&timerPoll, [&cycle] { cycle.Timer_DAROTimer(); }},
                      {&timerUpdate, [&cycle] { cycle.Timer_UpdateTimer(); }}},
                     done, &arrival);
  }

  DryRunClockSetter dryRunClock;
  SystemClockSetter systemClock;
  ClockSetter& clock;
  std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  LoopTimer timerUpdate{kDefaultUpdateIntervalMs, false};
  LoopTimer timerPoll{kPollIntervalMs, true};
  UpdateEngine engine;  // last: its destructor closes a port an attempt left open
};

// Reads the options shared by sync and run; returns -1 to go on, or the exit code.
int ParseOptions(const char* command, const char* help, int argc, char** argv, bool takesInterval,
                 Options& o) {
  bool hasPort = false;
  bool hasInterval = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(help, stdout);
      PrintOptionsHelp();
      return 0;
    } else if (arg == "--dry-run") {
      o.dryRun = true;
      continue;
    } else if (arg == "--discipline") {
      if (!takesInterval) {
        return Usage(command, "--discipline holds the clock between updates: it is an option of "
                              "'clockagent run', not of one update");
      }
      o.choices.discipline = true;
      continue;
    }
    const bool known = IsReceiverOption(arg) || arg == "--log" || arg == "--max-correction" ||
                       (arg == "--interval" && takesInterval);
    if (!known) return Usage(command, "unknown option: " + arg);
    const char* v = OptionValue(argc, argv, i++);
    if (v == nullptr) return Usage(command, arg + " needs a value");
    if (arg == "--interval") {
      o.choices.intervalMs = IntervalMilliseconds(v);
      if (o.choices.intervalMs < 0) {
        return Usage(command, std::string("--interval takes \"dd hh:mm\", such as \"00 06:00\": ") + v);
      }
      hasInterval = true;
      continue;
    } else if (arg == "--log") {
      o.log = v;
      continue;
    } else if (arg == "--max-correction") {
      if (!ParseInt(v, 0, std::numeric_limits<std::int32_t>::max(),
                    &o.choices.maxCorrectionSeconds)) {
        return Usage(command,
                     std::string("--max-correction takes whole seconds, 0 for no limit: ") + v);
      }
      continue;
    }
    const int applied = ApplyReceiverOption(command, arg, v, o.choices);
    if (applied >= 0) return applied;
    hasPort = hasPort || arg == "--port";
  }
  if (!hasPort) return Usage(command, "--port is required");
  const int checked = CheckReceiverChoices(command, o.choices);
  if (checked >= 0) return checked;
  if (takesInterval && !hasInterval) return Usage(command, "--interval is required");
  return -1;
}

std::string IsoText(const SystemTime& time) {
  char text[kIsoTimeTextSize];
  FormatIsoTimeMs(time, text);
  return text;
}

// What a time says beyond its offset: a week rollover, a pulse that did not time it.
void PrintRemarks(const AttemptResult& result) {
  if (result.rolloverWeeks > 0) {
    std::printf("week rollover: moved forward %d weeks\n", result.rolloverWeeks);
  }
  if (result.PulseMissed()) {
    std::printf("%s\n", result.PulseText().c_str());
  }
  if (*result.disciplineNote != '\0') std::printf("%s\n", result.disciplineNote);
}

}  // namespace

int RunSync(int argc, char** argv) {
  Options options;
  const int parsed = ParseOptions("sync", kSyncHelp, argc, argv, false, options);
  if (parsed >= 0) return parsed;

  bool succeeded = false;
  ConsoleFront front(options, [&](const AttemptResult& result, const std::string& tow) {
    succeeded = result.outcome == UpdateOutcome::Success;
    std::printf("%s\n", StatusText(result.outcome));
    const std::string reason = ReasonText(result);
    if (!reason.empty()) std::printf("%s\n", reason.c_str());
    if (!tow.empty()) std::printf("time of week: %s\n", tow.c_str());
    if (!result.clockAsked) return;
    std::printf("%s\n", OffsetText(result.offsetSeconds).c_str());
    PrintRemarks(result);
    const std::string when = IsoText(result.clockTime);
    if (!succeeded) {
      std::printf("could not set the clock to %s\n", when.c_str());
    } else if (options.dryRun) {
      std::printf("would set the clock to %s (dry run)\n", when.c_str());
    } else {
      std::printf("set the clock to %s\n", when.c_str());
    }
  });

  InstallStopSignals();
  Session session(options.dryRun, front);
  session.engine.cycle.RefreshTime();
  if (!session.Run([&front] { return front.ended > 0; })) {
    std::fputs("clockagent sync: interrupted\n", stderr);
    return 1;
  }
  return succeeded ? 0 : 1;
}

int RunRun(int argc, char** argv) {
  Options options;
  const int parsed = ParseOptions("run", kRunHelp, argc, argv, true, options);
  if (parsed >= 0) return parsed;

  ConsoleFront front(options, [](const AttemptResult& result, const std::string&) {
    PrintRemarks(result);
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    std::string said = result.clockAsked ? OffsetText(result.offsetSeconds) : ReasonText(result);
    if (result.disciplined) {
      said += std::string(said.empty()                                ? ""
                          : result.clockAsked && result.stepped ? ", stepped; "
                                                                : "; ") +
              RateText(result.ratePpm);
    }
    std::printf("%s %s %d/%d%s%s\n", stamp, StatusText(result.outcome),
                static_cast<int>(result.successes), static_cast<int>(result.attempts),
                said.empty() ? "" : " ", said.c_str());
  });

  InstallStopSignals();
  Session session(options.dryRun, front);
  session.engine.cycle.StartUpdates();
  if (!session.engine.cycle.Started()) return 2;  // the interval was refused, as shown
  session.Run([] { return false; });  // until a stop signal
  return 0;
}

}  // namespace clockagent
