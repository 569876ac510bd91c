// Appending to and removing from compounds and lists: order of the kept
// entries, ownership hand-over, and freeing of exactly the removed entry.
// Whether a block was freed is seen from the heap in use; the sanitizer
// build also reports a removed entry that leaked or a kept one freed twice.

#include "heap_usage.h"
#include "nbt/nbt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TagDeleter {
    void operator()(nbt_tag *t) const { nbt_free_tag(t); }
};
using TagPtr = std::unique_ptr<nbt_tag, TagDeleter>;

TagPtr new_compound(const char *name) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_compound(&t, name), 0);
    return TagPtr(t);
}

TagPtr new_list(const char *name, nbt_type type) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_list(&t, name, type), 0);
    return TagPtr(t);
}

TagPtr new_int(const char *name, int32_t v) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_int(&t, name), 0);
    EXPECT_EQ(nbt_set_int(t, v), 0);
    return TagPtr(t);
}

// A string tag whose value is big enough to see it freed.
TagPtr new_big_string(const char *name) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_string(&t, name), 0);
    EXPECT_EQ(nbt_set_string(t, big_text('s').c_str()), 0);
    return TagPtr(t);
}

std::vector<nbt_tag *> children(nbt_tag *compound) {
    nbt_compound *c = nbt_cast_compound(compound);
    return std::vector<nbt_tag *>(c->tags, c->tags + c->length);
}

std::vector<void *> items(nbt_tag *list) {
    nbt_list *l = nbt_cast_list(list);
    return std::vector<void *>(l->content, l->content + l->length);
}

// Adds children named c0, c1, ... and returns them in order.
std::vector<nbt_tag *> fill(nbt_tag *compound, int n) {
    std::vector<nbt_tag *> added;
    for (int i = 0; i < n; ++i) {
        std::string name = "c" + std::to_string(i);
        nbt_tag *child = new_int(name.c_str(), i).release();
        EXPECT_EQ(nbt_add_tag(child, compound), child);
        added.push_back(child);
    }
    return added;
}

TEST(EditAdd, AddTagAppendsAndReturnsTheChild) {
    TagPtr parent = new_compound("p");
    std::vector<nbt_tag *> added = fill(parent.get(), 3);
    EXPECT_EQ(nbt_get_length(parent.get()), 3);
    EXPECT_EQ(children(parent.get()), added);
}

TEST(EditAdd, AddTagRefusesParentsThatAreNotCompounds) {
    TagPtr list = new_list("l", TAG_INT);
    TagPtr number = new_int("i", 4);
    TagPtr child = new_int("child", 1);
    void *list_record = list->value;
    EXPECT_EQ(nbt_add_tag(child.get(), list.get()), nullptr);
    EXPECT_EQ(nbt_add_tag(child.get(), number.get()), nullptr);
    EXPECT_EQ(list->value, list_record);
    EXPECT_EQ(nbt_get_length(list.get()), 0);
    EXPECT_EQ(*nbt_cast_int(number.get()), 4);
    // child is still ours: its deleter frees it once.
}

TEST(EditAdd, SameNameTwiceIsAllowedAndLookupFindsTheFirst) {
    TagPtr parent = new_compound("p");
    fill(parent.get(), 2);
    int before = nbt_get_length(parent.get());
    nbt_tag *first = new_int("twin", 1).release();
    nbt_tag *second = new_int("twin", 2).release();
    ASSERT_EQ(nbt_add_tag(first, parent.get()), first);
    ASSERT_EQ(nbt_add_tag(second, parent.get()), second);
    EXPECT_EQ(nbt_get_length(parent.get()), before + 2);
    EXPECT_EQ(nbt_find_tag_by_name("twin", parent.get()), first);
}

TEST(EditAdd, ListItemGoesToTheEnd) {
    TagPtr list = new_list("l", TAG_INT);
    auto *a = static_cast<int32_t *>(std::malloc(sizeof(int32_t)));
    auto *b = static_cast<int32_t *>(std::malloc(sizeof(int32_t)));
    nbt_add_list_item(a, list.get());
    EXPECT_EQ(items(list.get()), (std::vector<void *>{a}));
    nbt_add_list_item(b, list.get());
    EXPECT_EQ(items(list.get()), (std::vector<void *>{a, b}));
    EXPECT_EQ(nbt_get_list_type(list.get()), TAG_INT);
}

TEST(EditAdd, ListItemOnAListWithANegativeCountGivesOneItem) {
    TagPtr list = new_list("l", TAG_INT);
    nbt_cast_list(list.get())->length = -7; // as read from a file
    auto *a = static_cast<int32_t *>(std::malloc(sizeof(int32_t)));
    nbt_add_list_item(a, list.get());
    EXPECT_EQ(items(list.get()), (std::vector<void *>{a}));
}

TEST(EditAdd, ListItemOnACompoundDoesNothing) {
    TagPtr parent = new_compound("c");
    int32_t local = 1;
    nbt_add_list_item(&local, parent.get());
    EXPECT_EQ(nbt_get_length(parent.get()), 0);
}

TEST(EditRemove, EveryPositionOfEverySizeKeepsTheOthersInOrder) {
    for (int n = 1; n <= 5; ++n) {
        for (int victim = 0; victim < n; ++victim) {
            SCOPED_TRACE("remove " + std::to_string(victim) + " of " + std::to_string(n));
            TagPtr parent = new_compound("p");
            std::vector<nbt_tag *> expected = fill(parent.get(), n);
            nbt_tag *target = expected[victim];
            expected.erase(expected.begin() + victim);
            nbt_remove_tag(target, parent.get());
            EXPECT_EQ(children(parent.get()), expected);
        }
    }
}

