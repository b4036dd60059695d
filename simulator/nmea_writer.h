// The NMEA 0183 sentences the simulated receiver sends each second: RMC, GGA and ZDA, naming a
// whole UTC second, written into a caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace clockagent {

enum class NmeaSentenceKind { Rmc, Gga, Zda };

// What an NMEA receiver says and how: its sentences in order, its talker, its fix and faults.
struct NmeaTalk {
  static constexpr int kMaxSentences = 3;
  NmeaSentenceKind sentences[kMaxSentences] = {NmeaSentenceKind::Rmc, NmeaSentenceKind::Gga};
  int count = 2;
  char talker[3] = "GP";
  bool validFix = true;      // false: RMC status V, GGA quality 0
  bool badChecksum = false;  // every checksum off
};

// The longest sentence, from '$' through CR LF.
constexpr std::size_t kNmeaSentenceMax = 82;

// Writes `sentence` naming `utcSecond` (seconds since 1970) into `out`, which holds at least
// kNmeaSentenceMax characters; returns its length.
std::size_t WriteNmeaSentence(NmeaSentenceKind sentence, const NmeaTalk& talk, std::int64_t utcSecond,
                              char* out);

// The sentence named `name` ("RMC", "GGA", "ZDA"); false for any other.
bool NmeaSentenceNamed(const char* name, std::size_t length, NmeaSentenceKind* sentence);

}  // namespace clockagent
