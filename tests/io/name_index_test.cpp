// What the extraction's index of names says may exist: never "nothing"
// for a name that is there, its side files and folders included.
#include <gtest/gtest.h>

#include <string>

#include "io/name_index.h"
#include "tests/support/scratch_folder.h"

namespace {

using quillon_test::scratch_folder;

TEST(name_index, nothing_only_for_names_that_are_not_there) {
    scratch_folder scratch;
    scratch.write("dest/have.txt", "");
    scratch.write("dest/sided.rsrc", "");
    scratch.write("dest/Mixed.TXT", "");
    scratch.make_folder("dest/sub");
#ifdef _WIN32
    const bool folds = true;  // letters of either case, trailing dots
#else
    const bool folds = false;
#endif
    const struct {
        const char* name;
        bool may_exist;
    } cases[] = {
        {"dest/have.txt", true},   {"dest/new.txt", false},   {"dest/sided", true},      {"dest/sub", true},
        {"dest/mixed.txt", folds}, {"dest/have.txt.", folds}, {"dest/missing/x", false}, {"dest/sub/x", false},
        {"dest/have.txt/x", true},  // a folder that cannot be listed
    };
    io::name_index index;
    for (const auto& c : cases) EXPECT_EQ(index.any_fork_may_exist(scratch.path(c.name)), c.may_exist) << c.name;

    // What the extraction makes: the name and the folders it needs.
    index.made(scratch.path("dest/missing/deep/y"), 3);
    index.made(scratch.path("dest/made"), 1);
    for (const char* made : {"dest/missing/deep/y", "dest/missing/deep", "dest/missing", "dest/made"})
        EXPECT_TRUE(index.any_fork_may_exist(scratch.path(made))) << made;
    EXPECT_FALSE(index.any_fork_may_exist(scratch.path("dest/missing/deep/z")));
}

}  // namespace
