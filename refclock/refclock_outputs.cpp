// Where reference-clock samples go: chronyd's SOCK socket and the NTP shared-memory segment.
#include "refclock/refclock_outputs.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace clockagent {

std::array<std::uint8_t, sizeof(SockSample)> EncodeSockSample(const ClockSample& sample) {
  const SplitTime at = SplitNs(sample.systemNs);
  const std::int32_t microseconds = at.nanoseconds / 1000;
  SockSample s;
  std::memset(&s, 0, sizeof s);
  s.tv.tv_sec = static_cast<time_t>(at.seconds);
  s.tv.tv_usec = static_cast<suseconds_t>(microseconds);
  // What truncating to the microsecond took off the moment, the offset gains.
  s.offset = static_cast<double>(sample.offsetNs + (at.nanoseconds - microseconds * 1000)) * 1e-9;
  s.pulse = 0;
  s.leap = 0;
  s.magic = kSockMagic;
  std::array<std::uint8_t, sizeof(SockSample)> bytes;
  std::memcpy(bytes.data(), &s, sizeof s);
  return bytes;
}

SplitTime SplitNs(std::int64_t ns) {
  std::int64_t seconds = ns / kNsPerSecond;
  std::int64_t rest = ns % kNsPerSecond;
  if (rest < 0) {
    --seconds;
    rest += kNsPerSecond;
  }
  return SplitTime{seconds, static_cast<std::int32_t>(rest)};
}

void WriteShmSample(volatile ShmTime& segment, const ClockSample& sample) {
  WriteShmSample(segment, sample, [] { std::atomic_thread_fence(std::memory_order_seq_cst); });
}

namespace {

constexpr std::int64_t kRetryNs = kNsPerSecond;

// Whether an output reaches its daemon. One that does not tries again at most once a second, and
// says so once when it stops and once when it starts again, never at every sample.
class Reach {
 public:
  explicit Reach(std::string what) : what_(std::move(what)) {}
  bool MayTry(std::int64_t nowNs) const { return !down_ || nowNs >= retryAtNs_; }
  void Failed(std::int64_t nowNs, const char* why) {
    if (!down_) {
      std::fprintf(stderr, "clockagent refclock: cannot reach %s: %s; trying again each second\n",
                   what_.c_str(), why);
    }
    down_ = true;
    retryAtNs_ = nowNs + kRetryNs;
  }
  void Reached() {
    if (down_) std::fprintf(stderr, "clockagent refclock: %s takes samples again\n", what_.c_str());
    down_ = false;
  }

 private:
  std::string what_;
  bool down_ = false;
  std::int64_t retryAtNs_ = 0;
};

class SockOutput final : public SampleOutput {
 public:
  explicit SockOutput(const std::string& path)
      : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)), reach_("chronyd's socket " + path) {
    std::memset(&address_, 0, sizeof address_);
    address_.sun_family = AF_UNIX;
    std::snprintf(address_.sun_path, sizeof address_.sun_path, "%s", path.c_str());
  }
  ~SockOutput() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Send(const ClockSample& sample, std::int64_t nowNs) override {
    if (!reach_.MayTry(nowNs)) return false;
    const auto datagram = EncodeSockSample(sample);
    // Addressed each time, not connected once: a restarted chronyd makes a new socket there.
    const ssize_t sent =
        ::sendto(fd_, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
    if (sent == static_cast<ssize_t>(datagram.size())) {
      reach_.Reached();
      return true;
    }
    // A full queue is a daemon that has not kept up: this sample is dropped, the next may go.
    if (sent < 0 && (errno == EAGAIN || errno == ENOBUFS)) return false;
    reach_.Failed(nowNs, sent < 0 ? std::strerror(errno) : "datagram cut short");
    return false;
  }

 private:
  int fd_;
  sockaddr_un address_;
  Reach reach_;
};

std::string ShmName(int unit) {
  char text[64];
  std::snprintf(text, sizeof text, "shared-memory unit %d (key 0x%x)", unit,
                static_cast<unsigned>(kShmKeyBase + unit));
  return text;
}

