// Open folders as the anchors of what an extraction writes: a folder
// exchanged for a link is never followed, and a folder held open is where
// its files go, whatever its name meanwhile.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "errors/exception.h"
#include "io/file.h"
#include "io/folder_chain.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using quillon_test::scratch_folder;

io::path below(const std::string& text) { return io::path(any::string::from_utf8(text), u"/"); }

// A file `name` created in the folder the chain reaches for `folder`.
void create_in(io::folder_chain& chain, const scratch_folder& scratch, const std::string& folder,
               const std::string& name) {
    const io::folder_handle& open = chain.reach(below(folder), true);
    io::file target(scratch.path("dest/" + folder + "/" + name));
    target.data_fork().create_in(open, false);
    target.data_fork().write("x", 1);
    target.data_fork().close(true);
}

TEST(folder_chain, makes_missing_folders_and_the_root) {
    scratch_folder scratch;
    io::folder_chain chain(scratch.path("dest"));
    create_in(chain, scratch, "a/b/c", "f.txt");
    create_in(chain, scratch, "a/d", "g.txt");
    create_in(chain, scratch, "a/b/c", "h.txt");
    EXPECT_EQ(scratch.read("dest/a/b/c/f.txt"), "x");
    EXPECT_EQ(scratch.read("dest/a/d/g.txt"), "x");
    EXPECT_EQ(scratch.read("dest/a/b/c/h.txt"), "x");
}

// Files in turns from many folders, more than the chain keeps open after
// leaving them, and from folders inside folders it left: each lands where
// its name says.
TEST(folder_chain, files_in_turns_from_many_folders) {
    scratch_folder scratch;
    io::folder_chain chain(scratch.path("dest"));
    const std::size_t folders = io::folder_chain::recent + 3;
    for (int round = 0; round < 2; ++round)
        for (std::size_t folder = 0; folder < folders; ++folder)
            create_in(chain, scratch, "f" + std::to_string(folder % 7) + "/" + std::to_string(folder),
                      "r" + std::to_string(round));
    int turn = 0;
    for (const std::string folder : {"a", "a/b", "a", "a/b/c", "a/b", "a"})
        create_in(chain, scratch, folder, "n" + std::to_string(turn++));
    for (std::size_t folder = 0; folder < folders; ++folder)
        for (const char* round : {"r0", "r1"})
            EXPECT_EQ(scratch.read("dest/f" + std::to_string(folder % 7) + "/" + std::to_string(folder) + "/" + round),
                      "x");
    EXPECT_EQ(scratch.names("dest/a"), (std::vector<std::string>{"b", "n0", "n2", "n5"}));
    EXPECT_EQ(scratch.names("dest/a/b"), (std::vector<std::string>{"c", "n1", "n4"}));
    EXPECT_EQ(scratch.names("dest/a/b/c"), (std::vector<std::string>{"n3"}));
}

// Deeper than the handles kept open: the closed ones are opened again on
// the way back up.
TEST(folder_chain, trees_deeper_than_the_handles_it_keeps) {
    scratch_folder scratch;
    io::folder_chain chain(scratch.path("dest"));
    std::string deep = "d";
    for (std::size_t i = 1; i < io::folder_chain::kept * 2; ++i) deep += "/d";
    create_in(chain, scratch, deep, "bottom.txt");
    create_in(chain, scratch, "d/d", "near.txt");
    create_in(chain, scratch, deep, "again.txt");
    EXPECT_EQ(scratch.read("dest/" + deep + "/bottom.txt"), "x");
    EXPECT_EQ(scratch.read("dest/" + deep + "/again.txt"), "x");
    EXPECT_EQ(scratch.read("dest/d/d/near.txt"), "x");
}

TEST(folder_chain, something_else_of_a_folder_name_is_refused) {
    scratch_folder scratch;
    scratch.write("dest/a", "a file");
    io::folder_chain chain(scratch.path("dest"));
    try {
        chain.reach(below("a/b"), true);
        ADD_FAILURE() << "a file was taken for a folder";
    } catch (const io::exception& failure) {
        EXPECT_NE(failure.message.find("something else of that name exists"), std::string::npos) << failure.message;
    }
}

#ifndef _WIN32
// Hazard: a folder swapped for a link to another folder after the chain
// opened it redirected the files that followed.
TEST(folder_chain, a_folder_swapped_for_a_link_is_never_followed) {
    scratch_folder scratch;
    scratch.make_folder("outside");
    io::folder_chain chain(scratch.path("dest"));
    create_in(chain, scratch, "sub/deeper", "first.txt");
    fs::rename(scratch.native("dest/sub"), scratch.native("dest/moved"));
    fs::create_directory_symlink(scratch.native("outside"), scratch.native("dest/sub"));
    // The folder still open is the one moved aside, inside the destination.
    create_in(chain, scratch, "sub/deeper", "second.txt");
    EXPECT_EQ(scratch.read("dest/moved/deeper/second.txt"), "x");
    // Opened afresh, the link is refused.
    chain.forget();
    try {
        chain.reach(below("sub/deeper"), true);
        ADD_FAILURE() << "the link was followed";
    } catch (const io::exception& failure) {
        EXPECT_NE(failure.message.find("it is a symbolic link"), std::string::npos) << failure.message;
    }
    EXPECT_TRUE(scratch.names("outside").empty());
}
#else
// On Windows a folder held open cannot be renamed or removed, so no other
// folder can take its name while the chain writes in it.
TEST(folder_chain, a_folder_held_open_cannot_be_exchanged) {
    scratch_folder scratch;
    io::folder_chain chain(scratch.path("dest"));
    create_in(chain, scratch, "sub/deeper", "first.txt");
    const std::wstring from = scratch.native("dest/sub").wstring(), to = scratch.native("dest/moved").wstring();
    // Wine does not keep an open folder from being renamed, as Windows does.
    if (MoveFileW(from.c_str(), to.c_str())) GTEST_SKIP() << "this system renames folders held open";
    chain.forget();
    EXPECT_TRUE(MoveFileW(from.c_str(), to.c_str()));
}
#endif

}  // namespace
