#include "receiver/nmea_sentences.h"

namespace clockagent {
namespace {

enum State : std::uint8_t {
  kHunting = 0,  // between lines: waiting for `$`
  kInLine,       // after `$`, collecting the body
  kAfterCr,      // the body ended with CR; LF must follow
  kOverlong,     // the line grew past the limit; skipped up to its LF or the next `$`
};

// A sentence's fields, split at the commas, pointing into the reader's body.
struct Fields {
  static constexpr int kMax = 24;
  const char* text[kMax] = {};
  std::uint8_t length[kMax] = {};
  int count = 0;  // may exceed kMax: only the first kMax are kept
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Exactly `count` digits, nothing else.
bool ReadDigits(const char* text, int count, int* value) {
  int v = 0;
  for (int i = 0; i < count; ++i) {
    if (!IsDigit(text[i])) return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

bool ReadNumber(const char* text, std::uint8_t length, int digits, int* value) {
  return length == digits && ReadDigits(text, digits, value);
}

constexpr bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static const int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kLengths[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (March-based eras of 400 years).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// hhmmss or hhmmss.f...: the fraction needs at least one digit, and only its first three count.
bool ReadTimeOfDay(const char* text, std::uint8_t length, NmeaTime* time) {
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  if (length < 6 || !ReadDigits(text, 2, &hours) || !ReadDigits(text + 2, 2, &minutes) ||
      !ReadDigits(text + 4, 2, &seconds)) {
    return false;
  }
  int milliseconds = 0;
  if (length > 6) {
    if (text[6] != '.' || length == 7) return false;
    int scale = 100;
    for (int i = 7; i < length; ++i) {
      if (!IsDigit(text[i])) return false;
      milliseconds += (text[i] - '0') * scale;
      scale /= 10;
    }
  }
  if (hours > 23 || minutes > 59 || seconds > 60) return false;
  time->hours = static_cast<std::uint8_t>(hours);
  time->minutes = static_cast<std::uint8_t>(minutes);
  time->seconds = static_cast<std::uint8_t>(seconds);
  time->milliseconds = static_cast<std::uint16_t>(milliseconds);
  return true;
}

// Empty, or a sign and digits: ZDA's local zone, which is read only to be checked.
bool IsSignedNumberOrEmpty(const char* text, std::uint8_t length) {
  int i = length > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == length && length > 0) return false;
  for (; i < length; ++i) {
    if (!IsDigit(text[i])) return false;
  }
  return true;
}

bool TypeIs(const NmeaSentence& sentence, const char* type) {
  int i = 0;
  for (; type[i] != 0; ++i) {
    if (sentence.type[i] != type[i]) return false;
  }
  return sentence.type[i] == 0;
}

// The sentence's time: its time of day with the date it gives, when that is a date.
void TakeTime(NmeaTime time, int day, int month, int year, int yearDigits, NmeaSentence* sentence) {
  time.day = static_cast<std::uint8_t>(day);
  time.month = static_cast<std::uint8_t>(month);
  time.year = static_cast<std::uint16_t>(year);
  time.yearDigits = static_cast<std::uint8_t>(yearDigits);
  if (!NmeaTimeIsValid(time)) return;
  sentence->time = time;
  sentence->hasTime = true;
}

// $--RMC,hhmmss.ss,A,llll.ll,a,yyyyy.yy,a,x.x,x.x,ddmmyy,x.x,a[,m[,s]]: 11 data fields, 12 from
// NMEA 2.3 (mode), 13 from 4.1 (navigational status).
void ParseRmc(const Fields& f, NmeaSentence* sentence) {
  if (f.count < 12 || f.count > 14) return;
  if (f.length[2] == 1 && (f.text[2][0] == 'A' || f.text[2][0] == 'V')) {
    sentence->status = f.text[2][0];
  }
  NmeaTime time;
  int day = 0;
  int month = 0;
  int year = 0;
  if (sentence->status == 0 || !ReadTimeOfDay(f.text[1], f.length[1], &time) ||
      f.length[9] != 6 || !ReadDigits(f.text[9], 2, &day) || !ReadDigits(f.text[9] + 2, 2, &month) ||
      !ReadDigits(f.text[9] + 4, 2, &year)) {
    return;
  }
  TakeTime(time, day, month, year, 2, sentence);
}

// $--ZDA,hhmmss.ss,dd,mm,yyyy,zh,zm
void ParseZda(const Fields& f, NmeaSentence* sentence) {
  if (f.count != 7) return;
  NmeaTime time;
  int day = 0;
  int month = 0;
  int year = 0;
  if (!ReadTimeOfDay(f.text[1], f.length[1], &time) || !ReadNumber(f.text[2], f.length[2], 2, &day) ||
      !ReadNumber(f.text[3], f.length[3], 2, &month) ||
      !ReadNumber(f.text[4], f.length[4], 4, &year) ||
      !IsSignedNumberOrEmpty(f.text[5], f.length[5]) ||
      !IsSignedNumberOrEmpty(f.text[6], f.length[6])) {
    return;
  }
  TakeTime(time, day, month, year, 4, sentence);
}

// $--GGA,hhmmss.ss,llll.ll,a,yyyyy.yy,a,q,nn,x.x,x.x,M,x.x,M,x.x,xxxx: only the quality is read.
void ParseGga(const Fields& f, NmeaSentence* sentence) {
  if (f.count != 15) return;
  int quality = 0;
  if (ReadNumber(f.text[6], f.length[6], 1, &quality)) {
    sentence->quality = static_cast<std::int8_t>(quality);
  }
}

// Parses the completed body (the characters between `$` and CR) into reader.sentence.
void ParseLine(NmeaReader& reader) {
  NmeaSentence& sentence = reader.sentence;
  sentence = NmeaSentence();
  sentence.begin = reader.lineBegin;
  sentence.end = reader.position;
  const char* body = reader.body;
  const int length = reader.bodyLength;

  // The checksum covers everything before the first `*`, which must be followed by two hex
  // digits and nothing else.
  int dataLength = length;
  std::uint8_t sum = 0;
  for (int i = 0; i < length; ++i) {
    if (body[i] == '*') {
      dataLength = i;
      break;
    }
    sum = static_cast<std::uint8_t>(sum ^ static_cast<std::uint8_t>(body[i]));
  }
  if (dataLength < length) {
    const int high = dataLength + 3 == length ? HexValue(body[dataLength + 1]) : -1;
    const int low = dataLength + 3 == length ? HexValue(body[dataLength + 2]) : -1;
    sentence.checksum = high >= 0 && low >= 0 && (high << 4 | low) == sum ? NmeaChecksum::Right
                                                                          : NmeaChecksum::Wrong;
  }

  Fields fields;
  int fieldStart = 0;
  for (int i = 0; i <= dataLength; ++i) {
    if (i < dataLength && body[i] != ',') continue;
    if (fields.count < Fields::kMax) {
      fields.text[fields.count] = body + fieldStart;
      fields.length[fields.count] = static_cast<std::uint8_t>(i - fieldStart);
    }
    ++fields.count;
    fieldStart = i + 1;
  }

  // The address: two characters of talker, the rest the type.
  const int addressLength = fields.length[0];
  for (int i = 0; i < addressLength && i < 2; ++i) sentence.talker[i] = body[i];
  for (int i = 2; i < addressLength && i < 8; ++i) sentence.type[i - 2] = body[i];

  if (sentence.checksum != NmeaChecksum::Right || addressLength != 5) return;
  if (TypeIs(sentence, "RMC")) {
    ParseRmc(fields, &sentence);
  } else if (TypeIs(sentence, "ZDA")) {
    ParseZda(fields, &sentence);
  } else if (TypeIs(sentence, "GGA")) {
    ParseGga(fields, &sentence);
  }
}

void StartLine(NmeaReader& reader) {
  reader.state = kInLine;
  reader.bodyLength = 0;
  reader.lineBegin = reader.position;
}

}  // namespace

void ResetNmeaReader(NmeaReader& reader) {
  reader.bodyLength = 0;
  reader.state = kHunting;
  reader.position = 0;
  reader.lineBegin = 0;
  reader.sentence = NmeaSentence();
}

int FeedNmeaByte(NmeaReader& reader, std::uint8_t byte) {
  if (byte == '$') {
    StartLine(reader);
  } else {
    switch (reader.state) {
      case kInLine:
        if (byte == '\r') {
          reader.state = kAfterCr;
        } else if (byte < 0x20 || byte > 0x7E) {
          reader.state = kHunting;  // binary: whatever this was, it was not a sentence
        } else if (reader.bodyLength == kNmeaMaxBody) {
          reader.state = kOverlong;
        } else {
          reader.body[reader.bodyLength++] = static_cast<char>(byte);
        }
        break;
      case kAfterCr:
        reader.state = kHunting;
        if (byte == '\n') {
          ++reader.position;  // the sentence ends one past its LF
          ParseLine(reader);
          return 1;
        }
        break;
      case kOverlong:
        if (byte == '\n') reader.state = kHunting;
        break;
      default:
        break;
    }
  }
  ++reader.position;
  return 0;
}

int NmeaFullYear(const NmeaTime& time) {
  return time.yearDigits == 2 ? 2000 + time.year : time.year;
}

bool NmeaTimeIsValid(const NmeaTime& time) {
  if (time.yearDigits != 2 && time.yearDigits != 4) return false;
  if (time.yearDigits == 2 && time.year > 99) return false;
  if (time.yearDigits == 4 && time.year > 9999) return false;
  if (time.hours > 23 || time.minutes > 59 || time.seconds > 60 || time.milliseconds > 999) {
    return false;
  }
  if (time.month < 1 || time.month > 12) return false;
  return time.day >= 1 && time.day <= DaysInMonth(NmeaFullYear(time), time.month);
}

bool NmeaTimeToUnixSeconds(const NmeaTime& time, std::int64_t* seconds) {
  if (!NmeaTimeIsValid(time)) return false;
  const std::int64_t days = DaysFromCivil(NmeaFullYear(time), time.month, time.day);
  *seconds = days * 86400 + time.hours * 3600 + time.minutes * 60 + time.seconds;
  return true;
}

}  // namespace clockagent
