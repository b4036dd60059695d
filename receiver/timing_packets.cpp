// The time request, the two timing packets and the receiver time.
#include "receiver/timing_packets.h"

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

double ReceiverTime(const TimingFields& fields, TimeType timeType) {
  if (fields.timeOfWeek == kNoTimeYet) return std::numeric_limits<double>::quiet_NaN();
  const double gpsTime = fields.week * kSecondsPerWeek + static_cast<double>(fields.timeOfWeek);
  return timeType == TimeType::Utc ? gpsTime - static_cast<double>(fields.utcOffset) : gpsTime;
}

void RequestTime(ReceiverLink& link) {
  const std::uint8_t request[] = {kTimeRequestId};
  SendPacket(link, sizeof request, request);
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
  context.sink->TimingPacketReceived(report);
}

}  // namespace

void HandlePacket41(ReceiverLink& link, TimingContext& context) {
  AcceptTimingPacket(link, context, TimingPacket::Packet41, ReadPacket41);
}

void HandlePacket8FAB(ReceiverLink& link, TimingContext& context) {
  AcceptTimingPacket(link, context, TimingPacket::Packet8FAB, ReadPacket8FAB);
}

void DispatchPacket(ReceiverLink& link, TimingContext& context) {
  if (!link.isOpen) return;
  if (link.packetId == kPacket41Id) {
    HandlePacket41(link, context);
  } else if (link.packetId == kPacket8FId && link.packetBuffer[0] == kSubcodeAB) {
    HandlePacket8FAB(link, context);
  }
}

}  // namespace clockagent

