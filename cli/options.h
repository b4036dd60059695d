// What the commands share in reading their options.
#pragma once

#include <string>

#include "receiver/line_settings.h"
#include "receiver/serial_link.h"
#include "update/cycle_front_end.h"

namespace clockagent {

// Prints "clockagent COMMAND: MESSAGE (see 'clockagent COMMAND --help')" on standard error and
// returns 2, the exit status of bad options.
int Usage(const char* command, const std::string& message);

// The value of the option at argv[i]: the next argument, or null when there is none, it is empty
// or it is itself an option ("--port --dry-run" gives --port no value).
const char* OptionValue(int argc, char** argv, int i);

// A whole decimal number from `low` to `high` and nothing else (strtol's leading blanks and sign
// aside). False, `out` unchanged, for any other text.
bool ParseInt(const char* text, long low, long high, int* out);

// A line-setting list as the console tool takes it: its option, and a word for each entry.
struct LineOption {
  const char* option;        // "--baud"
  const char* placeholder;   // what the help shows for the value: "N", "P"
  const char* const* words;  // one for each entry, in the list's order: "9600", "none"
  const LineList* list;
};

// The line-setting list an option such as --baud chooses from; null for any other option.
const LineOption* LineOptionNamed(const std::string& option);

// The index of the entry whose word is `word`, or -1.
int WordIndex(const LineOption& line, const char* word);

// "2400, 4800, 9600, 19200 or 38400": the words of a list; with `markDefault`, the entry a port
// gets when none is chosen says "(default)".
std::string ChoiceWords(const LineOption& line, bool markDefault = false);

// The options that name the receiver and how its time is read, as every command that talks to a
// receiver takes them: --port, the line settings, --time-type, --latency, --pulse and --protocol.
bool IsReceiverOption(const std::string& option);

// Puts the value of a receiver option into `choices`. Returns -1 when it was taken, or Usage's 2
// (the message printed) for a value the option does not take.
int ApplyReceiverOption(const char* command, const std::string& option, const char* value,
                        CycleChoices& choices);

// The receiver options that do not go together: returns -1 when they do, or Usage's 2.
int CheckReceiverChoices(const char* command, const CycleChoices& choices);

// "none", "dcd" or "cts" as the line it names.
bool ParsePulseLine(const char* word, PulseLine* line);

// The help lines of the receiver options.
void PrintReceiverOptionsHelp();

// "COM3" on Windows is port 3 of the device namespace, which also reaches COM10 and above; any
// other name is a device path.
PortChoice PortNamed(const char* name);

}  // namespace clockagent
