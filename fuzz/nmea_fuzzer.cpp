// Fuzzes the NMEA reader over arbitrary bytes: once whole and once in pieces whose sizes the input
// chooses. Both must report the same sentences, and every reported time must be in range.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "receiver/nmea_sentences.h"

namespace {

using namespace clockagent;

// Folds what a sentence reports into a running digest, so that two readings can be compared.
struct Digest {
  void Add(const NmeaSentence& s) {
    Check(s);
    std::uint8_t bytes[sizeof(NmeaTime) + 32] = {};
    std::size_t n = 0;
    std::memcpy(bytes + n, s.talker, sizeof s.talker);
    n += sizeof s.talker;
    std::memcpy(bytes + n, s.type, sizeof s.type);
    n += sizeof s.type;
    bytes[n++] = static_cast<std::uint8_t>(s.checksum);
    bytes[n++] = s.hasTime ? 1 : 0;
    bytes[n++] = static_cast<std::uint8_t>(s.status);
    bytes[n++] = static_cast<std::uint8_t>(s.quality);
    std::int64_t seconds = 0;
    if (s.hasTime && NmeaTimeToUnixSeconds(s.time, &seconds)) {
      std::memcpy(bytes + n, &seconds, sizeof seconds);
      n += sizeof seconds;
    }
    for (std::size_t i = 0; i < n; ++i) value = (value ^ bytes[i]) * 1099511628211ull;
    value = (value ^ s.begin) * 1099511628211ull;
    value = (value ^ s.end) * 1099511628211ull;
    ++count;
  }

  static void Check(const NmeaSentence& s) {
    if (s.end <= s.begin || s.end - s.begin > kNmeaMaxSentence || s.end - s.begin < 3) {
      __builtin_trap();
    }
    if (s.talker[2] != 0 || s.type[6] != 0) __builtin_trap();
    if (s.status != 0 && s.status != 'A' && s.status != 'V') __builtin_trap();
    if (s.quality < -1 || s.quality > 9) __builtin_trap();
    // Only a sentence whose checksum is right says anything.
    if (s.checksum != NmeaChecksum::Right && (s.hasTime || s.status != 0 || s.quality != -1)) {
      __builtin_trap();
    }
    if (!s.hasTime) return;
    const NmeaTime& t = s.time;
    if (t.hours > 23 || t.minutes > 59 || t.seconds > 60 || t.milliseconds > 999 ||
        t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) {
      __builtin_trap();
    }
    if (!(t.yearDigits == 2 && t.year <= 99) && !(t.yearDigits == 4 && t.year <= 9999)) {
      __builtin_trap();
    }
    std::int64_t seconds = 0;
    if (!NmeaTimeToUnixSeconds(t, &seconds)) __builtin_trap();
    // Year 0000 through 9999.
    if (seconds < -62167219200LL || seconds >= 253402300800LL + 1) __builtin_trap();
    const std::int64_t secondOfDay = ((seconds % 86400) + 86400) % 86400;
    if (t.seconds < 60 && secondOfDay != t.hours * 3600 + t.minutes * 60 + t.seconds) {
      __builtin_trap();
    }
  }

  std::uint64_t value = 14695981039346656037ull;
  int count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte seeds the piece sizes; the rest is the stream.
  std::uint32_t seed = data[0] * 2654435761u + 1;
  ++data;
  --size;

  static NmeaReader whole;
  static NmeaReader pieces;
  ResetNmeaReader(whole);
  ResetNmeaReader(pieces);
  Digest a;
  Digest b;
  FeedNmeaBytes(whole, data, size, [&](const NmeaSentence& s) { a.Add(s); });
  std::size_t at = 0;
  while (at < size) {
    seed = seed * 1664525u + 1013904223u;
    std::size_t piece = (seed >> 24) % 97;
    if (piece > size - at) piece = size - at;
    FeedNmeaBytes(pieces, data + at, piece, [&](const NmeaSentence& s) { b.Add(s); });
    at += piece;
  }
  if (a.count != b.count || a.value != b.value) __builtin_trap();
  if (whole.position != size || pieces.position != size) __builtin_trap();
  if (whole.bodyLength > kNmeaMaxBody) __builtin_trap();
  return 0;
}
