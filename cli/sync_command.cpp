// clockagent sync and clockagent run: the update cycle against a receiver on a serial port.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/timer_loop.h"
#include "receiver/serial_link.h"
#include "receiver/system_serial_port.h"
#include "update/clock_setter.h"
#include "update/interval_text.h"
#include "update/update_cycle.h"
#include "update/view_state.h"

namespace clockagent {
namespace {

const char kLineOptionsHelp[] =
    "  --port DEV          the receiver's serial port (/dev/ttyS0, /dev/ttyUSB0, COM3, ...)\n"
    "  --baud N            2400, 4800, 9600 (default), 19200 or 38400\n"
    "  --data-bits N       7 or 8 (default)\n"
    "  --parity P          none (default), odd or even\n"
    "  --stop-bits N       1 (default) or 2\n"
    "  --time-type T       utc (default: the receiver's GPS-UTC offset is taken off) or gps\n"
    "  --dry-run           do not set the clock; show the time it would be set to\n"
    "  --help              show this text\n";

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
    "Exit status: 0 when the clock was set (or would have been, with --dry-run), 1 when the attempt\n"
    "ended in an error or was interrupted, 2 for bad options.\n"
    "\n"
    "Options:\n";

const char kRunHelp[] =
    "Usage: clockagent run --port DEV --interval \"dd hh:mm\" [OPTIONS]\n"
    "\n"
    "Starts periodic clock updates: one attempt at once, then one every interval (days, hours\n"
    "and minutes, at most 49 17:02), each as 'clockagent sync' makes it. Prints a line per\n"
    "outcome with the successful and total attempts, until stopped with Ctrl-C or SIGTERM, which\n"
    "ends an attempt in progress and closes the port.\n"
    "\n"
    "Exit status: 0 when stopped, 2 for bad options or an interval that is refused.\n"
    "\n"
    "Options:\n"
    "  --interval \"dd hh:mm\"  the time between attempts, two digits in each field, such as\n"
    "                      \"00 06:00\"\n";

struct Options {
  std::string port;
  std::string interval;
  bool dryRun = false;
};

int Usage(const char* command, const char* message, const char* value = nullptr) {
  std::fprintf(stderr, "clockagent %s: %s%s%s (see 'clockagent %s --help')\n", command, message,
               value != nullptr ? ": " : "", value != nullptr ? value : "", command);
  return 2;
}

// Index of `value` among `names`, or -1.
int Choice(const char* value, std::initializer_list<const char*> names) {
  int i = 0;
  for (const char* name : names) {
    if (value != nullptr && std::strcmp(value, name) == 0) return i;
    ++i;
  }
  return -1;
}

// The value of an option that takes one: the next argument, unless there is none or it is itself
// an option. Null then.
const char* OptionValue(int argc, char** argv, int i) {
  if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0) return nullptr;
  return argv[i + 1];
}

// The window's controls in memory; the port named by its path; message boxes on standard error.
class ConsoleView final : public ViewState {
 public:
  void PortName(int, char (&name)[kPortNameSize]) const override {
#ifdef _WIN32
    int number = 0;
    int used = 0;
    if (std::sscanf(port.c_str(), "COM%d%n", &number, &used) == 1 &&
        static_cast<std::size_t>(used) == port.size()) {
      FormatPortName(number, name);  // the device namespace reaches COM10 and above too
      return;
    }
#endif
    std::snprintf(name, sizeof name, "%s", port.c_str());
  }
  void ShowMessage(const char* text, const char* title, unsigned flags) override {
    ViewState::ShowMessage(text, title, flags);
    std::fprintf(stderr, "clockagent: %s: %s\n", title, text);
  }
  void AddTrayIcon(TrayIconState state) override {
    ViewState::AddTrayIcon(state);
    if (state != TrayIconState::InProgress) ++outcomes;  // an attempt has ended
  }

  std::string port;
  int outcomes = 0;
};

// Passes the time on and remembers it.
class ObservedClock final : public ClockSetter {
 public:
  explicit ObservedClock(ClockSetter& inner) : inner_(inner) {}
  bool Set(const SystemTime& utc) override {
    asked = true;
    last = utc;
    return inner_.Set(utc);
  }
  bool asked = false;
  SystemTime last;

 private:
  ClockSetter& inner_;
};

// Everything one run of the cycle needs, wired as the Windows program wires its window.
struct Session {
  Session(ConsoleView& v, bool dryRun) : view(v), clock(dryRun ? static_cast<ClockSetter&>(dryRun_) : system_) {
    link->port = port.get();
  }
  bool Run(const std::function<bool()>& done) {
    return RunTimers({{&timerDaro, [this] { cycle.Timer_DAROTimer(); }},
                      {&timerUpdate, [this] { cycle.Timer_UpdateTimer(); }}},
                     done);
  }
  ~Session() {
    if (link->isOpen) CloseLink(*link);  // no outcome for an attempt cut short
  }

