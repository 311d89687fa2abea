// list, list-all, changes and anchor: the service's enumeration requests.
#include <vector>

#include "extension/file_provider_enumerator.h"
#include "platform/foundation/base64.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

struct PageObserver : FileProviderEnumerationObserver {
  explicit PageObserver(int64_t pageSize) : pageSize(pageSize) {}
  int64_t suggestedPageSize() const override { return pageSize; }
  void didEnumerateItems(const std::vector<FileProviderItemPtr>& received) override {
    for (const auto& item : received) items.push_back(descriptorJSON(*item));
  }
  void finishEnumeratingUpToPage(const std::optional<Bytes>& page) override {
    finished = true;
    nextPage = page;
  }
  void finishEnumeratingWithError(const Error& failure) override { error = failure; }

  int64_t pageSize;
  nlohmann::json items = nlohmann::json::array();
  std::optional<Bytes> nextPage;
  bool finished = false;
  std::optional<Error> error;
};

struct ChangeObserver : FileProviderChangeObserver {
  explicit ChangeObserver(int64_t batchSize) : batchSize(batchSize) {}
  int64_t suggestedBatchSize() const override { return batchSize; }
  void didUpdateItems(const std::vector<FileProviderItemPtr>& received) override {
    for (const auto& item : received) updated.push_back(descriptorJSON(*item));
  }
  void didDeleteItemsWithIdentifiers(const std::vector<std::string>& identifiers) override {
    for (const auto& identifier : identifiers) deleted.push_back(identifier);
  }
  void finishEnumeratingChangesUpToSyncAnchor(const Bytes& newAnchor, bool more) override {
    anchor = newAnchor;
    moreComing = more;
  }
  void finishEnumeratingWithError(const Error& failure) override { error = failure; }

  int64_t batchSize;
  nlohmann::json updated = nlohmann::json::array();
  nlohmann::json deleted = nlohmann::json::array();
  std::optional<Bytes> anchor;
  bool moreComing = false;
  std::optional<Error> error;
};

int fail(const Error& error) {
  printError(error);
  return 1;
}

bool checkSize(int64_t size, const char* name, Error* error) {
  if (size > 0) return true;
  setError(error, badArgument(std::string(name) + " must be a positive number."));
  return false;
}

// The page to start from: a token, one of the service's initial markers,
// or none.
bool startPage(const ListOptions& options, std::optional<Bytes>& page, Error* error) {
  if (int(options.page.has_value()) + int(options.byDate) + int(options.byName) > 1) {
    setError(error, badArgument("Give at most one of --page, --by-date and --by-name."));
    return false;
  }
  if (options.page) {
    page = parsePageToken(*options.page, error);
    return page.has_value();
  }
  if (options.byDate) page = fileProviderInitialPageSortedByDate();
  if (options.byName) page = fileProviderInitialPageSortedByName();
  return true;
}

}  // namespace

std::string containerIdentifier(const std::string& name) {
  if (name == "root") return kRootContainerItemIdentifier;
  if (name == "trash") return kTrashContainerItemIdentifier;
  if (name == "working-set") return kWorkingSetContainerItemIdentifier;
  return name;
}

// Checks the options, starts the extension and opens the container's
// enumerator; null with the error otherwise.
static std::shared_ptr<FileProviderEnumerator> openListing(const CommonOptions& common, const ListOptions& options,
                                                           std::optional<Bytes>& page,
                                                           std::unique_ptr<ExtensionSession>& session, Error* error) {
  prepareEnvironment(common);
  if (!checkSize(options.pageSize, "--page-size", error) || !startPage(options, page, error)) return nullptr;
  session = ExtensionSession::start(common, error);
  if (!session) return nullptr;
  return session->extension().enumeratorForContainerItemIdentifier(containerIdentifier(options.container), error);
}

int listCommand(const CommonOptions& common, const ListOptions& options) {
  Error error;
  std::optional<Bytes> page;
  std::unique_ptr<ExtensionSession> session;
  auto enumerator = openListing(common, options, page, session, &error);
  if (!enumerator) return fail(error);

  PageObserver observer(options.pageSize);
  enumerator->enumerateItemsForObserver(observer, page);
  enumerator->invalidate();
  if (observer.error) return fail(*observer.error);
  printLine({{"items", observer.items}, {"nextPage", pageTokenJSON(observer.nextPage)}});
  return 0;
}

int listAllCommand(const CommonOptions& common, const ListOptions& options) {
  Error error;
  std::optional<Bytes> page;
  std::unique_ptr<ExtensionSession> session;
  auto enumerator = openListing(common, options, page, session, &error);
  if (!enumerator) return fail(error);

  uint64_t pages = 0;
  uint64_t items = 0;
  for (;;) {
    PageObserver observer(options.pageSize);
    enumerator->enumerateItemsForObserver(observer, page);
    if (observer.error) {
      enumerator->invalidate();
      return fail(*observer.error);
    }
    size_t received = observer.items.size();
    items += received;
    nlohmann::json line = nlohmann::json::object();
    line["page"] = pages++;
    line["items"] = std::move(observer.items);
    line["nextPage"] = pageTokenJSON(observer.nextPage);
    printLine(line);
    if (!observer.nextPage || received == 0) break;
    page = observer.nextPage;
  }
  enumerator->invalidate();
  printLine({{"summary", {{"pages", pages}, {"items", items}}}});
  return 0;
}

int changesCommand(const CommonOptions& common, const ChangesOptions& options) {
  prepareEnvironment(common);
  Error error;
  std::optional<Bytes> anchor;
  if (!checkSize(options.batchSize, "--batch-size", &error)) return fail(error);
  if (options.anchor) {
    anchor = parseSyncAnchor(*options.anchor, &error);
    if (!anchor) return fail(error);
  }
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto enumerator = session->extension().enumeratorForContainerItemIdentifier(containerIdentifier(options.container),
                                                                              &error);
  if (!enumerator) return fail(error);

  // How a change enumeration is followed. The enumerator keeps its offsets
  // between calls and recounts its totals from the anchor it is given, and
  // one save of the library's view context stamps all its objects with one
  // date. So every batch is asked on this same enumerator from the starting
  // anchor until more-coming is false, and only the anchor of that last
  // batch may be adopted for the next enumeration. Asking a batch from an
  // intermediate anchor, or from a new enumerator, skips objects; so does
  // reusing this enumerator for another enumeration.
  for (;;) {
    ChangeObserver observer(options.batchSize);
    enumerator->enumerateChangesForObserver(observer, anchor);
    if (observer.error) {
      enumerator->invalidate();
      return fail(*observer.error);
    }
    printLine({{"updated", observer.updated},
               {"deleted", observer.deleted},
               {"anchor", observer.anchor ? nlohmann::json(base64Encode(*observer.anchor)) : nlohmann::json()},
               {"moreComing", observer.moreComing}});
    if (!observer.moreComing) break;
  }
  enumerator->invalidate();
  return 0;
}

int anchorCommand(const CommonOptions& common) {
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto enumerator = session->extension().enumeratorForContainerItemIdentifier(kWorkingSetContainerItemIdentifier,
                                                                              &error);
  if (!enumerator) return fail(error);
  std::optional<Bytes> anchor = enumerator->currentSyncAnchor();
  enumerator->invalidate();
  nlohmann::json date;
  if (anchor) date = optionalDate(dateFromSyncAnchor(*anchor));
  printLine({{"anchor", anchor ? nlohmann::json(base64Encode(*anchor)) : nlohmann::json()}, {"date", date}});
  return 0;
}

}  // namespace qlt::tool
