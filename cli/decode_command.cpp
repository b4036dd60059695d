// clockagent decode: a recorded receiver byte stream, one line per completed packet.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "receiver/daro_link.h"
#include "receiver/nmea_sentences.h"
#include "receiver/timing_packets.h"
#include "update/clock_setting.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace clockagent {
namespace {

const char kDecodeHelp[] =
    "Usage: clockagent decode FILE\n"
    "       clockagent decode --protocol daro|nmea FILE\n"
    "       clockagent decode [--protocol daro|nmea] -        (read standard input)\n"
    "\n"
    "--protocol daro (the default) runs a recorded byte stream from a receiver through the DARO\n"
    "packet parser, in blocks of 8192 bytes as the serial link reads them, and prints one line per\n"
    "completed packet:\n"
    "\n"
    "  0x41 len=10 week=W tow=T offset=O gps=YYYY-MM-DDTHH:MM:SSZ utc=YYYY-MM-DDTHH:MM:SSZ\n"
    "  0x8F-AC len=68\n"
    "\n"
    "The id is in hexadecimal, for 0x8F followed by the subcode (the first data byte); len is the\n"
    "data length after de-stuffing. Timing packets 0x41 (10 data bytes) and 0x8F-AB (17) also show\n"
    "their week, time of week and GPS-UTC offset, and the clock time they would set when applied\n"
    "as GPS time and as UTC, truncated to whole seconds; 'bad' marks a time the clock would refuse.\n"
    "0x8F-AB then shows its timing flags in hexadecimal and by name, flags=0x00 when none is set:\n"
    "utc (its calendar is UTC), utc-pps (its pulse is on UTC seconds), time-not-set, no-utc-info\n"
    "(the GPS-UTC offset is not yet known) and user-time (the time was entered by hand), the first\n"
    "two harmless, the others refused; other bits show as bit5 to bit7.\n"
    "\n"
    "--protocol nmea reads NMEA 0183 sentences instead, skipping binary data, partial lines and\n"
    "lines longer than 82 characters, and prints one line per complete sentence:\n"
    "\n"
    "  GPRMC time=2026-12-10T06:35:34 status=A checksum=ok\n"
    "  GNZDA time=2026-12-10T06:35:34 checksum=ok\n"
    "  GPGGA quality=1 checksum=ok\n"
    "  GPGSV checksum=ok\n"
    "\n"
    "The talker and type come first. checksum is ok, bad (wrong, or not two hex digits) or none;\n"
    "only a sentence whose checksum is ok shows its fields. RMC and ZDA show their UTC time and\n"
    "date as the sentence gives them, to the whole second, RMC's two-digit year as 20yy and no\n"
    "week rollover corrected; a malformed or out-of-range time shows no time. RMC shows its status\n"
    "(A: valid fix, V: none), GGA its fix quality (0: no fix).\n"
    "\n"
    "Exit status: 0 when the whole input was read, 1 when the output could not be written, 2 when\n"
    "the input could not be read or the arguments are wrong.\n";

void PrintClockTime(double receiverTime, std::FILE* out) {
  SystemTime time;
  if (!ReceiverTimeToSystemTime(receiverTime, &time)) {
    std::fputs("bad", out);
    return;
  }
  char text[kIsoTimeTextSize];
  FormatIsoTime(time, text);
  std::fputs(text, out);
}

void PrintTimes(const TimingFields& fields, std::FILE* out) {
  std::fputs(" gps=", out);
  PrintClockTime(ReceiverTime(fields, TimeType::Gps), out);
  std::fputs(" utc=", out);
  PrintClockTime(ReceiverTime(fields, TimeType::Utc), out);
}

// " flags=0x0C(time-not-set,no-utc-info)"
void PrintFlags(std::uint8_t flags, std::FILE* out) {
  static const char* const kNames[8] = {"utc",       "utc-pps", "time-not-set", "no-utc-info",
                                        "user-time", "bit5",    "bit6",         "bit7"};
  std::fprintf(out, " flags=0x%02X", static_cast<unsigned>(flags));
  const char* separator = "(";
  for (int bit = 0; bit < 8; ++bit) {
    if ((flags >> bit & 1) == 0) continue;
    std::fprintf(out, "%s%s", separator, kNames[bit]);
    separator = ",";
  }
  if (flags != 0) std::fputc(')', out);
}

void PrintPacket(const ReceiverLink& link, std::FILE* out) {
  const bool hasSubcode = link.packetId == kPacket8FId && link.packetLength > 0;
  if (hasSubcode) {
    std::fprintf(out, "0x%02X-%02X len=%u", static_cast<unsigned>(link.packetId),
                 static_cast<unsigned>(link.packetBuffer[0]), link.packetLength);
  } else {
    std::fprintf(out, "0x%02X len=%u", static_cast<unsigned>(link.packetId), link.packetLength);
  }

  TimingFields fields;
  if (link.packetId == kPacket41Id && ReadPacket41(link, &fields)) {
    std::fprintf(out, " week=%u tow=%.9g offset=%.9g", static_cast<unsigned>(fields.week),
                 static_cast<double>(fields.timeOfWeek), static_cast<double>(fields.utcOffset));
    PrintTimes(fields, out);
  } else if (hasSubcode && link.packetBuffer[0] == kSubcodeAB && ReadPacket8FAB(link, &fields)) {
    // The integers as the packet carries them, before they become single precision.
    const std::uint8_t* data = link.packetBuffer;
    std::fprintf(out, " week=%u tow=%u offset=%d", static_cast<unsigned>(GetU16(data + 5)),
                 static_cast<unsigned>(GetU32(data + 1)), static_cast<int>(GetS16(data + 7)));
    PrintTimes(fields, out);
    PrintFlags(fields.flags, out);
  }
  std::fputc('\n', out);
}

// "GPRMC time=2026-12-10T06:35:34 status=A checksum=ok"
void PrintSentence(const NmeaSentence& sentence, std::FILE* out) {
  const bool noAddress = sentence.talker[0] == 0;
  std::fprintf(out, "%s%s", noAddress ? "?" : sentence.talker, sentence.type);
  if (sentence.hasTime) {
    const NmeaTime& t = sentence.time;
    std::fprintf(out, " time=%04d-%02u-%02uT%02u:%02u:%02u", NmeaFullYear(t),
                 static_cast<unsigned>(t.month), static_cast<unsigned>(t.day),
                 static_cast<unsigned>(t.hours), static_cast<unsigned>(t.minutes),
                 static_cast<unsigned>(t.seconds));
  }
  if (sentence.status != 0) std::fprintf(out, " status=%c", sentence.status);
  if (sentence.quality >= 0) std::fprintf(out, " quality=%d", sentence.quality);
  const char* verdict = sentence.checksum == NmeaChecksum::Right   ? "ok"
                        : sentence.checksum == NmeaChecksum::Wrong ? "bad"
                                                                   : "none";
  std::fprintf(out, " checksum=%s\n", verdict);
}

ReceiverLink link;  // 8 KiB of buffers: static, not on the stack
NmeaReader reader;

}  // namespace

