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

// What a sentence with a right checksum adds to its burst.
void TakeSentence(NmeaBurst& burst, const NmeaSentence& sentence) {
  if (sentence.checksum != NmeaChecksum::Right) return;
  if (sentence.quality >= 0) burst.quality = sentence.quality;
  if (!sentence.hasTime) return;
  if (!burst.hasTime) {
    burst.hasTime = true;
    burst.time = sentence.time;
  } else if (!SameSecond(burst.time, sentence.time)) {
    burst.hasTime = false;  // two seconds in one burst: it names none
    burst.status = 'V';
    return;
  }
  if (sentence.status != 0 && burst.status != 'V') burst.status = sentence.status;
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
    const std::int64_t beganNs = link.blockArrival.monotonicNs - before;
    if (nmea.burst.open && beganNs - nmea.burst.lastNs >= kNmeaBurstGapNs) ended = EndBurst(nmea);
    if (!nmea.burst.open) {
      nmea.burst.open = true;
      nmea.burst.arrival.systemNs = link.blockArrival.systemNs - before;
      nmea.burst.arrival.monotonicNs = beganNs;
      nmea.burst.slackNs = link.blockSlackNs;
    }
  }
  if (FeedNmeaByte(nmea.reader, b) > 0 && nmea.burst.open) {
    TakeSentence(nmea.burst, nmea.reader.sentence);
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
