#pragma once

#include <mutex>
#include <string>
#include <thread>

#include "platform/ipc/distributed_notification_center.h"

namespace qlt {

// Distributed notifications between the processes of one user on this
// machine. A center that has observers binds a Unix datagram socket in a
// private folder (mode 0700, owned by the user); posting sends the
// notification, as a binary property list, to every socket in the folder
// and removes sockets nobody listens on any more. A receiver thread calls
// the observers; `deliverImmediately` makes no difference.
//
// Thread-safe. The center must not be destroyed from one of its callbacks.
class LocalDistributedNotificationCenter : public DistributedNotificationCenter {
 public:
  // $XDG_RUNTIME_DIR/quillet-notifications, or /tmp/quillet-notifications-<uid>
  // when XDG_RUNTIME_DIR is not set.
  static std::string defaultDirectory();

  // An empty `directory` means the default one.
  explicit LocalDistributedNotificationCenter(std::string directory = {});
  ~LocalDistributedNotificationCenter() override;

  const std::string& directory() const { return directory_; }

  [[nodiscard]] bool post(const DistributedNotification& notification, bool deliverImmediately, Error* error) override;
  ObserverToken addObserver(const std::string& name, const std::string& object, Callback callback,
                            Error* error) override;
  using DistributedNotificationCenter::addObserver;
  void removeObserver(ObserverToken token) override;

 private:
  // Requires mutex_.
  [[nodiscard]] bool startReceiving(Error* error);
  void receive();

  const std::string directory_;
  std::mutex mutex_;
  int socket_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::string socketPath_;
  std::thread receiver_;
  Observers observers_;
};

}  // namespace qlt
