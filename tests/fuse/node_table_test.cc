#include "fuse/node_table.h"

#include <gtest/gtest.h>

namespace qlt::fuse {
namespace {

// Inode numbers belong to identifiers for the life of the mount: a node
// that moves, is listed again or leaves a listing keeps its number, and
// paths follow the latest placement.
TEST(NodeTableTest, InodesStayWithIdentifiersThroughMovesAndRelistings) {
  NodeTable table("root");
  fuse_ino_t folder = table.place("Folder|A", NodeTable::kRoot, "A", nullptr, true, false);
  fuse_ino_t other = table.place("Folder|B", NodeTable::kRoot, "B", nullptr, true, false);
  fuse_ino_t item = table.place("Item|1", folder, "note.txt", nullptr, false, false);
  table.setChildren(NodeTable::kRoot, {{"A", folder}, {"B", other}});
  table.setChildren(folder, {{"note.txt", item}});
  EXPECT_EQ(table.relativePath(item), "A/note.txt");
  EXPECT_EQ(table.relativePath(NodeTable::kRoot), "");

  EXPECT_EQ(table.place("Item|1", folder, "note.txt", nullptr, false, false), item) << "listed again";
  table.detach(item);
  EXPECT_TRUE(table.node(folder)->children->empty());
  EXPECT_EQ(table.place("Item|1", other, "renamed.txt", nullptr, false, false), item) << "moved";
  EXPECT_EQ(table.relativePath(item), "B/renamed.txt");
  // Placed elsewhere without being detached first (a listing of its new
  // folder): the old listing no longer shows it.
  table.setChildren(other, {{"renamed.txt", item}});
  table.place("Item|1", folder, "back.txt", nullptr, false, false);
  EXPECT_TRUE(table.node(other)->children->empty());
  table.place("Item|1", other, "renamed.txt", nullptr, false, false);
  EXPECT_EQ(table.inoOf("Item|1"), item);
  EXPECT_FALSE(table.inoOf("Item|2"));

  // A node that turns from file into directory (a package replaced by a
  // folder, say) is listed afresh.
  table.setChildren(item, {});
  table.place("Item|1", other, "renamed.txt", nullptr, true, false);
  EXPECT_FALSE(table.node(item)->children);

  table.forgetBelow(NodeTable::kRoot);
  EXPECT_FALSE(table.node(NodeTable::kRoot)->children);
  EXPECT_FALSE(table.node(folder)->children);
  EXPECT_EQ(table.node(item)->ino, item) << "forgetting listings keeps the numbers";
}

// A file the mount made keeps its inode when the library's identifier
// replaces the mount's own, and one renamed over another takes the other's
// identifier: the kernel knows it by its inode.
TEST(NodeTableTest, AnInodeTakesAnotherIdentifierAndKeepsItsNumber) {
  NodeTable table("root");
  fuse_ino_t pending = table.place("pending:1", NodeTable::kRoot, "new.txt", nullptr, false, false);
  table.rebind(pending, "Item|7");
  EXPECT_EQ(table.inoOf("Item|7"), pending);
  EXPECT_FALSE(table.inoOf("pending:1"));
  EXPECT_EQ(table.place("Item|7", NodeTable::kRoot, "new.txt", nullptr, false, false), pending);

  fuse_ino_t target = table.place("Item|8", NodeTable::kRoot, "essay.txt", nullptr, false, false);
  table.rebind(pending, "Item|8");
  EXPECT_EQ(table.inoOf("Item|8"), pending) << "the renamed node stands for the target now";
  EXPECT_NE(pending, target);
  EXPECT_FALSE(table.inoOf("Item|7"));
}

// Deletions are remembered so that descriptors read before them place
// nothing, for a while only: an identifier may come back later, and one
// the mount makes again is forgotten as deleted at once. Only the newest
// deletions are kept.
TEST(NodeTableTest, DeletionsAreRememberedForAWhileWithinABound) {
  NodeTable table("root");
  table.markDeleted("Folder|A");
  EXPECT_TRUE(table.wasDeleted("Folder|A"));
  EXPECT_FALSE(table.wasDeleted("Folder|B"));
  fuse_ino_t pending = table.place("pending-1", NodeTable::kRoot, "A", nullptr, true, false);
  table.rebind(pending, "Folder|A");
  EXPECT_FALSE(table.wasDeleted("Folder|A"));

  for (size_t i = 0; i <= NodeTable::kRememberedDeletions; ++i) table.markDeleted("Item|" + std::to_string(i));
  EXPECT_FALSE(table.wasDeleted("Item|0")) << "the oldest goes";
  EXPECT_TRUE(table.wasDeleted("Item|1"));
  EXPECT_TRUE(table.wasDeleted("Item|" + std::to_string(NodeTable::kRememberedDeletions)));

  NodeTable forgetful("root", std::chrono::milliseconds(0));
  forgetful.markDeleted("Item|restored");
  EXPECT_FALSE(forgetful.wasDeleted("Item|restored")) << "past the deletion memory it may come back";
}

}  // namespace
}  // namespace qlt::fuse
