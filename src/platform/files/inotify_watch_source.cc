// The inotify instance behind directory watching, with an eventfd that
// wakes a reader waiting in poll().
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/watch_source.h"

namespace qlt {
namespace {

constexpr uint32_t kWatchedEvents = IN_ATTRIB | IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                    IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

class InotifyWatchSource final : public WatchSource {
 public:
  InotifyWatchSource(int inotify, int wakeup) : inotify_(inotify), wakeup_(wakeup) {}
  ~InotifyWatchSource() override {
    ::close(inotify_);
    ::close(wakeup_);
  }
  InotifyWatchSource(const InotifyWatchSource&) = delete;
  InotifyWatchSource& operator=(const InotifyWatchSource&) = delete;

  int addWatch(const std::string& path, Error* error) override {
    int watch = inotify_add_watch(inotify_, path.c_str(), kWatchedEvents);
    if (watch < 0) setError(error, posixError(errno, path));
    return watch;
  }

  void removeWatch(int watch) override { inotify_rm_watch(inotify_, watch); }

  std::vector<WatchEvent> readEvents(std::chrono::milliseconds timeout) override {
    std::vector<WatchEvent> events;
    pollfd descriptors[2] = {{inotify_, POLLIN, 0}, {wakeup_, POLLIN, 0}};
    int ready = ::poll(descriptors, 2, static_cast<int>(timeout.count()));
    if (ready <= 0) return events;
    if (descriptors[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t drained = ::read(wakeup_, &count, sizeof count);
    }
    if (!(descriptors[0].revents & POLLIN)) return events;
    alignas(inotify_event) char buffer[64 * 1024];
    ssize_t length = ::read(inotify_, buffer, sizeof buffer);
    for (ssize_t offset = 0; length > 0 && offset < length;) {
      inotify_event header;
      std::memcpy(&header, buffer + offset, sizeof header);
      WatchEvent event{header.wd, header.mask, header.cookie, {}};
      if (header.len > 0) event.name = std::string(buffer + offset + sizeof header);
      events.push_back(std::move(event));
      offset += static_cast<ssize_t>(sizeof header + header.len);
    }
    return events;
  }

  void wake() override {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wakeup_, &one, sizeof one);
  }

 private:
  int inotify_;
  int wakeup_;
};

}  // namespace

std::unique_ptr<WatchSource> makeInotifyWatchSource(Error* error) {
  int inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify < 0) {
    setError(error, posixError(errno));
    return nullptr;
  }
  int wakeup = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeup < 0) {
    setError(error, posixError(errno));
    ::close(inotify);
    return nullptr;
  }
  return std::make_unique<InotifyWatchSource>(inotify, wakeup);
}

}  // namespace qlt
