#include "engine/vm/object_tree.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/frame/errors.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/hashes.h"
#include "engine/vm/vm_errors.h"

namespace {

class ObjectTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    root = static_cast<ObjectNode*>(calloc(1, sizeof(ObjectNode)));
    g_payload_release[kPayloadMenuItem] = [](void* p) { free_menu_item(static_cast<MenuItem*>(p)); };
  }
  void TearDown() override { object_subtree_free(root); }
  ObjectNode* make(const char* path, int group, i64 order = 0) { return get_named_object(root, path, group, order); }
  ObjectNode* root;
};

std::string path_of(const char* name, const char* base, int* result, int allow_blank = 0) {
  char out[kObjectPathSize];
  *result = build_object_path(out, name, base, allow_blank);
  return *result < 0 ? std::string("<error>") : std::string(out);
}

TEST(ObjectPath, BuildsFullPaths) {
  struct Case {
    const char* name;
    const char* base;
    const char* path;
    int result;
  } cases[] = {
      {"a", "W0", "W0/a", 0},
      {"a", "", "a", 0},
      {"a/b/../c", "x", "x/a/c", 0},
      {"./a", "x", "x/a", 0},
      {":b/c", "x", "b/c", 0},
      {":/b", "x", "b", 0},
      {"/a", "x", "x/a", 0},
      {"g/", "W0", "W0/g", 1},
      {"a/..", "x", "x/a/..", 0},  // dots at the very end stay a segment
      {"a/.", "x", "x/a/.", 0},
      {".hidden", "x", "x/.hidden", 0},
      {"../../../a", "", "a", 0},  // ".." never steps before the start
      {"../a", "x", "a", 0},
      {"\x83/x/y", "", "\x83/x/y", 0},  // a lead byte and trail 0x2F stay one segment
  };
  for (const Case& c : cases) {
    int r;
    EXPECT_EQ(path_of(c.name, c.base, &r), c.path) << c.name << " in " << c.base;
    EXPECT_EQ(r, c.result) << c.name;
  }
}

TEST(ObjectPath, BlanksAreRefusedInSegmentsOnly) {
  // A plain name is joined as it stands, blank and all.
  int r;
  EXPECT_EQ(path_of("bg 1", "W0", &r), "W0/bg 1");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(path_of("a b", "", &r), "a b");
  EXPECT_EQ(r, 0);
  for (const char* name : {"x/a b", ":a b", "a b/", "./a b"}) {
    reset_error_report_log();
    path_of(name, "W0", &r);
    EXPECT_EQ(r, -1) << name;
    EXPECT_EQ(g_error_report_log.last_number, kErrObjectNameBlank) << name;
  }
  EXPECT_EQ(path_of("x/a b", "W0", &r, 1), "W0/x/a b");
  EXPECT_EQ(r, 0);
  // A double-byte character whose second byte is 0x20 is not a blank... but
  // a trail byte is never below 0x40, so the blank check sees only real ones.
  EXPECT_EQ(path_of("\x82\xa0", "W0", &r), "W0/\x82\xa0");
}

TEST(ObjectPath, TooLongIsReportedNotWritten) {
  std::string base(300, 'b');
  std::string name(4000, 'n');
  char out[kObjectPathSize + 16];
  memset(out, 0x55, sizeof out);
  reset_error_report_log();
  EXPECT_EQ(build_object_path(out, name.c_str(), base.c_str(), 0), -1);
  EXPECT_EQ(g_error_report_log.last_number, kErrObjectPathTooLong);
  for (u32 i = kObjectPathSize; i < sizeof out; ++i) ASSERT_EQ(static_cast<u8>(out[i]), 0x55);
  // Through the segment path as well.
  std::string dotted = "a/" + name + "/./b";
  EXPECT_EQ(build_object_path(out, dotted.c_str(), base.c_str(), 0), -1);
  for (u32 i = kObjectPathSize; i < sizeof out; ++i) ASSERT_EQ(static_cast<u8>(out[i]), 0x55);
  // Just fitting works.
  std::string fits(kObjectPathSize - 1 - 3, 'f');
  EXPECT_EQ(build_object_path(out, fits.c_str(), "W0", 0), 0);
  EXPECT_EQ(strlen(out), kObjectPathSize - 1);
}

TEST_F(ObjectTreeTest, KeyIsHashWithGroupBit) {
  ObjectNode* leaf = make("abc", 0);
  ObjectNode* group = make("abc", 1);
  u32 h = murmur_hash2("abc", 3) & 0x7fffffffu;
  EXPECT_EQ(leaf->key, h);
  EXPECT_EQ(group->key, h | 0x80000000u);
  EXPECT_EQ(leaf->name_length, 3u);
  EXPECT_STREQ(leaf->name, "abc");
}