  ConsoleView& view;
  DryRunClockSetter dryRun_;
  SystemClockSetter system_;
  ObservedClock clock;
  std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  std::unique_ptr<ReceiverLink> link = std::make_unique<ReceiverLink>();
  LoopTimer timerUpdate{kDefaultUpdateIntervalMs, false};
  LoopTimer timerDaro{kPollIntervalMs, true};
  UpdateCycle cycle{*link, view, timerUpdate, timerDaro, clock};
};

// Reads the options shared by sync and run into the view; returns -1 to go on, or the exit code.
int ParseOptions(const char* command, const char* help, int argc, char** argv, bool takesInterval,
                 ConsoleView& view, Options& o) {
  const auto select = [&view](Control c, int i) { view.SetItemIndex(c, i); };
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    int index = -1;
    if (arg == "--help" || arg == "-h") {
      std::fputs(help, stdout);
      std::fputs(kLineOptionsHelp, stdout);
      return 0;
    } else if (arg == "--dry-run") {
      o.dryRun = true;
      continue;
    }
    const bool known = arg == "--port" || (arg == "--interval" && takesInterval) ||
                       arg == "--baud" || arg == "--data-bits" || arg == "--parity" ||
                       arg == "--stop-bits" || arg == "--time-type";
    if (!known) return Usage(command, "unknown option", arg.c_str());
    const char* v = OptionValue(argc, argv, i);
    if (v == nullptr || *v == '\0') return Usage(command, (arg + " needs a value").c_str());
    if (arg == "--port") {
      o.port = v;
    } else if (arg == "--interval") {
      if (IntervalMilliseconds(v) < 0) {
        return Usage(command, "--interval takes \"dd hh:mm\", such as \"00 06:00\"", v);
      }
      o.interval = v;
    } else if (arg == "--baud") {
      if ((index = Choice(v, {"2400", "4800", "9600", "19200", "38400"})) < 0) {
        return Usage(command, "--baud takes 2400, 4800, 9600, 19200 or 38400", v);
      }
      select(Control::ComboBox_BaudRate, index);
    } else if (arg == "--data-bits") {
      if ((index = Choice(v, {"7", "8"})) < 0) return Usage(command, "--data-bits takes 7 or 8", v);
      select(Control::ComboBox_DataBits, index);
    } else if (arg == "--parity") {
      if ((index = Choice(v, {"none", "odd", "even"})) < 0) {
        return Usage(command, "--parity takes none, odd or even", v);
      }
      select(Control::ComboBox_Parity, index);
    } else if (arg == "--stop-bits") {
      if ((index = Choice(v, {"1", "2"})) < 0) return Usage(command, "--stop-bits takes 1 or 2", v);
      select(Control::ComboBox_StopBits, index);
    } else if (arg == "--time-type") {
      if ((index = Choice(v, {"utc", "gps"})) < 0) {
        return Usage(command, "--time-type takes utc or gps", v);
      }
      select(Control::RadioGroup_TimeType, index);
    }
    ++i;  // the option's value
  }
  if (o.port.empty()) return Usage(command, "--port is required");
  if (takesInterval && o.interval.empty()) return Usage(command, "--interval is required");
  view.port = o.port;
  return -1;
}

std::string IsoText(const SystemTime& time) {
  char text[kIsoTimeTextSize];
  FormatIsoTime(time, text);
  return text;
}

}  // namespace

int RunSync(int argc, char** argv) {
  ConsoleView view;
  Options options;
  const int parsed = ParseOptions("sync", kSyncHelp, argc, argv, false, view, options);
  if (parsed >= 0) return parsed;

  InstallStopSignals();
  Session session(view, options.dryRun);
  session.cycle.RefreshTime();
  if (!session.Run([&view] { return view.outcomes > 0; })) {
    std::fputs("clockagent sync: interrupted\n", stderr);
    return 1;
  }

  const std::string& status = view.Caption(Panel::Panel_Status);
  std::printf("%s\n", status.c_str());
  const std::string& timeOfWeek = view.Caption(Panel::Panel_Time);
  if (!timeOfWeek.empty()) {
    const std::size_t text = timeOfWeek.find_first_not_of(' ');  // the panel's leading blank
    std::printf("time of week: %s\n", timeOfWeek.c_str() + (text == std::string::npos ? 0 : text));
  }
  const int rollover = session.cycle.timing.rolloverWeeks;
  if (session.clock.asked && rollover > 0) {
    std::printf("week rollover: moved forward %d weeks\n", rollover);
  }
  if (session.clock.asked) {
    const std::string when = IsoText(session.clock.last);
    if (status != StatusText(UpdateOutcome::Success)) {
      std::printf("could not set the clock to %s\n", when.c_str());
    } else if (options.dryRun) {
      std::printf("would set the clock to %s (dry run)\n", when.c_str());
    } else {
      std::printf("set the clock to %s\n", when.c_str());
    }
  }
  return status == StatusText(UpdateOutcome::Success) ? 0 : 1;
}

int RunRun(int argc, char** argv) {
  ConsoleView view;
  Options options;
  const int parsed = ParseOptions("run", kRunHelp, argc, argv, true, view, options);
  if (parsed >= 0) return parsed;
  view.SetIntervalText(options.interval.c_str());

  InstallStopSignals();
  Session session(view, options.dryRun);
  session.cycle.StartUpdates();
  if (!session.timerUpdate.Enabled()) return 2;  // the interval was refused, as shown

  int shown = 0;
  session.Run([&] {
    while (shown < view.outcomes) {
      ++shown;
      const int rollover = session.cycle.timing.rolloverWeeks;
      if (rollover > 0) std::printf("week rollover: moved forward %d weeks\n", rollover);
      const std::time_t now = std::time(nullptr);
      char stamp[32];
      std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
      std::printf("%s %s %s\n", stamp, view.Caption(Panel::Panel_Status).c_str(),
                  view.Caption(Panel::Panel_TotalUpdates).c_str());
      std::fflush(stdout);
    }
    return false;  // until a stop signal
  });
  return 0;
}

}  // namespace clockagent