// Why a segment this program did not make is not to be written, or empty when it may be: one
// owned or made by another user than root and this program's, or that group or others may write,
// is one where any local user could rewrite the samples the daemons read.
std::string ForeignSegment(int unit, int id) {
  shmid_ds info{};
  if (::shmctl(id, IPC_STAT, &info) != 0) return std::strerror(errno);
  const uid_t owner = info.shm_perm.uid;
  // The creator, like the owner, may change the permissions at any time.
  const auto trusted = [](uid_t uid) { return uid == 0 || uid == ::geteuid(); };
  const bool ownersOk = trusted(owner) && trusted(info.shm_perm.cuid);
  if ((info.shm_perm.mode & 0022) == 0 && ownersOk) return "";
  char text[320];
  std::snprintf(text, sizeof text,
                "it was already there, and others may write it (mode %04o, owner uid %u, made by "
                "uid %u): any local user could give the daemon a time; remove it (ipcrm -M 0x%x) "
                "and start clockagent refclock before the daemon",
                static_cast<unsigned>(info.shm_perm.mode & 0777), static_cast<unsigned>(owner),
                static_cast<unsigned>(info.shm_perm.cuid), static_cast<unsigned>(kShmKeyBase + unit));
  return text;
}

class ShmOutput final : public SampleOutput {
 public:
  ShmOutput(int unit, std::int64_t nowNs) : unit_(unit), reach_(ShmName(unit)) { Attach(nowNs); }
  ~ShmOutput() override {
    // The segment stays: the daemons keep reading it, and the next run writes it again.
    Detach();
  }

  bool Send(const ClockSample& sample, std::int64_t nowNs) override {
    if (segment_ != nullptr && Removed()) {
      std::fprintf(stderr,
                   "clockagent refclock: %s was removed; making it again (a daemon attached to the "
                   "old one reads the new one only once restarted)\n",
                   ShmName(unit_).c_str());
      Detach();
    }
    if (segment_ == nullptr && (!reach_.MayTry(nowNs) || !Attach(nowNs))) return false;
    WriteShmSample(*segment_, sample);
    return true;
  }

 private:
  // Whether the segment written is gone for its readers: removed, only kept until the last detach,
  // or no longer the one its key names. Samples written there would reach no daemon that attaches.
  bool Removed() const {
    shmid_ds info{};
    if (::shmctl(id_, IPC_STAT, &info) != 0 || (info.shm_perm.mode & SHM_DEST) != 0) return true;
    return ::shmget(kShmKeyBase + unit_, 0, 0) != id_;
  }

  bool Attach(std::int64_t nowNs) {
    const key_t key = kShmKeyBase + unit_;
    // Made here, for this program's user alone; or, when a daemon or another program made it
    // first, taken as it is, unless others could write it too.
    int id = ::shmget(key, sizeof(ShmTime), IPC_CREAT | IPC_EXCL | kShmMode);
    const bool found = id < 0 && errno == EEXIST;
    if (found) id = ::shmget(key, sizeof(ShmTime), 0);
    const std::string foreign = found && id >= 0 ? ForeignSegment(unit_, id) : "";
    if (!foreign.empty()) {
      reach_.Failed(nowNs, foreign.c_str());
      return false;
    }
    void* at = id >= 0 ? ::shmat(id, nullptr, 0) : reinterpret_cast<void*>(-1);
    if (at == reinterpret_cast<void*>(-1)) {
      reach_.Failed(nowNs, std::strerror(errno));
      return false;
    }
    id_ = id;
    segment_ = static_cast<volatile ShmTime*>(at);
    reach_.Reached();
    return true;
  }

  void Detach() {
    if (segment_ != nullptr) ::shmdt(const_cast<ShmTime*>(segment_));
    segment_ = nullptr;
  }

  int unit_;
  Reach reach_;
  int id_ = -1;
  volatile ShmTime* segment_ = nullptr;
};

}  // namespace

std::unique_ptr<SampleOutput> NewSockOutput(const std::string& path) {
  return std::make_unique<SockOutput>(path);
}

std::unique_ptr<SampleOutput> NewShmOutput(int unit, std::int64_t nowNs) {
  return std::make_unique<ShmOutput>(unit, nowNs);
}

}  // namespace clockagent
