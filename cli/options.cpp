// Reading the commands' options.
#include "cli/options.h"

#include <cstdio>
#include <cstring>

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

const LineList* LineOption(const std::string& option) {
  for (const LineList& list : kLineLists) {
    if (option == list.option) return &list;
  }
  return nullptr;
}

std::string ChoiceWords(const LineList& list, bool markDefault) {
  const int byDefault = SerialLineSettings{}.*list.index;
  std::string words;
  for (int i = 0; i < list.count; ++i) {
    if (i > 0) words += i + 1 < list.count ? ", " : " or ";
    words += list.choices[i].word;
    if (markDefault && i == byDefault) words += " (default)";
  }
  return words;
}

}  // namespace clockagent
