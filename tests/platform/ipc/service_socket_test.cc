#include "platform/ipc/service_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "support/scratch_directory.h"

namespace qlt {
namespace {

struct SocketPair {
  SocketPair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    a.reset(fds[0]);
    b.reset(fds[1]);
  }
  SocketDescriptor a;
  SocketDescriptor b;
};

TEST(ServiceSocketTest, FramesRoundTripIncludingEmptyAndBinaryPayloads) {
  SocketPair pair;
  std::string binary("a\0\xff\n", 4);
  ASSERT_TRUE(writeFrame(pair.a.get(), R"({"op":"x"})"));
  ASSERT_TRUE(writeFrame(pair.a.get(), ""));
  ASSERT_TRUE(writeFrame(pair.a.get(), binary));
  pair.a.reset();

  EXPECT_EQ(readFrame(pair.b.get()), R"({"op":"x"})");
  EXPECT_EQ(readFrame(pair.b.get()), "");
  EXPECT_EQ(readFrame(pair.b.get()), binary);
  Error error;
  EXPECT_FALSE(readFrame(pair.b.get(), kServiceSocketMaxFrameSize, &error));
  EXPECT_EQ(error.code(), kServiceSocketClosedErrorCode);
}

TEST(ServiceSocketTest, OversizedAndTruncatedFramesFail) {
  {
    SocketPair pair;
    ASSERT_TRUE(writeFrame(pair.a.get(), std::string(11, 'x')));
    Error error;
    EXPECT_FALSE(readFrame(pair.b.get(), 10, &error));
    EXPECT_EQ(error.domain(), kServiceSocketErrorDomain);
    EXPECT_EQ(error.code(), kServiceSocketFrameTooLargeErrorCode);
  }
  {
    SocketPair pair;
    const char header[] = {0, 0, 0, 8, 'a', 'b'};
    ASSERT_EQ(::write(pair.a.get(), header, sizeof(header)), 6);
    pair.a.reset();
    Error error;
    EXPECT_FALSE(readFrame(pair.b.get(), kServiceSocketMaxFrameSize, &error));
    EXPECT_EQ(error.code(), kServiceSocketTruncatedFrameErrorCode);
  }
  {
    SocketPair pair;
    ASSERT_EQ(::write(pair.a.get(), "\0\0", 2), 2);
    pair.a.reset();
    Error error;
    EXPECT_FALSE(readFrame(pair.b.get(), kServiceSocketMaxFrameSize, &error));
    EXPECT_EQ(error.code(), kServiceSocketTruncatedFrameErrorCode);
  }
}

TEST(ServiceSocketTest, PeerUserIsCheckedAgainstTheAllowedUser) {
  SocketPair pair;
  EXPECT_EQ(peerUser(pair.a.get()), ::geteuid());
  EXPECT_TRUE(checkPeerUser(pair.a.get(), ::geteuid()));
  Error error;
  EXPECT_FALSE(checkPeerUser(pair.a.get(), ::geteuid() + 1, &error));
  EXPECT_EQ(error.code(), kServiceSocketPeerNotAllowedErrorCode);
}

TEST(ServiceSocketTest, ListenerServesOwnerOnlyAndCleansUp) {
  ScratchDirectory scratch;
  std::string path = scratch.path("service.sock");
  {
    auto listener = ServiceSocketListener::listen(path);
    ASSERT_TRUE(listener);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::thread client([&] {
      auto socket = connectToServiceSocket(path);
      ASSERT_TRUE(socket);
      EXPECT_TRUE(writeFrame(socket->get(), "ping"));
      EXPECT_EQ(readFrame(socket->get()), "pong");
    });
    auto connection = listener->accept(::geteuid());
    ASSERT_TRUE(connection);
    EXPECT_EQ(readFrame(connection->get()), "ping");
    EXPECT_TRUE(writeFrame(connection->get(), "pong"));
    client.join();

    Error busy;
    EXPECT_FALSE(ServiceSocketListener::listen(path, &busy));
    EXPECT_EQ(busy.code(), kServiceSocketInUseErrorCode);
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0);

  Error missing;
  EXPECT_FALSE(connectToServiceSocket(path, &missing));
  EXPECT_EQ(missing.code(), ENOENT);
  Error tooLong;
  EXPECT_FALSE(ServiceSocketListener::listen(scratch.path(std::string(200, 'x')), &tooLong));
  EXPECT_EQ(tooLong.code(), kServiceSocketPathTooLongErrorCode);
}

TEST(ServiceSocketTest, StaleSocketFileIsReplaced) {
  ScratchDirectory scratch;
  std::string path = scratch.path("stale.sock");
  {
    auto first = ServiceSocketListener::listen(path);
    ASSERT_TRUE(first);
    // Simulates a server that died without removing its socket file.
    std::string kept = scratch.path("kept.sock");
    ASSERT_EQ(::link(path.c_str(), kept.c_str()), 0);
  }
  ASSERT_EQ(::rename(scratch.path("kept.sock").c_str(), path.c_str()), 0);
  EXPECT_TRUE(ServiceSocketListener::listen(path));
}

}  // namespace
}  // namespace qlt