TEST_F(ObjectTreeTest, LeafAndGroupOfOneNameAreDistinct) {
  ObjectNode* group = make("n", 1, 5);
  ObjectNode* leaf = make("n", 0, 7);
  EXPECT_EQ(resolve_object_path(root, "n", 0), leaf);
  EXPECT_EQ(resolve_object_path(root, "n", 1), group);
  EXPECT_EQ(resolve_object_path(root, "n", 2), group);  // first in list order
  EXPECT_EQ(resolve_object_path(root, "m", 0), nullptr);
}

TEST_F(ObjectTreeTest, NestedPathsAndMissingParents) {
  ObjectNode* g = make("g", 1);
  ObjectNode* h = make("g/h", 1);
  ObjectNode* leaf = make("g/h/x", 0);
  EXPECT_EQ(leaf->parent, h);
  EXPECT_EQ(h->parent, g);
  EXPECT_EQ(resolve_object_path(root, "g/h/x", 0), leaf);
  EXPECT_EQ(resolve_object_path(root, "g/x", 0), nullptr);
  EXPECT_EQ(resolve_object_path(root, "g/h/x/y", 0), nullptr);  // x is a leaf
  reset_error_report_log();
  EXPECT_EQ(make("g/nope/x", 0), nullptr);
  EXPECT_EQ(g_error_report_log.last_number, kErrObjectParentMissing);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
  reset_error_report_log();
  EXPECT_EQ(get_named_object(root, nullptr, 0, 0), nullptr);
  EXPECT_EQ(g_error_report_log.last_number, kErrObjectNullPath);
}

TEST_F(ObjectTreeTest, ListOrderByOrderKeyAndIndexSorted) {
  ObjectNode* a = make("a", 0, 10);
  ObjectNode* b = make("b", 0, 5);
  ObjectNode* c = make("c", 0, 10);  // equal key: after a
  ObjectNode* d = make("d", 0, 1);
  EXPECT_EQ(object_list_nth(root, 1), d);
  EXPECT_EQ(object_list_nth(root, 0), d);
  EXPECT_EQ(object_list_nth(root, 2), b);
  EXPECT_EQ(object_list_nth(root, 3), a);
  EXPECT_EQ(object_list_nth(root, 4), c);
  EXPECT_EQ(object_list_nth(root, 5), nullptr);
  EXPECT_EQ(root->last_child, c);
  EXPECT_EQ(root->child_count, 4u);
  for (i32 i = 1; i < root->index_count; ++i) EXPECT_LE(root->index_keys[i - 1], root->index_keys[i]);
  // Bucket tables agree with the keys.
  for (u32 bkt = 0; bkt < 256; ++bkt) {
    for (u32 i = root->bucket_start[bkt]; i < root->bucket_start[bkt] + root->bucket_count[bkt]; ++i)
      EXPECT_EQ(root->index_keys[i] >> 24, bkt);
  }
}

TEST_F(ObjectTreeTest, EqualKeysKeepCreationOrderInTheListAndReverseInTheIndex) {
  ObjectNode* first = make("d", 0, 3);
  ObjectNode* second = make("d", 0, 3);
  EXPECT_EQ(root->first_child, first);
  EXPECT_EQ(first->next, second);
  ASSERT_EQ(root->index_count, 2);
  EXPECT_EQ(root->index_nodes[0], second);  // a new key goes before equal keys
  EXPECT_EQ(root->index_nodes[1], first);
  EXPECT_EQ(resolve_object_path(root, "d", 0), second);
  // Detaching removes exactly the node given, not its namesake.
  object_detach(second);
  EXPECT_EQ(resolve_object_path(root, "d", 0), first);
  object_subtree_free(second);
}

TEST_F(ObjectTreeTest, DetachRemovesIndexEntryEvenFromARoot) {
  ObjectNode* a = make("a", 0);
  ObjectNode* b = make("b", 0);
  ASSERT_EQ(resolve_object_path(root, "a", 0), a);
  EXPECT_EQ(object_detach(a), root);
  EXPECT_EQ(root->index_count, 1);
  EXPECT_EQ(root->child_count, 1u);
  EXPECT_EQ(root->first_child, b);
  EXPECT_EQ(resolve_object_path(root, "a", 0), nullptr);
  EXPECT_EQ(resolve_object_path(root, "b", 0), b);
  // A second detach of the same node leaves the parent as it is.
  EXPECT_EQ(object_detach(a), root);
  EXPECT_EQ(root->index_count, 1);
  EXPECT_EQ(root->child_count, 1u);
  EXPECT_EQ(root->first_child, b);
  EXPECT_EQ(root->last_child, b);
  object_subtree_free(a);
  // A node of the same name can be created again and found.
  ObjectNode* a2 = make("a", 0);
  EXPECT_EQ(resolve_object_path(root, "a", 0), a2);
  EXPECT_EQ(object_detach(nullptr), nullptr);
}

