#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// The service's two markers for the first page of a listing.
Bytes fileProviderInitialPageSortedByDate();
Bytes fileProviderInitialPageSortedByName();

inline constexpr int64_t kFileProviderDefaultPageSize = 200;

// Receives one page of a listing. Exactly one finish call ends the page.
// The receiving calls may throw; the enumerator then reports the failure.
class FileProviderEnumerationObserver {
 public:
  virtual ~FileProviderEnumerationObserver() = default;
  virtual int64_t suggestedPageSize() const { return kFileProviderDefaultPageSize; }
  virtual void didEnumerateItems(const std::vector<FileProviderItemPtr>& items) = 0;
  // nullopt: the listing is complete.
  virtual void finishEnumeratingUpToPage(const std::optional<Bytes>& nextPage) = 0;
  virtual void finishEnumeratingWithError(const Error& error) = 0;
};

// Receives one batch of changes since a sync anchor.
class FileProviderChangeObserver {
 public:
  virtual ~FileProviderChangeObserver() = default;
  virtual int64_t suggestedBatchSize() const { return kFileProviderDefaultPageSize; }
  virtual void didUpdateItems(const std::vector<FileProviderItemPtr>& items) = 0;
  virtual void didDeleteItemsWithIdentifiers(const std::vector<std::string>& identifiers) = 0;
  virtual void finishEnumeratingChangesUpToSyncAnchor(const Bytes& anchor, bool moreComing) = 0;
  virtual void finishEnumeratingWithError(const Error& error) = 0;
};

}  // namespace qlt
