// NMEA sentences, written with snprintf into a fixed buffer: nothing allocated per second.
#include "simulator/nmea_writer.h"

#include <cstdio>
#include <cstring>

namespace clockagent {
namespace {

struct Civil {
  std::int64_t year;
  int month, day, hour, minute, second;
};

// The proleptic Gregorian calendar for any day, before 1970 too (a rolled-over date may be).
Civil CivilOf(std::int64_t unixSecond) {
  std::int64_t days = unixSecond / 86400;
  std::int64_t secs = unixSecond % 86400;
  if (secs < 0) {
    secs += 86400;
    days -= 1;
  }
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  Civil c{};
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
  c.hour = static_cast<int>(secs / 3600);
  c.minute = static_cast<int>(secs / 60 % 60);
  c.second = static_cast<int>(secs % 60);
  return c;
}

// A fixed spot (degrees and minutes) for the fix, standing still.
constexpr const char* kPosition = "4807.0380,N,01131.0000,E";

}  // namespace

std::size_t WriteNmeaSentence(NmeaSentenceKind sentence, const NmeaTalk& talk, std::int64_t utcSecond,
                              char* out) {
  const Civil c = CivilOf(utcSecond);
  const bool valid = talk.validFix;
  // Room for the checksum and CR LF after the body.
  constexpr std::size_t kBody = kNmeaSentenceMax - 5;
  int n = 0;
  switch (sentence) {
    case NmeaSentenceKind::Rmc:
      n = std::snprintf(out, kBody, "$%sRMC,%02d%02d%02d.00,%c,%s,0.02,0.00,%02d%02d%02d,,,%c",
                        talk.talker, c.hour, c.minute, c.second, valid ? 'A' : 'V', kPosition,
                        c.day, c.month, static_cast<int>(((c.year % 100) + 100) % 100),
                        valid ? 'A' : 'N');
      break;
    case NmeaSentenceKind::Gga:
      n = std::snprintf(out, kBody, "$%sGGA,%02d%02d%02d.00,%s,%d,%02d,0.9,545.4,M,46.9,M,,",
                        talk.talker, c.hour, c.minute, c.second, kPosition, valid ? 1 : 0,
                        valid ? 8 : 0);
      break;
    case NmeaSentenceKind::Zda:
      n = std::snprintf(out, kBody, "$%sZDA,%02d%02d%02d.00,%02d,%02d,%04lld,00,00", talk.talker,
                        c.hour, c.minute, c.second, c.day, c.month,
                        static_cast<long long>(c.year));
      break;
  }
  if (n < 0) n = 0;
  if (static_cast<std::size_t>(n) >= kBody) n = static_cast<int>(kBody - 1);
  unsigned sum = 0;
  for (int i = 1; i < n; ++i) sum ^= static_cast<unsigned char>(out[i]);
  if (talk.badChecksum) sum ^= 0xFF;
  n += std::snprintf(out + n, 6, "*%02X\r\n", sum & 0xFF);
  return static_cast<std::size_t>(n);
}

bool NmeaSentenceNamed(const char* name, std::size_t length, NmeaSentenceKind* sentence) {
  static const struct {
    const char* name;
    NmeaSentenceKind sentence;
  } kNames[] = {{"RMC", NmeaSentenceKind::Rmc}, {"GGA", NmeaSentenceKind::Gga}, {"ZDA", NmeaSentenceKind::Zda}};
  for (const auto& each : kNames) {
    if (length == 3 && std::strncmp(name, each.name, 3) == 0) {
      *sentence = each.sentence;
      return true;
    }
  }
  return false;
}

}  // namespace clockagent
