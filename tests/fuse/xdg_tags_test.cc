#include <gtest/gtest.h>

#include "fuse/library_file_system.h"
#include "model/tag_data.h"

namespace qlt::fuse {
namespace {

struct Tagged : FileProviderItem {
  std::optional<Bytes> data;
  std::string itemIdentifier() const override { return "Item|1"; }
  std::optional<Bytes> tagData() const override { return data; }
};

// File managers read "user.xdg.tags" as comma-separated names; both forms
// of tag data the extension hands out read the same, and anything else
// shows no tags rather than failing the attribute.
TEST(XdgTagsTest, BothTagDataFormsReadAsCommaSeparatedNames) {
  Tagged item;
  EXPECT_EQ(xdgTags(item), "");
  item.data = fileProviderTagData({{"Work", 4}, {"Red", 6}});
  EXPECT_EQ(xdgTags(item), "Work,Red");
  item.data = finderTagListData({{"Home", 0}});
  EXPECT_EQ(xdgTags(item), "Home");
  item.data = Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'l', 'i', 's', 't'};
  EXPECT_EQ(xdgTags(item), "");
}

}  // namespace
}  // namespace qlt::fuse
