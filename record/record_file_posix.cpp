// Writing the record's file on Linux.
#include "record/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace clockagent {

std::string AppendToFile(const std::string& path, const std::string& text) {
  // Not blocking: a pipe put in the record's place must not hold the writer until it is read.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                      0644);
  if (fd < 0) return errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return "it is not a regular file";
  }
  std::string failure;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      failure = wrote < 0 ? std::strerror(errno) : "nothing could be written";
      break;
    }
    done += static_cast<std::size_t>(wrote);
  }
  // Half a line would have the next glued to it.
  if (done < text.size() && done > 0 && ftruncate(fd, status.st_size) != 0) {
    failure += std::string(", and cutting back the part written failed: ") + std::strerror(errno);
  }
  if (close(fd) != 0 && failure.empty()) failure = std::strerror(errno);
  return failure;
}

}  // namespace clockagent
