// The time request, the two timing packets and the receiver time.
#include "receiver/timing_packets.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace clockagent {

std::uint16_t GetU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::int16_t GetS16(const std::uint8_t* bytes) {
  const std::uint16_t u = GetU16(bytes);
  return static_cast<std::int16_t>(u >= 0x8000u ? static_cast<int>(u) - 0x10000 : static_cast<int>(u));
}

std::uint32_t GetU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

float GetSingle(const std::uint8_t* bytes) {
  const std::uint32_t bits = GetU32(bytes);
  float value;
  static_assert(sizeof value == sizeof bits, "IEEE-754 single precision");
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool ReadPacket41(const ReceiverLink& link, TimingFields* fields) {
  if (link.packetLength != kPacket41Length) return false;
  const std::uint8_t* data = link.packetBuffer;
  fields->timeOfWeek = GetSingle(data + 0);
  fields->week = GetU16(data + 4);
  fields->utcOffset = GetSingle(data + 6);
  return true;
}

bool ReadPacket8FAB(const ReceiverLink& link, TimingFields* fields) {
  if (link.packetLength != kPacket8FABLength) return false;
  const std::uint8_t* data = link.packetBuffer;
  fields->timeOfWeek = static_cast<float>(GetU32(data + 1));
  fields->week = GetU16(data + 5);
  fields->utcOffset = static_cast<float>(GetS16(data + 7));
  fields->flags = data[9];
  return true;
}

bool ReadCalendar8FAB(const ReceiverLink& link, PacketCalendar* calendar) {
  if (link.packetLength != kPacket8FABLength) return false;
  const std::uint8_t* data = link.packetBuffer;
  calendar->second = data[10];
  calendar->minute = data[11];
  calendar->hour = data[12];
  calendar->day = data[13];
  calendar->month = data[14];
  calendar->year = GetU16(data + 15);
  return true;
}

namespace {

void PutU16(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 8);
  bytes[1] = static_cast<std::uint8_t>(value);
}

void PutU32(std::uint8_t* bytes, std::uint32_t value) {
  PutU16(bytes, static_cast<std::uint16_t>(value >> 16));
  PutU16(bytes + 2, static_cast<std::uint16_t>(value));
}

void PutSingle(std::uint8_t* bytes, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutU32(bytes, bits);
}

// A field's value brought within what its bytes hold, NaN as 0; in double, where 2^32 - 1 has a
// value of its own.
double Within(float value, double low, double high) {
  const double v = static_cast<double>(value);
  return v >= low ? std::min(v, high) : (v < low ? low : 0.0);
}

}  // namespace

Packet41Data WritePacket41(const TimingFields& fields) {
  Packet41Data data{};
  PutSingle(&data[0], fields.timeOfWeek);
  PutU16(&data[4], fields.week);
  PutSingle(&data[6], fields.utcOffset);
  return data;
}

Packet8FABData WritePacket8FAB(const TimingFields& fields, const PacketCalendar& calendar) {
  Packet8FABData data{};
  data[0] = kSubcodeAB;
  PutU32(&data[1], static_cast<std::uint32_t>(Within(fields.timeOfWeek, 0, 4294967295.0)));
  PutU16(&data[5], fields.week);
  const auto offset = static_cast<std::int16_t>(Within(fields.utcOffset, -32768, 32767));
  PutU16(&data[7], static_cast<std::uint16_t>(offset));
  data[9] = fields.flags;
  data[10] = calendar.second;
  data[11] = calendar.minute;
  data[12] = calendar.hour;
  data[13] = calendar.day;
  data[14] = calendar.month;
  PutU16(&data[15], calendar.year);
  return data;
}

double ReceiverTime(const TimingFields& fields, TimeType timeType) {
  if (fields.timeOfWeek == kNoTimeYet) return std::numeric_limits<double>::quiet_NaN();
  const double gpsTime = fields.week * kSecondsPerWeek + static_cast<double>(fields.timeOfWeek);
  return timeType == TimeType::Utc ? gpsTime - static_cast<double>(fields.utcOffset) : gpsTime;
}

const char* TimingPacketName(TimingPacket packet) {
  switch (packet) {
    case TimingPacket::Packet41: return "0x41";
    case TimingPacket::Packet8FAB: return "0x8F-AB";
    case TimingPacket::Nmea: break;
  }
  return "NMEA";
}

void RequestTime(ReceiverLink& link) {
  const std::uint8_t request[] = {kTimeRequestId};
  SendPacket(link, sizeof request, request);
}

bool IsTimeRequest(const ReceiverLink& link) {
  return link.packetId == kTimeRequestId && link.packetLength == 0;
}

namespace {

using PacketReader = bool (*)(const ReceiverLink&, TimingFields*);

void AcceptTimingPacket(ReceiverLink& link, TimingContext& context, TimingPacket packet,
                        PacketReader read) {
  TimingReport report;
  if (!read(link, &report.fields)) return;
  report.packet = packet;
  report.timeType = context.ActiveTimeType;
  report.receiverTime = ReceiverTime(report.fields, report.timeType);
  report.arrival = link.packetArrival;
  report.arrivalSlackNs = link.packetSlackNs;
  if (packet == TimingPacket::Packet8FAB) ReadCalendar8FAB(link, &report.calendar);
  context.sink->TimingPacketReceived(report);
}

}  // namespace

void HandlePacket41(ReceiverLink& link, TimingContext& context) {
  AcceptTimingPacket(link, context, TimingPacket::Packet41, ReadPacket41);
}

void HandlePacket8FAB(ReceiverLink& link, TimingContext& context) {
  AcceptTimingPacket(link, context, TimingPacket::Packet8FAB, ReadPacket8FAB);
}

void HandleNmeaBurst(ReceiverLink& link, TimingContext& context) {
  const NmeaBurst& burst = link.nmea.ended;
  std::int64_t unixSeconds = 0;
  if (!NmeaUnixSeconds(burst, &unixSeconds)) return;
  TimingReport report;
  report.packet = TimingPacket::Nmea;
  report.timeType = TimeType::Utc;
  constexpr std::int64_t kGpsEpochUnixSeconds = 315964800;  // 1980-01-06
  const std::int64_t sinceEpoch = unixSeconds - kGpsEpochUnixSeconds;
  if (sinceEpoch < 0) return;
  const std::int64_t week = sinceEpoch / 604800;
  if (week > 65535) return;
  report.fields.week = static_cast<std::uint16_t>(week);
  report.fields.timeOfWeek = static_cast<float>(sinceEpoch - week * 604800);
  report.fields.flags = kUtcCalendarFlag;
  report.receiverTime = static_cast<double>(sinceEpoch);
  report.arrival = burst.arrival;
  report.arrivalSlackNs = burst.slackNs;
  report.validFix = burst.status != 'V' && burst.quality != 0;
  context.sink->TimingPacketReceived(report);
}

void DispatchPacket(ReceiverLink& link, TimingContext& context) {
  if (!link.isOpen) return;
  if (link.protocol == ReceiverProtocol::Nmea) {
    HandleNmeaBurst(link, context);
    return;
  }
  if (link.packetId == kPacket41Id) {
    HandlePacket41(link, context);
  } else if (link.packetId == kPacket8FId && link.packetBuffer[0] == kSubcodeAB) {
    HandlePacket8FAB(link, context);
  }
}

}  // namespace clockagent