TEST_F(ObjectTreeTest, LookupInNodeWithoutChildren) {
  ObjectNode* lonely = make("lonely", 1);
  EXPECT_EQ(lonely->index_keys, nullptr);
  EXPECT_EQ(resolve_object_path(root, "lonely/x", 0), nullptr);
  EXPECT_EQ(resolve_object_path(root, "lonely/x", 1), nullptr);
}

TEST_F(ObjectTreeTest, FullIndexReportsInsteadOfOverflowing) {
  char name[16];
  for (u32 i = 0; i < kObjectIndexCapacity; ++i) {
    snprintf(name, sizeof name, "n%u", i);
    ASSERT_NE(make(name, 0, i), nullptr) << i;
  }
  reset_error_report_log();
  EXPECT_EQ(make("one_more", 0), nullptr);
  EXPECT_EQ(g_error_report_log.last_number, kErrObjectTooManyChildren);
  EXPECT_EQ(root->index_count, static_cast<i32>(kObjectIndexCapacity));
  // Every child is still found, the last ones included.
  for (u32 i : {0u, 1u, 4094u, 4095u}) {
    snprintf(name, sizeof name, "n%u", i);
    ASSERT_NE(resolve_object_path(root, name, 0), nullptr) << name;
  }
  EXPECT_EQ(resolve_object_path(root, "one_more", 0), nullptr);
  // Detaching one makes room again.
  ObjectNode* n7 = resolve_object_path(root, "n7", 0);
  object_detach(n7);
  object_subtree_free(n7);
  EXPECT_NE(make("one_more", 0), nullptr);
}

TEST_F(ObjectTreeTest, SameHashPrefixDoesNotMatch) {
  // Leaf look-up compares the length too: "ab" must not be found as "a".
  make("ab", 0);
  EXPECT_EQ(resolve_object_path(root, "a", 0), nullptr);
}

TEST(SystemObjects, FourTreesWithFirstNodes) {
  reset_error_report_log();
  ASSERT_EQ(create_system_objects(), 0);
  const char* names[4] = {"W0", "SYSTEM", "S0", "M0"};
  for (int t = 0; t < 4; ++t) {
    ASSERT_NE(g_object_roots[t], nullptr);
    EXPECT_EQ(g_object_roots[t]->name, nullptr);
    EXPECT_STREQ(g_object_base_paths[t], names[t]);
  }
  ObjectNode* w0 = resolve_object_path(g_object_roots[kTreeLayer], "W0", 1);
  ASSERT_NE(w0, nullptr);
  EXPECT_EQ(w0->order_key, 1);
  EXPECT_EQ(w0->payload_kind, kPayloadLayerImage);
  EXPECT_NE(resolve_object_path(g_object_roots[kTreeTask], "SYSTEM", 0), nullptr);
  EXPECT_NE(resolve_object_path(g_object_roots[kTreeSound], "S0", 1), nullptr);
  ObjectNode* m0 = resolve_object_path(g_object_roots[kTreeMenu], "M0", 1);
  ASSERT_NE(m0, nullptr);
  auto* item = static_cast<MenuItem*>(m0->payload);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->shown, 1);
  EXPECT_EQ(item->enabled, 256);
  // Replacing a base path never renames the node, and is bounded.
  std::string long_base(400, 'q');
  set_object_base_path(kTreeLayer, long_base.c_str());
  EXPECT_EQ(strlen(g_object_base_paths[kTreeLayer]), kObjectBasePathSize - 1);
  EXPECT_EQ(resolve_object_path(g_object_roots[kTreeLayer], "W0", 1), w0);
  destroy_system_objects();
  EXPECT_EQ(g_object_roots[0], nullptr);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(ObjectTreeTest, MenuItemCaptionIsBounded) {
  ObjectNode* n = make("item", 0);
  std::string caption(500, 'c');
  ASSERT_EQ(make_menu_item(n, caption.c_str()), 0);
  auto* item = static_cast<MenuItem*>(n->payload);
  EXPECT_EQ(strlen(item->caption), kMenuCaptionSize - 1);
}

}  // namespace
