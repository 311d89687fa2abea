#include "extension/get_item_file_url_operation.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/dispatch/operation_queue.h"
#include "platform/files/group_container.h"
#include "store/library_manager.h"
#include "support/scoped_environment.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

class GetItemFileURLOperationTest : public ::testing::Test {
 protected:
  struct Answer {
    std::optional<std::string> url;
    std::optional<Error> error;
    int calls = 0;
  };

  // Runs a lookup on a queue, waits for it, and returns what the
  // completion block received.
  Answer lookUp(const std::string& identifier) {
    Answer answer;
    auto operation = GetItemFileURLOperation::getItemFileURLOperationForFileProviderItemIdentifier(identifier, domain_);
    operation->setGetURLCompletionBlock([&](const std::optional<std::string>& url, const Error* error) {
      answer.url = url;
      if (error) answer.error = *error;
      ++answer.calls;
    });
    OperationQueue queue;
    queue.addOperationAndWaitUntilFinished(operation);
    EXPECT_TRUE(operation->isFinished());
    EXPECT_FALSE(operation->isExecuting());
    EXPECT_TRUE(operation->isAsynchronous());
    return answer;
  }

  std::shared_ptr<FileProviderDomainManager> domainManager() {
    return FileProviderDomainManager::managerForDomain(domain_, scratch_.path());
  }

  ScratchDirectory scratch_;
  ScopedEnvironment container_{"QLT_GROUP_CONTAINER", scratch_.path().c_str()};
  FileProviderDomain domain_{"url.test", "URL Test"};
};

TEST_F(GetItemFileURLOperationTest, HandsOnTheDomainManagersAnswerUnchanged) {
  ASSERT_EQ(groupContainerPath(kSharedDefaultsSuite).value_or(""), scratch_.path());
  domainManager()->setUserVisibleURLResolver([](const std::string& identifier, Error* error) {
    if (identifier == "Item|A") return std::optional<std::string>("/mnt/quillet/Notes/A.txt");
    setError(error, Error(kFileProviderErrorDomain, kFileProviderErrorServerUnreachable));
    return std::optional<std::string>();
  });
  Answer found = lookUp("Item|A");
  EXPECT_EQ(found.url, "/mnt/quillet/Notes/A.txt");
  EXPECT_FALSE(found.error);
  EXPECT_EQ(found.calls, 1);

  Answer refused = lookUp("Item|B");
  EXPECT_FALSE(refused.url);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code(), kFileProviderErrorServerUnreachable);
}

TEST_F(GetItemFileURLOperationTest, FailsWithoutAResolverAndForARemovedDomain) {
  Answer unknown = lookUp("Item|A");
  ASSERT_TRUE(unknown.error);
  EXPECT_EQ(unknown.error->code(), kFileProviderErrorNoSuchItem);
  EXPECT_EQ(unknown.calls, 1);

  domainManager()->setUserVisibleURLResolver(
      [](const std::string&, Error*) { return std::optional<std::string>("/mnt/quillet/A.txt"); });
  FileProviderDomainManager::removeDomain(domain_, scratch_.path());
  Answer removed = lookUp("Item|A");
  FileProviderDomainManager::addDomain(domain_, scratch_.path());
  EXPECT_FALSE(removed.url);
  ASSERT_TRUE(removed.error);
  EXPECT_EQ(removed.error->domain(), kFileProviderErrorDomain);
  EXPECT_EQ(removed.error->code(), kFileProviderErrorProviderNotFound);
  EXPECT_EQ(lookUp("Item|A").url, "/mnt/quillet/A.txt");
}

}  // namespace
}  // namespace qlt
