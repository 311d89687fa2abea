#include "platform/defaults/user_defaults.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files/property_list_file.h"
#include "platform/foundation/property_list_serialization.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) savedConfig_ = old;
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  }
  void TearDown() override {
    if (savedConfig_) {
      setenv("XDG_CONFIG_HOME", savedConfig_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }
  std::string plistPath(const std::string& domain) const {
    return root_ + "/quillet/preferences/" + domain + ".plist";
  }
  // Replaces a domain's file the way another process would.
  void writeBehindOurBack(const std::string& domain, PropertyListDictionary contents) {
    ASSERT_TRUE(writePropertyListToFile(PropertyList(std::move(contents)), plistPath(domain),
                                        PropertyListFormat::Binary));
  }
  static void waitForChild(pid_t child) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  ScratchDirectory scratch_;
  const std::string root_ = scratch_.path();
  std::optional<std::string> savedConfig_;
};

TEST_F(UserDefaultsTest, OwnDomainThenSuitesThenRegistration) {
  UserDefaults group("group.quillet");
  ASSERT_TRUE(group.setString("from group", "shared"));
  ASSERT_TRUE(group.setString("from group", "both"));

  UserDefaults defaults("com.example.app");
  defaults.registerDefaults({{"shared", "registered"}, {"onlyRegistered", 5}});
  ASSERT_TRUE(defaults.setString("own", "both"));
  EXPECT_EQ(defaults.stringForKey("shared"), "registered");
  defaults.addSuiteNamed("group.quillet");
  EXPECT_EQ(defaults.stringForKey("shared"), "from group");
  EXPECT_EQ(defaults.stringForKey("both"), "own");
  EXPECT_EQ(defaults.integerForKey("onlyRegistered"), 5);
  auto all = defaults.dictionaryRepresentation();
  EXPECT_EQ(all.size(), 3u);
  EXPECT_EQ(all["both"], PropertyList("own"));

  defaults.removeSuiteNamed("group.quillet");
  EXPECT_EQ(defaults.stringForKey("shared"), "registered");
  // Registered values stay in memory and in this object.
  EXPECT_FALSE(UserDefaults("com.example.app").objectForKey("onlyRegistered"));
  auto onDisk = readPropertyListFromFile(plistPath("com.example.app"));
  ASSERT_TRUE(onDisk);
  EXPECT_EQ(onDisk->dictionary()->size(), 1u);
}

TEST_F(UserDefaultsTest, TypedGettersReadLeniently) {
  UserDefaults defaults("typed");
  EXPECT_FALSE(defaults.boolForKey("unset"));
  EXPECT_EQ(defaults.integerForKey("unset"), 0);
  defaults.registerDefaults({{"yes", "YES"}, {"one", "1"}, {"no", "NO"}, {"answer", "42"}, {"ratio", 2},
                             {"big", 7000000000LL}, {"pi", 3.25}, {"list", PropertyListArray{1, 2}}});
  EXPECT_TRUE(defaults.boolForKey("yes"));
  EXPECT_TRUE(defaults.boolForKey("one"));
  EXPECT_FALSE(defaults.boolForKey("no"));
  EXPECT_TRUE(defaults.boolForKey("pi"));
  EXPECT_EQ(defaults.integerForKey("answer"), 42);
  EXPECT_EQ(defaults.integerForKey("big"), 7000000000LL);
  EXPECT_EQ(defaults.doubleForKey("ratio"), 2.0);
  EXPECT_EQ(defaults.stringForKey("pi"), "3.25");
  EXPECT_EQ(defaults.integerForKey("list"), 0);
  EXPECT_FALSE(defaults.dataForKey("answer"));
  EXPECT_EQ(defaults.arrayForKey("list")->size(), 2u);

  ASSERT_TRUE(defaults.setObject(PropertyList(Date(12.5)), "when"));
  ASSERT_TRUE(defaults.setObject(PropertyList(Bytes{1, 2, 3}), "blob"));
  EXPECT_EQ(UserDefaults("typed").dateForKey("when"), Date(12.5));
  EXPECT_EQ(UserDefaults("typed").dataForKey("blob"), (Bytes{1, 2, 3}));
}

TEST_F(UserDefaultsTest, FileChangesOfOtherWritersAndDamagedFiles) {
  UserDefaults defaults("external");
  ASSERT_TRUE(defaults.setInteger(1, "count"));
  std::ifstream file(plistPath("external"), std::ios::binary);
  std::string magic(8, '\0');
  file.read(magic.data(), 8);
  EXPECT_EQ(magic, "bplist00");

  writeBehindOurBack("external", {{"count", 2}, {"added", true}});
  EXPECT_EQ(defaults.integerForKey("count"), 2);
  EXPECT_TRUE(defaults.boolForKey("added"));

  std::ofstream(plistPath("external"), std::ios::trunc) << "not a property list";
  EXPECT_FALSE(defaults.objectForKey("count"));
  EXPECT_TRUE(std::filesystem::exists(plistPath("external")));
  ASSERT_TRUE(defaults.setBool(true, "fresh"));
  auto repaired = readPropertyListFromFile(plistPath("external"));
  ASSERT_TRUE(repaired);
  EXPECT_EQ(*repaired, PropertyList(PropertyListDictionary{{"fresh", true}}));
}

TEST_F(UserDefaultsTest, UnwritableFolderFailsButKeepsValueInMemory) {
  std::ofstream(root_ + "/blocker") << "x";
  setenv("XDG_CONFIG_HOME", (root_ + "/blocker").c_str(), 1);
  UserDefaults defaults("unwritable");
  Error error;
  EXPECT_FALSE(defaults.setString("kept", "key", &error));
  EXPECT_FALSE(error.domain().empty());
  EXPECT_EQ(defaults.stringForKey("key"), "kept");
}

TEST_F(UserDefaultsTest, ObserversHearChangesOfTheVisibleValue) {
  UserDefaults defaults("observed");
  defaults.addSuiteNamed("observed.group");
  UserDefaults group("observed.group");
  std::vector<std::optional<PropertyList>> heard;
  auto token = defaults.addObserver("mode", [&](const auto& value) { heard.push_back(value); });

  defaults.registerDefaults({{"mode", "registered"}});
  ASSERT_TRUE(group.setString("group", "mode"));
  ASSERT_TRUE(defaults.setString("own", "mode"));
  ASSERT_TRUE(defaults.setString("own", "mode"));         // unchanged: silent
  ASSERT_TRUE(group.setString("group again", "mode"));    // shadowed: silent
  ASSERT_TRUE(defaults.setString("other", "unrelated"));  // other key: silent
  writeBehindOurBack("observed", {{"mode", "external"}});
  defaults.synchronize();
  ASSERT_TRUE(defaults.removeObjectForKey("mode"));
  defaults.removeSuiteNamed("observed.group");
  defaults.removeObserver(token);
  ASSERT_TRUE(defaults.setString("unheard", "mode"));

  std::vector<std::optional<PropertyList>> expected{PropertyList("registered"), PropertyList("group"),
                                                    PropertyList("own"),        PropertyList("external"),
                                                    PropertyList("group again"), PropertyList("registered")};
  EXPECT_EQ(heard, expected);
}

TEST_F(UserDefaultsTest, ObserverMayChangeDefaultsAndRemoveItself) {
  UserDefaults defaults("reentrant");
  ObserverToken token = 0;
  int calls = 0;
  token = defaults.addObserver("trigger", [&](const auto&) {
    ++calls;
    defaults.removeObserver(token);
    EXPECT_TRUE(defaults.setInteger(calls, "trigger"));
  });
  ASSERT_TRUE(defaults.setInteger(100, "trigger"));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(defaults.integerForKey("trigger"), 1);
}

TEST_F(UserDefaultsTest, AnotherProcessSeesWritesAndConcurrentWritersLoseNothing) {
  UserDefaults defaults("shared.across.processes");
  ASSERT_TRUE(defaults.setString("before fork", "start"));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    UserDefaults mine("shared.across.processes");
    bool ok = mine.setString("from child", "greeting");
    _exit(ok ? 0 : 1);
  }
  waitForChild(child);
  EXPECT_EQ(defaults.stringForKey("greeting"), "from child");

  constexpr int kWrites = 50;
  child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    UserDefaults mine("shared.across.processes");
    bool ok = true;
    for (int i = 0; i < kWrites; ++i) ok = mine.setInteger(i, "child" + std::to_string(i)) && ok;
    _exit(ok ? 0 : 1);
  }
  for (int i = 0; i < kWrites; ++i) ASSERT_TRUE(defaults.setInteger(i, "parent" + std::to_string(i)));
  waitForChild(child);
  auto all = UserDefaults("shared.across.processes").dictionaryRepresentation();
  EXPECT_EQ(all.size(), 2u + 2 * kWrites);
  EXPECT_EQ(all["child49"], PropertyList(49));
}

TEST_F(UserDefaultsTest, StandardDefaultsUseTheApplicationDomain) {
  UserDefaults& standard = UserDefaults::standard();
  EXPECT_EQ(&standard, &UserDefaults::standard());
  EXPECT_EQ(standard.domainName(), UserDefaults::applicationDomain());
  EXPECT_EQ(UserDefaults().domainName(), UserDefaults::applicationDomain());
  EXPECT_FALSE(UserDefaults::setApplicationDomain("com.example.too.late"));
  EXPECT_TRUE(UserDefaults::setApplicationDomain(UserDefaults::applicationDomain()));
}

}  // namespace
}  // namespace qlt
