// The service socket's framed messages, as a peer may send them: frames are
// read off a stream until it fails. Each frame read must write as a frame
// that reads back to the same bytes.
#include <sys/socket.h>
#include <unistd.h>

#include "fuzz_check.h"
#include "platform/ipc/service_socket.h"

using namespace qlt;

// The largest frame the target reads: small enough that the stream always
// fits in a socket's buffer, so that writing never blocks.
static constexpr size_t kMaxFrame = 4096;

// A connected pair whose reading end holds `data`.
static SocketDescriptor streamHolding(const uint8_t* data, size_t size, SocketDescriptor& writeEnd) {
  int ends[2];
  FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0);
  writeEnd.reset(ends[1]);
  FUZZ_CHECK(::write(ends[1], data, size) == static_cast<ssize_t>(size));
  return SocketDescriptor(ends[0]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 60000) return 0;  // more may not fit in the socket's buffer
  SocketDescriptor writeEnd;
  SocketDescriptor readEnd = streamHolding(data, size, writeEnd);
  writeEnd.reset();  // the peer hung up after its last byte
  while (std::optional<std::string> frame = readFrame(readEnd.get(), kMaxFrame)) {
    FUZZ_CHECK(frame->size() <= kMaxFrame);
    SocketDescriptor echoWrite;
    SocketDescriptor echoRead = streamHolding(nullptr, 0, echoWrite);
    FUZZ_CHECK(writeFrame(echoWrite.get(), *frame));
    echoWrite.reset();
    std::optional<std::string> echoed = readFrame(echoRead.get(), kMaxFrame);
    FUZZ_CHECK(echoed && *echoed == *frame);
  }
  return 0;
}
