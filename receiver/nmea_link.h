// The link's NMEA side: an NMEA receiver speaks a burst of sentences each second, naming the UTC
// second whose pulse came just before. The burst is stamped with the moment its first byte began
// to arrive, and reported once it has ended.
#pragma once

#include <cstdint>

#include "receiver/link_clock.h"
#include "receiver/nmea_sentences.h"

namespace clockagent {

struct ReceiverLink;

// A line quiet this long ends a burst: the sentences of one burst follow each other at the line's
// rate, and bursts come a second apart.
constexpr std::int64_t kNmeaBurstGapNs = 50000000;

// One burst: when it began, and what its sentences with right checksums said.
struct NmeaBurst {
  bool open = false;           // it has begun and not been reported
  ClockReading arrival;        // when its first byte began to arrive
  std::int64_t slackNs = 0;    // ... and the slack of that byte's block
  std::int64_t lastNs = 0;     // when its last byte ended, on the monotonic clock
  bool hasTime = false;        // the first RMC or ZDA's time, and later ones naming the same
  NmeaTime time;
  char status = 0;             // RMC's A or V; 0 when none came
  std::int8_t quality = -1;    // GGA's; -1 when none came
};

// The NMEA state of a link: the sentence reader, the burst being read, and the last burst ended.
struct NmeaLinkState {
  NmeaReader reader;
  ClockReading lineArrival;  // when the `$` of the line being read began to arrive
  std::int64_t lineSlackNs = 0;
  NmeaBurst burst;
  NmeaBurst ended;  // valid while a handler reads it
};

// Reads the byte at rxBuffer[rxPos] and advances, as ParseByte does for DARO. Returns 1 when the
// byte ended a burst that named a time: a `$` after a quiet gap, or the end of a sentence naming
// another second (a receiver that leaves no gap between its bursts); `ended` then describes it
// until the next byte is read.
int ParseNmeaByte(ReceiverLink& link);

// A link that has been quiet since a burst's last byte for kNmeaBurstGapNs at `now` ends it:
// true, with `ended` describing it, when it named a time.
bool EndQuietBurst(ReceiverLink& link, const ClockReading& now);

// The seconds since 1970 a burst names, its two-digit year taken as 20yy.
bool NmeaUnixSeconds(const NmeaBurst& burst, std::int64_t* seconds);

}  // namespace clockagent