TEST(EditRemove, TheRemovedChildIsFreedWithItsValue) {
    TagPtr parent = new_compound("p");
    nbt_tag *first = new_int("first", 1).release();
    nbt_tag *middle = new_big_string("middle").release();
    nbt_tag *last = new_int("last", 3).release();
    for (nbt_tag *t : {first, middle, last}) {
        ASSERT_EQ(nbt_add_tag(t, parent.get()), t);
    }
    size_t before = heap_bytes_in_use();
    nbt_remove_tag(middle, parent.get());
    EXPECT_EQ(big_blocks_released_since(before), 1);
    EXPECT_EQ(children(parent.get()), (std::vector<nbt_tag *>{first, last}));
    EXPECT_EQ(nbt_get_length(parent.get()), 2);
    EXPECT_EQ(*nbt_cast_int(first), 1);
    EXPECT_EQ(*nbt_cast_int(last), 3);
}

TEST(EditRemove, RemovingTheOnlyChildLeavesAnEmptyCompoundThatGrowsAgain) {
    TagPtr parent = new_compound("p");
    nbt_tag *only = new_int("only", 1).release();
    ASSERT_EQ(nbt_add_tag(only, parent.get()), only);
    nbt_remove_tag(only, parent.get());
    EXPECT_EQ(nbt_get_length(parent.get()), 0);
    nbt_tag *again = new_int("again", 2).release();
    ASSERT_EQ(nbt_add_tag(again, parent.get()), again);
    EXPECT_EQ(children(parent.get()), (std::vector<nbt_tag *>{again}));
}

TEST(EditRemove, ATagThatOnlySharesAChildsNameIsNeitherRemovedNorFreed) {
    TagPtr parent = new_compound("p");
    std::vector<nbt_tag *> kids = fill(parent.get(), 3);
    TagPtr stranger = new_big_string("c1");
    size_t before = heap_bytes_in_use();
    nbt_remove_tag(stranger.get(), parent.get());
    EXPECT_EQ(big_blocks_released_since(before), 0);
    EXPECT_EQ(children(parent.get()), kids);
    EXPECT_EQ(std::strlen(nbt_cast_string(stranger.get())), kBigBlock) << "still intact";
}

TEST(EditRemove, ListItemRemovalKeepsTheOthersAndFreesTheTarget) {
    TagPtr list = new_list("l", TAG_STRING);
    const std::string big = big_text('i');
    std::vector<void *> all = {strdup(big.c_str()), strdup("second"), strdup("third")};
    for (void *item : all) {
        nbt_add_list_item(item, list.get());
    }
    size_t before = heap_bytes_in_use();
    nbt_remove_list_item(all[0], list.get());
    EXPECT_EQ(big_blocks_released_since(before), 1);
    EXPECT_EQ(items(list.get()), (std::vector<void *>{all[1], all[2]}));
    EXPECT_STREQ(static_cast<char *>(all[1]), "second");
    EXPECT_STREQ(static_cast<char *>(all[2]), "third");
    EXPECT_EQ(nbt_get_list_type(list.get()), TAG_STRING);
}

TEST(EditRemove, ListItemRemovalFreesACompoundItemDeeply) {
    TagPtr list = new_list("l", TAG_COMPOUND);
    // The item is the bare compound record of a tag built for it.
    TagPtr holder = new_compound("");
    nbt_tag *big = new_big_string("big").release();
    ASSERT_EQ(nbt_add_tag(big, holder.get()), big);
    void *record = holder->value;
    holder->value = nullptr;
    nbt_add_list_item(record, list.get());
    size_t before = heap_bytes_in_use();
    nbt_remove_list_item(record, list.get());
    EXPECT_EQ(big_blocks_released_since(before), 1);
    EXPECT_EQ(nbt_get_length(list.get()), 0);
}

TEST(EditRemove, ListItemThatIsNotAMemberChangesNothing) {
    TagPtr list = new_list("l", TAG_STRING);
    std::vector<void *> all = {strdup("a"), strdup("b")};
    for (void *item : all) {
        nbt_add_list_item(item, list.get());
    }
    char *outsider = strdup(big_text('o').c_str());
    size_t before = heap_bytes_in_use();
    nbt_remove_list_item(outsider, list.get());
    EXPECT_EQ(big_blocks_released_since(before), 0);
    EXPECT_EQ(items(list.get()), all);
    std::free(outsider);

    TagPtr empty = new_list("e", TAG_STRING);
    nbt_remove_list_item(all[0], empty.get());
    EXPECT_EQ(nbt_get_length(empty.get()), 0);
}

TEST(EditRemove, WrongParentTypesAreIgnored) {
    TagPtr list = new_list("l", TAG_INT);
    TagPtr compound = new_compound("c");
    std::vector<nbt_tag *> kids = fill(compound.get(), 2);
    auto *item = static_cast<int32_t *>(std::malloc(sizeof(int32_t)));
    nbt_add_list_item(item, list.get());

    nbt_remove_tag(kids[0], list.get());
    nbt_remove_list_item(kids[0], compound.get());
    nbt_remove_list_item(item, compound.get());
    nbt_remove_tag(reinterpret_cast<nbt_tag *>(item), list.get());
    TagPtr number = new_int("n", 1);
    nbt_remove_tag(kids[0], number.get());
    nbt_remove_list_item(item, number.get());

    EXPECT_EQ(children(compound.get()), kids);
    EXPECT_EQ(items(list.get()), (std::vector<void *>{item}));
    EXPECT_EQ(*nbt_cast_int(number.get()), 1);
}

} // namespace
