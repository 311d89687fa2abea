#include "fuse/service_client.h"

#include <future>

#include "extension/file_provider_enumerator.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/fileprovider/file_provider_enumeration.h"

namespace qlt::fuse {

namespace {

constexpr int64_t kPageSize = 500;
constexpr int64_t kBatchSize = 500;
// An enumeration that never says it is done is cut off.
constexpr int kMaximumRounds = 100000;

Error timedOut(const std::string& what) {
  return fileProviderError(kFileProviderErrorServerUnreachable, what + " did not answer in time.");
}

// Waits for an answer given once from another thread.
template <class T>
std::optional<T> await(std::future<T>& future) {
  if (future.wait_for(ServiceClient::kRequestTimeout) != std::future_status::ready) return std::nullopt;
  return future.get();
}

struct Page : FileProviderEnumerationObserver {
  int64_t suggestedPageSize() const override { return kPageSize; }
  void didEnumerateItems(const std::vector<FileProviderItemPtr>& items) override {
    received.insert(received.end(), items.begin(), items.end());
  }
  void finishEnumeratingUpToPage(const std::optional<Bytes>& page) override { next = page; }
  void finishEnumeratingWithError(const Error& error) override { failure = error; }
  std::vector<FileProviderItemPtr> received;
  std::optional<Bytes> next;
  std::optional<Error> failure;
};

struct Batch : FileProviderChangeObserver {
  int64_t suggestedBatchSize() const override { return kBatchSize; }
  void didUpdateItems(const std::vector<FileProviderItemPtr>& items) override {
    updated.insert(updated.end(), items.begin(), items.end());
  }
  void didDeleteItemsWithIdentifiers(const std::vector<std::string>& identifiers) override {
    deleted.insert(deleted.end(), identifiers.begin(), identifiers.end());
  }
  void finishEnumeratingChangesUpToSyncAnchor(const Bytes& anchor, bool more) override {
    reached = anchor;
    moreComing = more;
  }
  void finishEnumeratingWithError(const Error& error) override { failure = error; }
  std::vector<FileProviderItemPtr> updated;
  std::vector<std::string> deleted;
  std::optional<Bytes> reached;
  bool moreComing = false;
  std::optional<Error> failure;
};

}  // namespace

FileProviderItemPtr ServiceClient::item(const std::string& identifier, Error* error) const {
  struct Answer {
    FileProviderItemPtr item;
    std::optional<Error> failure;
  };
  auto promise = std::make_shared<std::promise<Answer>>();
  auto once = std::make_shared<std::once_flag>();
  std::future<Answer> future = promise->get_future();
  extension_->itemForIdentifier(identifier, [promise, once](FileProviderItemPtr item, const Error* failure) {
    std::call_once(*once, [&] { promise->set_value({std::move(item), failure ? std::optional(*failure) : std::nullopt}); });
  });
  std::optional<Answer> answer = await(future);
  if (!answer) {
    setError(error, timedOut("The item request"));
    return nullptr;
  }
  if (answer->failure) {
    setError(error, *answer->failure);
    return nullptr;
  }
  if (!answer->item) setError(error, fileProviderErrorForNonExistentItem(identifier));
  return answer->item;
}

std::optional<std::vector<FileProviderItemPtr>> ServiceClient::children(const std::string& container,
                                                                        Error* error) const {
  Error failure;
  auto enumerator = extension_->enumeratorForContainerItemIdentifier(container, &failure);
  if (!enumerator) {
    setError(error, failure);
    return std::nullopt;
  }
  std::vector<FileProviderItemPtr> all;
  std::optional<Bytes> page;
  for (int round = 0; round < kMaximumRounds; ++round) {
    Page answer;
    enumerator->enumerateItemsForObserver(answer, page);
    if (answer.failure) {
      enumerator->invalidate();
      setError(error, *answer.failure);
      return std::nullopt;
    }
    all.insert(all.end(), answer.received.begin(), answer.received.end());
    if (!answer.next) break;
    page = std::move(answer.next);
  }
  enumerator->invalidate();
  return all;
}

std::optional<ServiceClient::Contents> ServiceClient::contents(const std::string& identifier, Error* error) const {
  struct Answer {
    std::optional<std::string> path;
    FileProviderItemPtr item;
    std::optional<Error> failure;
  };
  auto promise = std::make_shared<std::promise<Answer>>();
  auto once = std::make_shared<std::once_flag>();
  std::future<Answer> future = promise->get_future();
  extension_->fetchContentsForItemWithIdentifier(
      identifier, [promise, once](const std::optional<std::string>& path, FileProviderItemPtr item, const Error* failure) {
        std::call_once(*once, [&] {
          promise->set_value({path, std::move(item), failure ? std::optional(*failure) : std::nullopt});
        });
      });
  std::optional<Answer> answer = await(future);
  if (!answer) {
    setError(error, timedOut("The contents request"));
    return std::nullopt;
  }
  if (answer->failure) {
    setError(error, *answer->failure);
    return std::nullopt;
  }
  if (!answer->path || !answer->item) {
    setError(error, fileProviderErrorForNonExistentItem(identifier));
    return std::nullopt;
  }
  return Contents{*answer->path, answer->item};
}

std::optional<ServiceClient::Changes> ServiceClient::changesSince(const Bytes& anchor, Error* error) const {
  Error failure;
  auto enumerator = extension_->enumeratorForContainerItemIdentifier(kWorkingSetContainerItemIdentifier, &failure);
  if (!enumerator) {
    setError(error, failure);
    return std::nullopt;
  }
  Changes changes;
  changes.anchor = anchor;
  for (int round = 0; round < kMaximumRounds; ++round) {
    // Every batch starts from the same anchor: the enumerator carries on
    // where its last batch stopped.
    Batch batch;
    enumerator->enumerateChangesForObserver(batch, anchor);
    if (batch.failure) {
      enumerator->invalidate();
      setError(error, *batch.failure);
      return std::nullopt;
    }
    changes.updated.insert(changes.updated.end(), batch.updated.begin(), batch.updated.end());
    changes.deleted.insert(changes.deleted.end(), batch.deleted.begin(), batch.deleted.end());
    if (batch.reached) changes.anchor = *batch.reached;
    if (!batch.moreComing) break;
  }
  enumerator->invalidate();
  return changes;
}

std::optional<Bytes> ServiceClient::currentAnchor(Error* error) const {
  Error failure;
  auto enumerator = extension_->enumeratorForContainerItemIdentifier(kWorkingSetContainerItemIdentifier, &failure);
  if (!enumerator) {
    setError(error, failure);
    return std::nullopt;
  }
  std::optional<Bytes> anchor = enumerator->currentSyncAnchor();
  enumerator->invalidate();
  if (!anchor) setError(error, fileProviderError(kFileProviderErrorSyncAnchorExpired, "The working set has no anchor."));
  return anchor;
}

namespace {

struct ItemAnswer {
  FileProviderItemPtr item;
  std::optional<Error> failure;
};

// Waits for a create or modify request's answer.
FileProviderItemPtr awaitItem(const std::function<void(FileProviderExtension::CreateCompletion)>& request,
                              const std::string& what, Error* error) {
  auto promise = std::make_shared<std::promise<ItemAnswer>>();
  auto once = std::make_shared<std::once_flag>();
  std::future<ItemAnswer> future = promise->get_future();
  request([promise, once](FileProviderItemPtr item, uint64_t, bool, const Error* failure) {
    std::call_once(*once, [&] { promise->set_value({std::move(item), failure ? std::optional(*failure) : std::nullopt}); });
  });
  std::optional<ItemAnswer> answer = await(future);
  if (!answer) {
    setError(error, timedOut(what));
    return nullptr;
  }
  if (answer->failure) setError(error, *answer->failure);
  return answer->failure ? nullptr : answer->item;
}

}  // namespace

FileProviderItemPtr ServiceClient::create(FileProviderItemPtr itemTemplate, uint64_t fields,
                                          const std::optional<std::string>& contents, Error* error) const {
  return awaitItem(
      [&](FileProviderExtension::CreateCompletion completion) {
        extension_->createItemBasedOnTemplate(itemTemplate, fields, contents, 0, std::move(completion));
      },
      "The create request", error);
}

FileProviderItemPtr ServiceClient::modify(FileProviderItemPtr item, uint64_t changedFields,
                                          const std::optional<std::string>& contents, Error* error) const {
  return awaitItem(
      [&](FileProviderExtension::ModifyCompletion completion) {
        extension_->modifyItem(item, std::nullopt, changedFields, contents, 0, std::move(completion));
      },
      "The modify request", error);
}

bool ServiceClient::remove(const std::string& identifier, bool recursive, Error* error) const {
  auto promise = std::make_shared<std::promise<std::optional<Error>>>();
  auto once = std::make_shared<std::once_flag>();
  std::future<std::optional<Error>> future = promise->get_future();
  extension_->deleteItemWithIdentifier(identifier, std::nullopt, recursive ? uint64_t{kFileProviderDeleteItemRecursive} : 0,
                                       [promise, once](const Error* failure) {
                                         std::call_once(*once, [&] {
                                           promise->set_value(failure ? std::optional(*failure) : std::nullopt);
                                         });
                                       });
  std::optional<std::optional<Error>> answer = await(future);
  if (!answer) {
    setError(error, timedOut("The delete request"));
    return false;
  }
  if (*answer) setError(error, **answer);
  return !*answer;
}

}  // namespace qlt::fuse
