// NMEA 0183 sentences: a reader fed the receiver's bytes as they arrive, which cuts out each
// complete `$...*hh` CR LF line and parses the few sentences that carry the time or the fix.
#pragma once

#include <cstddef>
#include <cstdint>

namespace clockagent {

// The longest sentence, from `$` through CR LF.
constexpr std::size_t kNmeaMaxSentence = 82;
// The characters between `$` and CR that a sentence of that length holds.
constexpr std::size_t kNmeaMaxBody = kNmeaMaxSentence - 3;

enum class NmeaChecksum : std::uint8_t {
  None,   // no `*hh`: the sentence is not used
  Right,  // present and it matches
  Wrong,  // present and it does not match, or not two hex digits then the line's end
};

// The time of day and the date as the sentence gives them, no rollover applied.
struct NmeaTime {
  std::uint8_t hours = 0;          // 0..23
  std::uint8_t minutes = 0;        // 0..59
  std::uint8_t seconds = 0;        // 0..60, 60 only for a leap second
  std::uint16_t milliseconds = 0;  // 0..999, the fraction's first three digits
  std::uint8_t day = 0;            // 1..31, and within the month
  std::uint8_t month = 0;          // 1..12
  std::uint16_t year = 0;          // RMC: 0..99 as sent; ZDA: the four digits
  std::uint8_t yearDigits = 0;     // 2 (RMC) or 4 (ZDA)
};

// One complete line, as parsed. Status, quality and time are filled only when the checksum is
// right and the fields are well formed; otherwise they keep the values that say "none".
struct NmeaSentence {
  char talker[3] = {};  // the two characters after `$` ("GP", "GN"), NUL-terminated
  char type[7] = {};    // the rest of the address field ("RMC", "ZDA"), cut at six characters
  NmeaChecksum checksum = NmeaChecksum::None;
  bool hasTime = false;    // RMC and ZDA: `time` holds a valid time of day and date
  NmeaTime time;
  char status = 0;         // RMC: 'A' (valid fix) or 'V' (none); 0 when not given or malformed
  std::int8_t quality = -1;  // GGA: the fix quality 0..9; -1 when not given or malformed
  // Where the line lay in the stream, counted in bytes fed since the reader was made or reset:
  // its `$`, and one past its LF.
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// The reader's state. Fixed buffers only: nothing is allocated per byte or sentence.
struct NmeaReader {
  char body[kNmeaMaxBody] = {};  // the characters after `$` of the line being read
  std::uint8_t bodyLength = 0;
  std::uint8_t state = 0;        // one of the states in nmea_sentences.cpp
  std::uint64_t position = 0;    // bytes fed so far; the next byte's place in the stream
  std::uint64_t lineBegin = 0;   // where the line being read began
  NmeaSentence sentence;         // the last completed line
};

// Forgets any partial line and starts the byte count again at zero.
void ResetNmeaReader(NmeaReader& reader);

// Reads one byte. Returns 1 when the byte (an LF) completed a line: reader.sentence then
// describes it until the next byte is read; 0 otherwise. A `$` always starts a new line, dropping
// a partial one; a byte that is not printable ASCII, a CR not followed by LF, or a line longer than
// kNmeaMaxSentence drops the line (an overlong one up to its LF or the next `$`).
int FeedNmeaByte(NmeaReader& reader, std::uint8_t byte);

// Reads `length` bytes, calling onSentence(reader.sentence) for each line they complete.
template <class OnSentence>
void FeedNmeaBytes(NmeaReader& reader, const std::uint8_t* bytes, std::size_t length,
                   OnSentence&& onSentence) {
  for (std::size_t i = 0; i < length; ++i) {
    if (FeedNmeaByte(reader, bytes[i]) > 0) {
      onSentence(static_cast<const NmeaSentence&>(reader.sentence));
    }
  }
}

// The full year: RMC's two digits as 20yy (for display and arithmetic only; the rollover rule is
// the caller's), ZDA's as sent.
int NmeaFullYear(const NmeaTime& time);

// Seconds since 1970-01-01 00:00:00 UTC of the time's whole second (a leap second 60 counts as
// the next minute's 0, as Unix time does). False when the time's fields are out of range.
bool NmeaTimeToUnixSeconds(const NmeaTime& time, std::int64_t* seconds);

// Checks the fields of a time as the reader fills them; true when each is in range.
bool NmeaTimeIsValid(const NmeaTime& time);

}  // namespace clockagent
