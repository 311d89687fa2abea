#include "platform/files/group_container.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/files/file_system.h"
#include "support/scoped_environment.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

constexpr const char* kHost = "com.quillet.mac";


TEST(GroupContainerTest, PathFollowsEnvironmentAndIsCreated) {
  ScratchDirectory scratch;
  ScopedEnvironment noOverride("QLT_GROUP_CONTAINER", nullptr);
  {
    ScopedEnvironment data("XDG_DATA_HOME", scratch.path("data").c_str());
    EXPECT_EQ(groupContainerPath("group.quillet"), scratch.path("data/group.quillet"));
    EXPECT_TRUE(isDirectory(scratch.path("data/group.quillet")));
    Error error;
    EXPECT_EQ(groupContainerPath("../escape", &error), std::nullopt);
    EXPECT_EQ(groupContainerPath("", &error), std::nullopt);
  }
  {
    ScopedEnvironment home("HOME", scratch.path("home").c_str());
    ScopedEnvironment relative("XDG_DATA_HOME", "relative");
    EXPECT_EQ(groupContainerPath("g"), scratch.path("home/.local/share/g"));
  }
  ScopedEnvironment fixed("QLT_GROUP_CONTAINER", scratch.path("fixed/here").c_str());
  EXPECT_EQ(groupContainerPath("ignored"), scratch.path("fixed/here"));
  EXPECT_TRUE(isDirectory(scratch.path("fixed/here")));
}

TEST(GroupContainerTest, LockInThisProcess) {
  ScratchDirectory scratch;
  EXPECT_FALSE(isApplicationRunning(scratch.path(), kHost));
  auto lock = ApplicationLock::acquire(scratch.path(), kHost);
  ASSERT_TRUE(lock);
  EXPECT_TRUE(isApplicationRunning(scratch.path(), kHost));
  EXPECT_FALSE(isApplicationRunning(scratch.path(), "com.quillet.other"));
  Error error;
  EXPECT_EQ(ApplicationLock::acquire(scratch.path(), kHost, &error), nullptr);
  EXPECT_NE(error.localizedDescription().find("already running"), std::string::npos);
  EXPECT_TRUE(isApplicationRunning(scratch.path(), kHost));
  lock.reset();
  EXPECT_TRUE(fileExists(scratch.path(std::string(kHost) + ".lock")));
  EXPECT_FALSE(isApplicationRunning(scratch.path(), kHost));
  EXPECT_EQ(ApplicationLock::acquire(scratch.path(), "../x", &error), nullptr);
  EXPECT_EQ(ApplicationLock::acquire(scratch.path("missing"), kHost), nullptr);
}

TEST(GroupContainerTest, LockHeldByAnotherProcess) {
  ScratchDirectory scratch;
  int locked[2], finish[2];
  ASSERT_EQ(pipe(locked), 0);
  ASSERT_EQ(pipe(finish), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(locked[0]);
    close(finish[1]);  // so that the child ends if this test does
    auto lock = ApplicationLock::acquire(scratch.path(), kHost);
    char byte = lock ? 1 : 0;
    if (write(locked[1], &byte, 1) != 1 || read(finish[0], &byte, 1) != 1) _exit(2);
    _exit(0);  // the lock goes with the process, without running destructors
  }
  close(locked[1]);
  close(finish[0]);
  char byte = 0;
  ASSERT_EQ(read(locked[0], &byte, 1), 1);
  EXPECT_EQ(byte, 1);
  EXPECT_TRUE(isApplicationRunning(scratch.path(), kHost));
  EXPECT_EQ(ApplicationLock::acquire(scratch.path(), kHost), nullptr);
  ASSERT_EQ(write(finish[1], &byte, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(isApplicationRunning(scratch.path(), kHost));
  EXPECT_NE(ApplicationLock::acquire(scratch.path(), kHost), nullptr);
  close(locked[0]);
  close(finish[1]);
}

}  // namespace
}  // namespace qlt
