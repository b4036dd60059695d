// What the commands share in reading their options.
#pragma once

#include <string>

#include "receiver/line_settings.h"

namespace clockagent {

// Prints "clockagent COMMAND: MESSAGE (see 'clockagent COMMAND --help')" on standard error and
// returns 2, the exit status of bad options.
int Usage(const char* command, const std::string& message);

// The value of the option at argv[i]: the next argument, or null when there is none, it is empty
// or it is itself an option ("--port --dry-run" gives --port no value).
const char* OptionValue(int argc, char** argv, int i);

// The line-setting list an option such as --baud chooses from; null for any other option.
const LineList* LineOption(const std::string& option);

// "2400, 4800, 9600, 19200 or 38400": the console words of a list; with `markDefault`, the entry
// a port gets when none is chosen says "(default)".
std::string ChoiceWords(const LineList& list, bool markDefault = false);

}  // namespace clockagent
