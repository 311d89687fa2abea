#include "extension/file_provider_tag_data.h"

#include "model/finder_tags.h"
#include "model/item.h"
#include "model/tag.h"
#include "platform/defaults/user_defaults.h"
#include "store/library.h"

namespace qlt {

void setItemTagsFromFileProviderTagData(Item& item, const Bytes& data, const std::shared_ptr<Library>& library,
                                        std::set<RecordID>& insertedTagRecordIDs) {
  if (!UserDefaults::standard().boolForKey(kItemImportFinderTagsKey)) return;
  std::vector<std::string> names = Tag::tagNamesFromFileProviderTagData(data).value_or(std::vector<std::string>());
  std::vector<ManagedObjectPtr> tags;
  for (const Tag::Ptr& tag : Tag::tagsWithNames(names, library, true)) {
    if (tag->cloudRecord().recordChangeTag().empty()) insertedTagRecordIDs.insert(tag->cloudRecordID());
    tags.push_back(tag);
  }
  item.setObjectsForKey("tags", tags);
  Tag::updateTagNamesOfItem(item);
  item.tagsDidChange();
  std::vector<int64_t> colors = Tag::tagLabelColorsFromFileProviderTagData(data).value_or(std::vector<int64_t>());
  for (size_t i = 0; i < names.size() && i < colors.size(); ++i)
    if (Tag::Ptr tag = Tag::tagWithName(names[i], library)) tag->setFileLabelColor(colors[i]);
}

}  // namespace qlt
