// Spans of time as the user writes them: the interval between updates, "dd hh:mm", and a
// receiver's latency in milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace clockagent {

// Reads a decimal number as "%d" does: white space, an optional sign, digits. Advances `text`
// past what it read. False, `text` unchanged, when no digit follows. A number of 10^9 or more
// reads as some value of at least 10^9 and below 10^10, so it never overflows.
bool ScanDecimal(const char*& text, std::int64_t* value);

// The interval of a "dd hh:mm" text in milliseconds: days, hours and minutes, exactly two decimal
// digits each, the space and the colon in their places and nothing else. Hours and minutes are not
// limited to 23 and 59 ("00 30:90" is 31 hours 30 minutes). -1 for any other text: a sign, a
// blank inside a field, a third digit.
std::int64_t IntervalMilliseconds(const char* text);

// A receiver's latency in whole milliseconds, from -1000 to 1000: an optional sign and digits,
// nothing else.
constexpr int kLongestLatencyMs = 1000;
bool ParseLatency(const char* text, int* ms);

// "%02u %02u:%02u" of the days (below 1000: more are counted modulo 1000), hours and minutes in
// `seconds`; leftover seconds are dropped.
constexpr std::size_t kIntervalTextSize = 16;
void FormatIntervalText(std::uint32_t seconds, char (&text)[kIntervalTextSize]);

}  // namespace clockagent
