#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/cloud/cloud_record_id.h"
#include "platform/foundation/property_list.h"

namespace qlt {

class Item;
class Library;

// Tag data from the service made the item's library tags: the tags named in
// `data` (created when missing; those never uploaded are added to
// `insertedTagRecordIDs`) replace the item's tags and take the label
// colours the data gives them. Only when kItemImportFinderTagsKey is on.
// REQUIRES: inside the item's context.
void setItemTagsFromFileProviderTagData(Item& item, const Bytes& data, const std::shared_ptr<Library>& library,
                                        std::set<RecordID>& insertedTagRecordIDs);

}  // namespace qlt
