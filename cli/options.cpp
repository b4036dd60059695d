// Reading the commands' options.
#include "cli/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "update/interval_text.h"

namespace clockagent {

int Usage(const char* command, const std::string& message) {
  std::fprintf(stderr, "clockagent %s: %s (see 'clockagent %s --help')\n", command,
               message.c_str(), command);
  return 2;
}

const char* OptionValue(int argc, char** argv, int i) {
  if (i + 1 >= argc || argv[i + 1][0] == '\0' || std::strncmp(argv[i + 1], "--", 2) == 0) {
    return nullptr;
  }
  return argv[i + 1];
}

bool ParseInt(const char* text, long low, long high, int* out) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  *out = static_cast<int>(value);
  return true;
}

namespace {

// The words of each list's entries, in kLineLists' order of lists and each list's order of
// entries.
constexpr const char* kBaudRateWords[] = {"2400", "4800", "9600", "19200", "38400"};
constexpr const char* kDataBitsWords[] = {"7", "8"};
constexpr const char* kParityWords[] = {"none", "odd", "even"};
constexpr const char* kStopBitsWords[] = {"1", "2"};
static_assert(std::size(kBaudRateWords) == std::size(kBaudRates) &&
                  std::size(kDataBitsWords) == std::size(kDataBits) &&
                  std::size(kParityWords) == std::size(kParities) &&
                  std::size(kStopBitsWords) == std::size(kStopBits),
              "a word for each entry");

constexpr LineOption kLineOptions[] = {
    {"--baud", "N", kBaudRateWords, &kLineLists[0]},
    {"--data-bits", "N", kDataBitsWords, &kLineLists[1]},
    {"--parity", "P", kParityWords, &kLineLists[2]},
    {"--stop-bits", "N", kStopBitsWords, &kLineLists[3]},
};
static_assert(std::size(kLineOptions) == std::size(kLineLists), "an option for each list");

}  // namespace

const LineOption* LineOptionNamed(const std::string& option) {
  for (const LineOption& line : kLineOptions) {
    if (option == line.option) return &line;
  }
  return nullptr;
}

int WordIndex(const LineOption& line, const char* word) {
  for (int i = 0; i < line.list->count; ++i) {
    if (word != nullptr && std::strcmp(word, line.words[i]) == 0) return i;
  }
  return -1;
}

std::string ChoiceWords(const LineOption& line, bool markDefault) {
  const int byDefault = SerialLineSettings{}.*line.list->index;
  std::string words;
  for (int i = 0; i < line.list->count; ++i) {
    if (i > 0) words += i + 1 < line.list->count ? ", " : " or ";
    words += line.words[i];
    if (markDefault && i == byDefault) words += " (default)";
  }
  return words;
}

bool IsReceiverOption(const std::string& option) {
  return LineOptionNamed(option) != nullptr || option == "--port" || option == "--time-type" ||
         option == "--latency" || option == "--pulse" || option == "--protocol";
}

int ApplyReceiverOption(const char* command, const std::string& option, const char* value,
                        CycleChoices& choices) {
  if (const LineOption* line = LineOptionNamed(option)) {
    const int index = WordIndex(*line, value);
    if (index < 0) return Usage(command, option + " takes " + ChoiceWords(*line) + ": " + value);
    choices.line.*line->list->index = index;
  } else if (option == "--port") {
    choices.port = PortNamed(value);
    char name[kPortNameSize];
    if (!PortOpenName(choices.port, name)) {
      return Usage(command, std::string("--port: ") + kLongPortNameText);
    }
  } else if (option == "--latency") {
    if (!ParseLatency(value, &choices.latencyMs)) {
      return Usage(command,
                   std::string("--latency takes whole milliseconds from -1000 to 1000: ") + value);
    }
  } else if (option == "--time-type") {
    if (std::strcmp(value, "utc") != 0 && std::strcmp(value, "gps") != 0) {
      return Usage(command, std::string("--time-type takes utc or gps: ") + value);
    }
    choices.timeType = std::strcmp(value, "utc") == 0 ? TimeType::Utc : TimeType::Gps;
  } else if (option == "--pulse") {
    if (!ParsePulseLine(value, &choices.pulse)) {
      return Usage(command, std::string("--pulse takes none, dcd or cts: ") + value);
    }
  } else if (option == "--protocol") {
    if (std::strcmp(value, "daro") != 0 && std::strcmp(value, "nmea") != 0) {
      return Usage(command, std::string("--protocol takes daro or nmea: ") + value);
    }
    choices.protocol =
        std::strcmp(value, "nmea") == 0 ? ReceiverProtocol::Nmea : ReceiverProtocol::Daro;
  }
  return -1;
}

int CheckReceiverChoices(const char* command, const CycleChoices& choices) {
  if (choices.protocol == ReceiverProtocol::Nmea && choices.timeType == TimeType::Gps) {
    return Usage(command, "--time-type gps: an NMEA receiver gives UTC only");
  }
  return -1;
}

void PrintReceiverOptionsHelp() {
  std::printf("  --port DEV          the receiver's serial port (/dev/ttyS0, /dev/ttyUSB0, COM3, ...)\n");
  for (const LineOption& line : kLineOptions) {
    const std::string option = std::string(line.option) + " " + line.placeholder;
    std::printf("  %-19s %s\n", option.c_str(), ChoiceWords(line, true).c_str());
  }
  std::printf(
      "  --time-type T       utc (default: the receiver's GPS-UTC offset is taken off) or gps\n"
      "  --latency MS        how many milliseconds after the moment it names the receiver sends a\n"
      "                      timing packet, -1000 to 1000 (default 0)\n"
      "  --pulse LINE        none (default), dcd or cts: the modem line the receiver's pulse per\n"
      "                      second is wired to; each time is then taken at the pulse's edge\n"
      "  --protocol P        daro (default: DARO timing packets) or nmea (NMEA 0183 sentences, RMC\n"
      "                      or ZDA, sent unasked; UTC only)\n");
}

bool ParsePulseLine(const char* word, PulseLine* line) {
  // The stored names in small letters, and only so.
  std::string name;
  for (const char* c = word; *c != '\0'; ++c) {
    if (*c < 'a' || *c > 'z') return false;
    name += static_cast<char>(*c - 'a' + 'A');
  }
  return PulseLineNamed(name, line);
}

PortChoice PortNamed(const char* name) {
  PortChoice port;
#ifdef _WIN32
  int number = 0;
  int used = 0;
  if (std::sscanf(name, "COM%d%n", &number, &used) == 1 && name[used] == '\0' && number > 0) {
    port.number = number;
    return port;
  }
#endif
  port.device = name;
  return port;
}

}  // namespace clockagent
