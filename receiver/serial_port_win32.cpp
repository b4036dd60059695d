// The serial port on Windows: the Win32 communications API with overlapped reads and writes.
#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <thread>

#include "receiver/daro_link.h"
#include "receiver/line_settings.h"
#include "receiver/system_serial_port.h"
#include "receiver/system_words_win32.h"

namespace clockagent {
namespace {

// The longest a wait for bytes sleeps on a port that cannot be waited on (callers that read it
// while a packet may begin ask for less: see PortWait).
constexpr DWORD kUnwaitableSleepMs = 5;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
static_assert(kPurgeAll == 0x0F, "purge flags");
static_assert(sizeof(DCB) == 28, "the Win32 line-settings record");

// With `raiseLines` false, DTR and RTS are left as they are.
bool SetLineSettings(HANDLE port, DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits,
                     bool raiseLines) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  GetCommState(port, &dcb);
  dcb.BaudRate = baudRate;
  dcb.ByteSize = dataBits;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  dcb.fBinary = 1;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  if (raiseLines) {
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
  }
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.XonLim = 100;
  dcb.XoffLim = 100;
  return SetCommState(port, &dcb) != FALSE;
}

// Opens the port; `found`, when given, gets its settings as they were, and its lines are left.
HANDLE OpenPort(const char* name, DCB* found) {
  HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  if (!SetupComm(port, kDriverQueueSize, kDriverQueueSize)) {
    const DWORD error = GetLastError();
    CloseHandle(port);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  if (found != nullptr) {
    found->DCBlength = sizeof *found;
    if (!GetCommState(port, found)) found->DCBlength = 0;
  }
  PurgeComm(port, kPurgeAll);
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
  timeouts.WriteTotalTimeoutConstant = 0;
  SetCommTimeouts(port, &timeouts);
  SetLineSettings(port, kLineParametersAtOpen.baudRate, kLineParametersAtOpen.dataBits,
                  kLineParametersAtOpen.parity, kLineParametersAtOpen.stopBits, found == nullptr);
  return port;
}

// A thread that reads the pulse line with GetCommModemStatus. A wait for the line's event cannot
// be used: a handle has one event mask and one wait, and those are the arrival wait's; and it
// wakes late (0.5-1.1 ms under wine), while a read sees the level within microseconds. So the
// thread reads once a millisecond until it has seen an edge, then sleeps until shortly before
// the next one is due and reads without pause from then until it comes: some 4 ms of one core
// a second, only while an attempt watches. An edge is stamped halfway between the last read that
// found the line low and the one that found it high: to a few microseconds once the reads are
// tight, to half a millisecond either way for the first edge.
class ModemLineWatcher {
 public:
  ~ModemLineWatcher() { Stop(); }

  bool Start(HANDLE port, PulseLine line, LinkClock& clock, PulseEdges& edges) {
    Stop();
    DWORD status = 0;
    if (line == PulseLine::None || !GetCommModemStatus(port, &status)) return false;
    const DWORD bit = line == PulseLine::Cts ? MS_CTS_ON : MS_RLSD_ON;
    stop_ = false;
    thread_ = std::thread([this, port, bit, high = (status & bit) != 0, &clock, &edges]() mutable {
      SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
      constexpr std::int64_t kLeadNs = 3000000;    // the tight reads begin this early...
      constexpr std::int64_t kLateNs = 5000000;    // ...and give up this late
      std::int64_t due = -1;  // when the next edge is due, on the monotonic clock; -1: unknown
      ClockReading lowAt = clock.Now();
      while (!stop_) {
        const std::int64_t now = clock.Now().monotonicNs;
        const bool tight = due >= 0 && now >= due - kLeadNs;
        if (tight && now > due + kLateNs) due = -1;  // missed: find it again
        if (!tight) Sleep(1);
        DWORD level = 0;
        if (!GetCommModemStatus(port, &level)) break;
        const ClockReading read = clock.Now();
        const bool isHigh = (level & bit) != 0;
        if (isHigh && !high) {
          const ClockReading edge{lowAt.systemNs + (read.systemNs - lowAt.systemNs) / 2,
                                  lowAt.monotonicNs + (read.monotonicNs - lowAt.monotonicNs) / 2};
          edges.Add(edge);
          due = edge.monotonicNs + kNsPerSecond;
        }
        if (!isHigh) lowAt = read;
        high = isHigh;
      }
    });
    return true;
  }

  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
  }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

class Win32SerialPort final : public SerialPort {
 public:
  ~Win32SerialPort() override {
    if (portHandle_ != INVALID_HANDLE_VALUE) Close();
  }

  bool Open(const char* name) override {
    if (portHandle_ != INVALID_HANDLE_VALUE) Close();
    std::memset(&readOverlapped_, 0, sizeof readOverlapped_);
    std::memset(&writeOverlapped_, 0, sizeof writeOverlapped_);
    std::memset(&arrivalOverlapped_, 0, sizeof arrivalOverlapped_);
    readOverlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeOverlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    arrivalOverlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    foundState_.DCBlength = 0;
    portHandle_ = OpenPort(name, asFound_ ? &foundState_ : nullptr);
    if (portHandle_ == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      failure_ = FailureOf(error);
      SetErrorText(error);
      ReleaseEvents();
      return false;
    }
    // A character received is what a wait for arriving bytes waits for.
    waitable_ = SetCommMask(portHandle_, EV_RXCHAR) != FALSE;
    // While the port is open its reader looks at it every few milliseconds; the system's timer
    // tick (15.6 ms unless raised) would make those looks, and the packets placed by them, coarse.
    timeBeginPeriod(1);
    emptyWaits_ = 0;
    return true;
  }

  bool SetLineParameters(const LineParameters& p) override {
    if (portHandle_ == INVALID_HANDLE_VALUE) return false;
    if (SetLineSettings(portHandle_, p.baudRate, p.dataBits, p.parity, p.stopBits, !asFound_)) {
      return true;
    }
    // Wine, on a pty, refuses some changes of rate made while parity is set ("Invalid parameter"):
    // the settings are tried again from no parity at the present rate.
    DCB now{};
    now.DCBlength = sizeof now;
    if (GetCommState(portHandle_, &now) &&
        SetLineSettings(portHandle_, now.BaudRate, 8, NOPARITY, ONESTOPBIT, !asFound_) &&
        SetLineSettings(portHandle_, p.baudRate, p.dataBits, p.parity, p.stopBits, !asFound_)) {
      return true;
    }
    SetErrorText(GetLastError());
    return false;
  }

  void Flush() override {
    if (portHandle_ != INVALID_HANDLE_VALUE) FlushFileBuffers(portHandle_);
  }

  std::uint32_t QueuedBytes() override {
    if (portHandle_ == INVALID_HANDLE_VALUE) return 0;
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    if (!ClearCommError(portHandle_, &errors, &status)) return 0;
    return status.cbInQue;
  }

  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t size) override {
    if (portHandle_ == INVALID_HANDLE_VALUE) return 0;
    DWORD got = 0;
    if (!ReadFile(portHandle_, buffer, size, &got, &readOverlapped_)) {
      // With the read time-outs the read completes at once; should a driver still queue it, it is
      // finished here, so that it never writes into the buffer after this returns.
      got = 0;
      if (GetLastError() == ERROR_IO_PENDING &&
          !GetOverlappedResult(portHandle_, &readOverlapped_, &got, TRUE)) {
        got = 0;
      }
    }
    return got;
  }

  void Write(const std::uint8_t* frame, std::size_t length) override {
    if (portHandle_ == INVALID_HANDLE_VALUE || length > sizeof writeBuffer_) return;
    // The frame is copied into a buffer of the port's own that lives until the write is done; a
    // write still under way (at most 10 ms a byte) is finished before the buffer and its record
    // are used again.
    if (writePending_) {
      DWORD done = 0;
      GetOverlappedResult(portHandle_, &writeOverlapped_, &done, TRUE);
      writePending_ = false;
    }
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(portHandle_, &errors, &status);
    std::memcpy(writeBuffer_, frame, length);
    if (!WriteFile(portHandle_, writeBuffer_, static_cast<DWORD>(length), nullptr,
                   &writeOverlapped_)) {
      writePending_ = GetLastError() == ERROR_IO_PENDING;
    }
  }

  std::intptr_t ArrivalHandle() override {
    if (portHandle_ == INVALID_HANDLE_VALUE || !waitable_) return -1;
    if (arrivalPending_ && HasOverlappedIoCompleted(&arrivalOverlapped_)) {
      arrivalPending_ = false;
      // A wait that ends with no event while nothing has come cannot wait: wine's, on a line
      // without modem signals, ends at once every time. The caller then reads now and then.
      DWORD done = 0;
      GetOverlappedResult(portHandle_, &arrivalOverlapped_, &done, FALSE);
      emptyWaits_ = arrivalMask_ == 0 && QueuedBytes() == 0 ? emptyWaits_ + 1 : 0;
      if (emptyWaits_ >= 3) {
        waitable_ = false;
        return -1;
      }
    }
    if (!arrivalPending_) {
      ResetEvent(arrivalOverlapped_.hEvent);
      if (WaitCommEvent(portHandle_, &arrivalMask_, &arrivalOverlapped_)) {
        SetEvent(arrivalOverlapped_.hEvent);  // it happened already
      } else if (GetLastError() == ERROR_IO_PENDING) {
        arrivalPending_ = true;
      } else {
        return -1;  // this port cannot be waited on: the caller's timers go on alone
      }
    }
    // Armed first, looked at second: bytes that came before the wait was armed wake it too.
    if (QueuedBytes() > 0) SetEvent(arrivalOverlapped_.hEvent);
    return reinterpret_cast<std::intptr_t>(arrivalOverlapped_.hEvent);
  }

  bool WaitForBytes(std::chrono::milliseconds timeout) override {
    const std::intptr_t event = ArrivalHandle();
    const auto ms = static_cast<DWORD>(timeout.count());
    if (event != -1) return WaitForSingleObject(reinterpret_cast<HANDLE>(event), ms) == WAIT_OBJECT_0;
    if (portHandle_ == INVALID_HANDLE_VALUE) {
      Sleep(ms);
      return false;
    }
    // A port that cannot be waited on is looked at now and then instead.
    Sleep(ms < kUnwaitableSleepMs ? ms : kUnwaitableSleepMs);
    return true;
  }

  bool WatchPulse(PulseLine line, LinkClock& clock, PulseEdges& edges) override {
    if (portHandle_ != INVALID_HANDLE_VALUE && watcher_.Start(portHandle_, line, clock, edges)) {
      return true;
    }
    SetErrorText(portHandle_ != INVALID_HANDLE_VALUE ? GetLastError() : ERROR_INVALID_HANDLE);
    return false;
  }

  void StopPulseWatch() override { watcher_.Stop(); }

  void Close() override {
    if (portHandle_ == INVALID_HANDLE_VALUE) return;
    watcher_.Stop();
    timeEndPeriod(1);
    if (arrivalPending_) {
      // A cleared mask ends the wait; it is finished before its record and event go.
      SetCommMask(portHandle_, 0);
      DWORD done = 0;
      GetOverlappedResult(portHandle_, &arrivalOverlapped_, &done, TRUE);
      arrivalPending_ = false;
    }
    if (writePending_) {  // a frame handed over leaves whole, never cut off by the purge
      DWORD done = 0;
      GetOverlappedResult(portHandle_, &writeOverlapped_, &done, TRUE);
    }
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(portHandle_, &errors, &status);
    ClearCommBreak(portHandle_);
    PurgeComm(portHandle_, kPurgeAll);
    if (foundState_.DCBlength != 0) SetCommState(portHandle_, &foundState_);
    CloseHandle(portHandle_);
    portHandle_ = INVALID_HANDLE_VALUE;
    writePending_ = false;
    ReleaseEvents();
  }

  OpenFailure LastOpenFailure() const override { return failure_; }
  const char* LastErrorText() const override { return errorText_; }
  void LeaveAsFound() override { asFound_ = true; }

 private:
  void SetErrorText(DWORD error) { SystemWords(error, errorText_, sizeof errorText_); }

  // A port another program has open is refused as access denied (sharing violation and busy
  // from some drivers; a lock violation from wine when a Linux program holds the tty's lock).
  static OpenFailure FailureOf(DWORD error) {
    switch (error) {
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION:
      case ERROR_BUSY:
        return OpenFailure::InUse;
      default:
        return OpenFailure::NoPort;
    }
  }

  void ReleaseEvents() {
    for (OVERLAPPED* record : {&readOverlapped_, &writeOverlapped_, &arrivalOverlapped_}) {
      if (record->hEvent != nullptr) CloseHandle(record->hEvent);
      record->hEvent = nullptr;
    }
  }

  HANDLE portHandle_ = INVALID_HANDLE_VALUE;
  OVERLAPPED readOverlapped_{};
  OVERLAPPED writeOverlapped_{};
  OVERLAPPED arrivalOverlapped_{};  // the wait for a character received
  DWORD arrivalMask_ = 0;
  bool arrivalPending_ = false;
  bool waitable_ = true;
  int emptyWaits_ = 0;  // waits in a row that ended with no event and nothing come
  std::uint8_t writeBuffer_[kFrameBufferSize] = {};
  bool writePending_ = false;
  ModemLineWatcher watcher_;
  OpenFailure failure_ = OpenFailure::NoPort;
  char errorText_[256] = {};
  bool asFound_ = false;  // LeaveAsFound
  DCB foundState_{};      // the settings found at the open; DCBlength 0: none to put back
};

}  // namespace

std::unique_ptr<SerialPort> NewSystemSerialPort() { return std::make_unique<Win32SerialPort>(); }

std::vector<std::string> SystemPortNames() {
  std::vector<std::string> names;
  for (int number = 1; number <= kPortCount; ++number) names.push_back("COM" + std::to_string(number));
  return names;
}

}  // namespace clockagent
