// Finding the receiver: which port it is on, which protocol and which line settings it speaks, by
// trying each port's likely settings in turn until a timing packet decodes or NMEA sentences come.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "receiver/line_settings.h"
#include "receiver/serial_link.h"
#include "receiver/serial_port.h"
#include "receiver/timing_packets.h"

namespace clockagent {

// How long each line setting is listened to: long enough to hear a receiver that broadcasts once
// a second, whatever the moment the listening begins, and the packet's bytes at 2400 baud.
constexpr std::chrono::milliseconds kTrialListen{1200};
// How often the time request is sent while listening: a receiver that answers is asked again in
// case it missed a request sent as it turned on.
constexpr std::chrono::milliseconds kTrialRequestEvery{300};
// The longest a wait for bytes lasts, so that a stop is seen soon.
constexpr std::chrono::milliseconds kTrialWaitSlice{50};

// One trial: the protocol listened for and the line settings.
struct SearchTrialSettings {
  ReceiverProtocol protocol = ReceiverProtocol::Daro;
  SerialLineSettings line;
};

// The trials, in the order of likelihood (the table in receiver_search.cpp). DARO is binary, so 7
// data bits are never tried; one stop bit also reads a receiver that sends two. NMEA is tried at
// 8-N-1 only, the standard's framing.
constexpr int kSearchTrialCount = 19;
const SearchTrialSettings& SearchTrial(int index);

// Which protocols a search tries.
enum class SearchProtocols { Both, Daro, Nmea };
bool TrialIncluded(int index, SearchProtocols protocols);

// "4800 baud, 8-O-1".
std::string LineSettingsText(const SerialLineSettings& settings);
// A trial as the progress names it: "9600 baud, 8-N-1" for DARO, "4800 baud, 8-N-1, NMEA".
std::string TrialText(int index);

enum class PortVerdict {
  Found,    // a timing packet decoded, or NMEA sentences came
  Silent,   // opened, and nothing decoded at any setting
  InUse,    // another program holds it
  Missing,  // no such port, or not a serial port
  Denied,   // this user may not open it
  Stopped,  // the search was stopped first
};

struct PortFinding {
  PortChoice port;
  PortVerdict verdict = PortVerdict::Silent;
  SerialLineSettings line;                       // when Found: the settings it was heard at
  ReceiverProtocol protocol = ReceiverProtocol::Daro;  // ... the protocol
  TimingPacket packet = TimingPacket::Packet41;  // ... and for DARO what it sent
  std::vector<std::string> sentenceTypes;        // ... for NMEA the types, in order first seen
};

// A found receiver as the console tool prints it: "COM7: 4800 baud, 8-O-1, answering with 0x41"
// or "/dev/ttyUSB0: 9600 baud, 8-N-1, broadcasting 0x8F-AB". Packet 0x41 is the answer to the
// time request; 0x8F-AB is what a receiver sends by itself once a second. An NMEA receiver:
// "/dev/ttyUSB0: 4800 baud, 8-N-1, NMEA (RMC, GGA)".
std::string FoundText(const PortFinding& finding);

// What a search tells as it goes. A search of several ports calls these from the ports' own
// threads, one call at a time.
class SearchObserver {
 public:
  virtual void TrialBegan(const PortChoice& port, int trial) = 0;
  // The port refused the trial's settings (`words`: the system's, or empty): it is skipped.
  virtual void TrialRefused(const PortChoice& /*port*/, int /*trial*/, const char* /*words*/) {}
  virtual void PortSearched(const PortFinding& finding) = 0;

 protected:
  ~SearchObserver() = default;
};

// Opens the port and tries the settings of `protocols` in order until a receiver is heard or
// `stop` is set. A DARO trial sends the time request and waits for a timing packet; an NMEA trial
// sends nothing and waits for a sentence with a right checksum. The link's buffers are allocated
// once, here; nothing is allocated per byte.
PortFinding SearchPort(SerialPort& port, LinkClock& clock, const PortChoice& choice,
                       const std::atomic<bool>& stop, SearchObserver& observer,
                       SearchProtocols protocols = SearchProtocols::Both);

// Searches the ports side by side, a thread each, so that a port that is slow to open or silent
// holds up no other. With `stopAtFirst`, the first receiver found stops the others (setting
// `stop`). Returns the findings in the order of `ports`.
std::vector<PortFinding> SearchPorts(const std::vector<PortChoice>& ports,
                                     const std::function<std::unique_ptr<SerialPort>()>& newPort,
                                     std::atomic<bool>& stop, bool stopAtFirst,
                                     SearchObserver& observer,
                                     SearchProtocols protocols = SearchProtocols::Both);

}  // namespace clockagent
