// clockagent find: which serial port the receiver is on, its protocol and its line settings.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "receiver/receiver_search.h"
#include "receiver/system_serial_port.h"

namespace clockagent {
namespace {

// The help, with the trials in their order and the port count from the search itself.
void PrintFindHelp() {
  std::fputs(
      "Usage: clockagent find [--protocol daro|nmea] [--port DEV]...\n"
      "\n"
      "Finds the receiver: on each port, tries the line settings in order of likelihood and listens\n"
      "for a little over a second at each. For a DARO receiver it sends the time request and waits\n"
      "for a timing packet (0x41 or 0x8F-AB) to decode; for an NMEA one (the trials marked NMEA) it\n"
      "sends nothing and waits for a sentence with a right checksum. The ports are searched side by\n"
      "side. The settings tried, in order:\n",
      stdout);
  for (int trial = 0; trial < kSearchTrialCount; ++trial) {
    std::printf("%s%s", trial % 4 == 0 ? "  " : "; ", TrialText(trial).c_str());
    if (trial % 4 == 3 || trial + 1 == kSearchTrialCount) std::fputs("\n", stdout);
  }
  std::printf(
      "Prints a line for each receiver found, such as\n"
      "  COM7: 4800 baud, 8-O-1, answering with 0x41\n"
      "  /dev/ttyUSB0: 9600 baud, 8-N-1, broadcasting 0x8F-AB\n"
      "  /dev/ttyUSB1: 4800 baud, 8-N-1, NMEA (RMC, GGA)\n"
      "an NMEA receiver with the types of the sentences it sent, in the order first heard,\n"
      "and its progress on standard error. A port in use by another program is skipped and named.\n"
      "Use the settings found with 'clockagent sync' (with --protocol nmea for an NMEA receiver),\n"
      "the window or the service.\n"
      "\n"
      "Without --port it tries COM1 to COM%d on Windows, and on Linux the serial devices present\n"
      "(/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyAMA*).\n"
      "\n"
      "Exit status: 0 when a receiver was found, 1 when none was (or the search was interrupted\n"
      "first), 2 for bad options.\n"
      "\n"
      "Options:\n"
      "  --protocol P        daro or nmea: try only that protocol's settings (default: both)\n"
      "  --port DEV          a port to search (/dev/ttyUSB0, COM3, ...); give it again for more\n"
      "  --help              show this text\n",
      kPortCount);
}

std::atomic<bool> g_stop{false};
void OnStop(int) { g_stop = true; }

// Progress on standard error, receivers found on standard output.
class Printer final : public SearchObserver {
 public:
  void TrialBegan(const PortChoice& port, int trial) override {
    std::fprintf(stderr, "clockagent find: trying %s at %s\n", PortDisplayName(port).c_str(),
                 TrialText(trial).c_str());
  }
  void TrialRefused(const PortChoice& port, int trial, const char* words) override {
    std::fprintf(stderr, "clockagent find: %s refused %s%s%s%s: skipped\n",
                 PortDisplayName(port).c_str(), TrialText(trial).c_str(),
                 *words != '\0' ? " (" : "", words, *words != '\0' ? ")" : "");
  }
  void PortSearched(const PortFinding& finding) override {
    if (finding.verdict == PortVerdict::Found) {
      std::printf("%s\n", FoundText(finding).c_str());
      std::fflush(stdout);
      return;
    }
    std::fprintf(stderr, "clockagent find: %s: %s\n", PortDisplayName(finding.port).c_str(),
                 VerdictText(finding.verdict));
  }

 private:
  static const char* VerdictText(PortVerdict verdict) {
    switch (verdict) {
      case PortVerdict::InUse:
        return "in use by another program, skipped";
      case PortVerdict::Missing:
        return "no such serial port";
      case PortVerdict::Denied:
        return "not allowed to open it (on Linux, is the user in the dialout group?)";
      case PortVerdict::Stopped:
        return "search stopped";
      case PortVerdict::Silent:
      case PortVerdict::Found:
        break;
    }
    return "no receiver heard";
  }
};

// "COM1, COM3 and COM4".
std::string NameList(const std::vector<PortFinding>& findings, PortVerdict verdict) {
  std::vector<std::string> names;
  for (const PortFinding& finding : findings) {
    if (finding.verdict == verdict) names.push_back(PortDisplayName(finding.port));
  }
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += i + 1 < names.size() ? ", " : " and ";
    list += names[i];
  }
  return list;
}

}  // namespace

int RunFind(int argc, char** argv) {
  std::vector<PortChoice> ports;
  SearchProtocols protocols = SearchProtocols::Both;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintFindHelp();
      return 0;
    }
    if (arg == "--protocol") {
      const char* value = OptionValue(argc, argv, i++);
      if (value == nullptr) return Usage("find", "--protocol needs a value");
      if (std::strcmp(value, "daro") != 0 && std::strcmp(value, "nmea") != 0) {
        return Usage("find", std::string("--protocol takes daro or nmea: ") + value);
      }
      protocols = value[0] == 'n' ? SearchProtocols::Nmea : SearchProtocols::Daro;
      continue;
    }
    if (arg != "--port") return Usage("find", "unknown option: " + arg);
    const char* value = OptionValue(argc, argv, i++);
    if (value == nullptr) return Usage("find", "--port needs a value");
    ports.push_back(PortNamed(value));
  }
  if (ports.empty()) {
    for (const std::string& name : SystemPortNames()) ports.push_back(PortNamed(name.c_str()));
  }
  if (ports.empty()) {
    std::fprintf(stderr, "clockagent find: no serial ports here; name one with --port\n");
    return 1;
  }

  std::signal(SIGINT, OnStop);
  std::signal(SIGTERM, OnStop);
  Printer printer;
  const std::vector<PortFinding> findings = SearchPorts(ports, NewSystemSerialPort, g_stop, false, printer, protocols);
  for (const PortFinding& finding : findings) {
    if (finding.verdict == PortVerdict::Found) return 0;
  }
  const std::string searched = NameList(findings, PortVerdict::Silent);
  const std::string inUse = NameList(findings, PortVerdict::InUse);
  std::fprintf(stderr, "clockagent find: no receiver found%s%s%s%s\n",
               searched.empty() ? "" : "; listened on ", searched.c_str(),
               inUse.empty() ? "" : "; in use by another program: ", inUse.c_str());
  return 1;
}

}  // namespace clockagent
