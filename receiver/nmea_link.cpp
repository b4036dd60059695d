// The link's NMEA side: bursts of sentences, stamped and ended.
#include "receiver/nmea_link.h"

#include "receiver/daro_link.h"

namespace clockagent {
namespace {

bool SameSecond(const NmeaTime& a, const NmeaTime& b) {
  return a.seconds == b.seconds && a.minutes == b.minutes && a.hours == b.hours &&
         a.day == b.day && a.month == b.month && a.year == b.year;
}

// Ends the burst in progress: kept in `ended` when it named a time.
bool EndBurst(NmeaLinkState& nmea) {
  const bool named = nmea.burst.open && nmea.burst.hasTime;
  if (named) nmea.ended = nmea.burst;
  nmea.burst = NmeaBurst{};
  return named;
}

void BeginBurst(NmeaLinkState& nmea, const ClockReading& arrival, std::int64_t slackNs) {
  nmea.burst.open = true;
  nmea.burst.arrival = arrival;
  nmea.burst.slackNs = slackNs;
}

// What a sentence with a right checksum adds to its burst. A sentence naming another second than
// the burst's begins a burst of its own, at its `$`: true when that ended one naming a time.
bool TakeSentence(NmeaLinkState& nmea, NmeaSentence sentence) {
  if (sentence.checksum != NmeaChecksum::Right) return false;
  // A module that speaks several times a second names fractions too: only the burst of a whole
  // second is the one its pulse marks.
  if (sentence.hasTime && sentence.time.milliseconds != 0) sentence.hasTime = false;
  bool ended = false;
  if (sentence.hasTime && nmea.burst.hasTime && !SameSecond(nmea.burst.time, sentence.time)) {
    const std::int64_t lastNs = nmea.burst.lastNs;
    ended = EndBurst(nmea);
    BeginBurst(nmea, nmea.lineArrival, nmea.lineSlackNs);
    nmea.burst.lastNs = lastNs;
  }
  NmeaBurst& burst = nmea.burst;
  if (sentence.quality >= 0) burst.quality = sentence.quality;
  if (sentence.status != 0) burst.status = sentence.status;
  if (sentence.hasTime && !burst.hasTime) {
    burst.hasTime = true;
    burst.time = sentence.time;
  }
  return ended;
}

}  // namespace

int ParseNmeaByte(ReceiverLink& link) {
  const std::uint8_t b = link.rxBuffer[link.rxPos];
  ++link.rxPos;
  --link.rxRemaining;
  NmeaLinkState& nmea = link.nmea;
  // The block was read once its last byte had arrived; each byte before that began one character
  // time earlier than the one after it.
  const std::int64_t before = (static_cast<std::int64_t>(link.rxRemaining) + 1) *
                              link.characterTimeNs;
  int ended = 0;
  if (b == '$') {
    nmea.lineArrival = {link.blockArrival.systemNs - before, link.blockArrival.monotonicNs - before};
    nmea.lineSlackNs = link.blockSlackNs;
    if (nmea.burst.open && nmea.lineArrival.monotonicNs - nmea.burst.lastNs >= kNmeaBurstGapNs) {
      ended = EndBurst(nmea);
    }
    if (!nmea.burst.open) BeginBurst(nmea, nmea.lineArrival, nmea.lineSlackNs);
  }
  if (FeedNmeaByte(nmea.reader, b) > 0 && nmea.burst.open &&
      TakeSentence(nmea, nmea.reader.sentence)) {
    ended = 1;
  }
  if (nmea.burst.open) nmea.burst.lastNs = link.blockArrival.monotonicNs - before + link.characterTimeNs;
  return ended;
}

bool EndQuietBurst(ReceiverLink& link, const ClockReading& now) {
  NmeaLinkState& nmea = link.nmea;
  if (!nmea.burst.open || now.monotonicNs - nmea.burst.lastNs < kNmeaBurstGapNs) return false;
  return EndBurst(nmea);
}

bool NmeaUnixSeconds(const NmeaBurst& burst, std::int64_t* seconds) {
  return burst.hasTime && NmeaTimeToUnixSeconds(burst.time, seconds);
}

}  // namespace clockagent