int RunDecode(int argc, char** argv) {
  if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
    std::fputs(kDecodeHelp, stdout);
    return 0;
  }
  bool nmea = false;
  const char* path = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--protocol") == 0) {
      if (i + 1 == argc) {
        std::fputs("clockagent decode: --protocol needs daro or nmea "
                   "(see 'clockagent decode --help')\n",
                   stderr);
        return 2;
      }
      const char* name = argv[++i];
      if (std::strcmp(name, "daro") != 0 && std::strcmp(name, "nmea") != 0) {
        std::fprintf(stderr,
                     "clockagent decode: unknown protocol: %s, expected daro or nmea "
                     "(see 'clockagent decode --help')\n",
                     name);
        return 2;
      }
      nmea = std::strcmp(name, "nmea") == 0;
    } else if (std::strncmp(argv[i], "--", 2) == 0) {
      std::fprintf(stderr,
                   "clockagent decode: unknown option: %s (see 'clockagent decode --help')\n",
                   argv[i]);
      return 2;
    } else if (path != nullptr) {
      path = nullptr;
      break;
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) {
    std::fputs("clockagent decode: expects one FILE, or - for standard input "
               "(see 'clockagent decode --help')\n",
               stderr);
    return 2;
  }

  const bool fromStdin = std::strcmp(path, "-") == 0;
  std::FILE* in = stdin;
  if (fromStdin) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
  } else {
    in = std::fopen(path, "rb");
    if (in == nullptr) {
      std::fprintf(stderr, "clockagent decode: cannot open %s: %s\n", path, std::strerror(errno));
      return 2;
    }
  }

  std::size_t got;
  while ((got = std::fread(link.rxBuffer, 1, kRxBlockSize, in)) > 0) {
    if (nmea) {
      FeedNmeaBytes(reader, link.rxBuffer, got,
                    [](const NmeaSentence& sentence) { PrintSentence(sentence, stdout); });
      continue;
    }
    link.rxPos = 0;
    link.rxRemaining = static_cast<std::uint32_t>(got);
    RunReceiveLoop(link, [](ReceiverLink& completed) { PrintPacket(completed, stdout); });
  }
  const bool readFailed = std::ferror(in) != 0;
  const int readErrno = errno;
  if (!fromStdin) std::fclose(in);
  if (readFailed) {
    std::fprintf(stderr, "clockagent decode: cannot read %s: %s\n",
                 fromStdin ? "standard input" : path, std::strerror(readErrno));
    return 2;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("clockagent decode: cannot write the output\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace clockagent
