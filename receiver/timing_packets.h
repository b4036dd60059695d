// The time request, the two timing packets 0x41 and 0x8F-AB as read and written, and the receiver
// time they yield.
#pragma once

#include <array>
#include <cstdint>

#include "receiver/daro_link.h"

namespace clockagent {

// Whether the receiver's time is applied as UTC (its GPS-UTC offset subtracted) or as GPS time.
enum class TimeType : std::int32_t { Utc = 0, Gps = 1 };

constexpr std::uint8_t kTimeRequestId = 0x21;
constexpr std::uint8_t kPacket41Id = 0x41;
constexpr std::uint8_t kPacket8FId = 0x8F;
constexpr std::uint8_t kSubcodeAB = 0xAB;
constexpr std::uint32_t kPacket41Length = 10;
constexpr std::uint32_t kPacket8FABLength = 17;  // subcode included
constexpr double kSecondsPerWeek = 604800.0;

// Big-endian field readers.
std::uint16_t GetU16(const std::uint8_t* bytes);
std::int16_t GetS16(const std::uint8_t* bytes);
std::uint32_t GetU32(const std::uint8_t* bytes);
float GetSingle(const std::uint8_t* bytes);

// The timing flags of 0x8F-AB (its data byte 9); 0x41 carries none.
constexpr std::uint8_t kUtcCalendarFlag = 0x01;  // its calendar fields are UTC, not GPS
constexpr std::uint8_t kUtcPulseFlag = 0x02;     // its pulse is on UTC seconds, not GPS
constexpr std::uint8_t kTimeNotSetFlag = 0x04;   // it has no time of its own yet
constexpr std::uint8_t kNoUtcInfoFlag = 0x08;    // it does not yet know the GPS-UTC offset
constexpr std::uint8_t kUserTimeFlag = 0x10;     // its time was entered by hand (a test mode)

// The fields of a timing packet, as the clock uses them: single precision, seconds.
struct TimingFields {
  float timeOfWeek = 0;  // GPS time of week
  std::uint16_t week = 0;
  float utcOffset = 0;   // subtracted from GPS time to give UTC
  std::uint8_t flags = 0;  // the timing flags above
};

// Read the last completed packet's fields when its data length is right for the packet (10 for
// 0x41, 17 for 0x8F-AB); false otherwise. They do not look at the id.
bool ReadPacket41(const ReceiverLink& link, TimingFields* fields);
bool ReadPacket8FAB(const ReceiverLink& link, TimingFields* fields);

// The receiver's own calendar in 0x8F-AB's data bytes 10 to 16: GPS time, or UTC when its flags
// carry kUtcCalendarFlag. The clock goes by the week and time of week, never by this.
struct PacketCalendar {
  std::uint8_t second = 0;
  std::uint8_t minute = 0;
  std::uint8_t hour = 0;
  std::uint8_t day = 0;
  std::uint8_t month = 0;
  std::uint16_t year = 0;
};
bool ReadCalendar8FAB(const ReceiverLink& link, PacketCalendar* calendar);

// The data bytes of the timing packets as a receiver sends them and the readers above take them
// back: the id not included, 0x8F-AB's subcode included. 0x8F-AB carries whole seconds: its time
// of week is cut to them (0 to 2^32 - 1) and its offset rounded toward zero.
using Packet41Data = std::array<std::uint8_t, kPacket41Length>;
using Packet8FABData = std::array<std::uint8_t, kPacket8FABLength>;
Packet41Data WritePacket41(const TimingFields& fields);
Packet8FABData WritePacket8FAB(const TimingFields& fields, const PacketCalendar& calendar);

// The time of week a receiver reports while it has no time yet, in any week.
constexpr float kNoTimeYet = -1.0f;

// week x 604800 + time of week, less the UTC offset for TimeType::Utc; in double precision. NaN,
// which no clock takes, while the receiver has no time yet.
double ReceiverTime(const TimingFields& fields, TimeType timeType);

enum class TimingPacket { Packet41, Packet8FAB, Nmea };
// "0x41", "0x8F-AB", or "NMEA" for a burst of NMEA sentences.
const char* TimingPacketName(TimingPacket packet);

// What a receiver said in an accepted timing packet.
struct TimingReport {
  TimingPacket packet = TimingPacket::Packet41;
  TimingFields fields;
  TimeType timeType = TimeType::Utc;  // the time type in force
  double receiverTime = 0;    // ReceiverTime of the fields in that time type
  ClockReading arrival;       // when the packet's first byte began to arrive
  std::int64_t arrivalSlackNs = 0;  // how much earlier it may have begun (see blockSlackNs)
  PacketCalendar calendar;    // 0x8F-AB's own calendar; all zeros for 0x41
  bool validFix = true;       // NMEA: false when the burst said it has no valid fix (RMC status
                              // V, GGA quality 0)
};

// Where accepted timing packets go.
class TimingSink {
 public:
  virtual void TimingPacketReceived(const TimingReport& report) = 0;

 protected:
  ~TimingSink() = default;
};

// What the packet handlers need of whoever reads the receiver.
struct TimingContext {
  TimeType ActiveTimeType = TimeType::Utc;  // the time type in force
  TimingSink* sink = nullptr;               // where an accepted packet is reported; must be set
};

// Sends the time request, packet 0x21 without data.
void RequestTime(ReceiverLink& link);

// Whether the last completed packet is a time request.
bool IsTimeRequest(const ReceiverLink& link);

// Accept a timing packet of the right length: report it to the context's sink. Which of them an
// attempt uses is the reader's affair.
void HandlePacket41(ReceiverLink& link, TimingContext& context);
void HandlePacket8FAB(ReceiverLink& link, TimingContext& context);

// Reports an NMEA burst that named a time (the link's nmea.ended), as UTC whatever the time type:
// its week and time of week are of UTC seconds, with no GPS-UTC offset to take off.
void HandleNmeaBurst(ReceiverLink& link, TimingContext& context);

// Routes a completed packet (or NMEA burst) to its handler while the link is open; other packets
// are ignored.
void DispatchPacket(ReceiverLink& link, TimingContext& context);

}  // namespace clockagent
