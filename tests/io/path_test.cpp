// Splitting, joining and placing names.
#include <gtest/gtest.h>

#include "io/path.h"

namespace {

// Backslash first, as Windows writes it; the tests give the separators
// themselves so that they mean the same on every system.
const std::u16string windows = u"\\/";
const std::u16string slash = u"/";

std::vector<std::u16string> parts(const io::path& path) {
    std::vector<std::u16string> list;
    for (const auto& component : path.components()) list.push_back(component.wide());
    return list;
}

using list = std::vector<std::u16string>;

TEST(path, parsing_keeps_empty_and_dot_dot_components_and_drops_dots) {
    EXPECT_EQ(parts(io::path(u"", windows)), list{});
    EXPECT_EQ(parts(io::path(u"a/b/", windows)), (list{u"a", u"b", u""}));
    EXPECT_EQ(parts(io::path(u"/", windows)), (list{u"", u""}));
    EXPECT_EQ(parts(io::path(u"D:\\x\\.\\y", windows)), (list{u"D:", u"x", u"y"}));
    EXPECT_EQ(parts(io::path(u"./a/./b", slash)), (list{u"a", u"b"}));
    EXPECT_EQ(parts(io::path(u"../a", slash)), (list{u"..", u"a"}));
    // With "/" alone a backslash is part of the name.
    EXPECT_EQ(parts(io::path(u"a\\b/c", slash)), (list{u"a\\b", u"c"}));
}

TEST(path, joining_writes_the_first_separator_between_components) {
    EXPECT_EQ(io::path(u"", windows).join().wide(), u"");
    EXPECT_EQ(io::path(u"D:\\", windows).join().wide(), u"D:\\");
    EXPECT_EQ(io::path(u"D:/x/y", windows).join().wide(), u"D:\\x\\y");
    EXPECT_EQ(io::path(u"D:\\\\x", windows).join().wide(), u"D:\\\\x");
}

TEST(path, a_leading_empty_component_keeps_the_path_absolute) {
    EXPECT_EQ(io::path(u"/home/u/dest", slash).join().wide(), u"/home/u/dest");
    EXPECT_EQ(io::path(u"/", slash).join().wide(), u"/");
    EXPECT_EQ(io::path(u"\\\\server\\share", windows).join().wide(), u"\\\\server\\share");
    // The root alone, as parent() of a folder just below it gives it.
    EXPECT_EQ(io::path(u"/home", slash).parent().components().size(), 1u);
    io::path root(u"/home", slash);
    root.pop_back();
    EXPECT_EQ(root.join().wide(), u"/");
}

TEST(path, an_archive_name_stays_inside_its_destination) {
    io::path name(u"/x/y", slash);
    name.place_under(io::path(u"D:\\d", windows));
    EXPECT_EQ(name.join().wide(), u"D:\\d\\\\x\\y");

    io::path nested(u"a/b", slash);
    nested.place_under(io::path(u"D:\\dest\\", windows));
    EXPECT_EQ(nested.join().wide(), u"D:\\dest\\\\a\\b");

    io::path absolute(u"/etc/passwd", slash);
    absolute.place_under(io::path(u"/home/u/dest", slash));
    EXPECT_EQ(absolute.join().wide(), u"/home/u/dest//etc/passwd");
}

TEST(path, a_name_placed_under_nothing_does_not_become_absolute) {
    io::path name(u"//etc/passwd", slash);
    name.place_under(io::path(u"", slash));
    EXPECT_EQ(name.join().wide(), u"etc/passwd");
}

TEST(path, stem_and_extension_split_at_the_last_full_stop) {
    struct case_ {
        std::u16string name, stem, extension;
    } cases[] = {
        {u"report.txt", u"report", u".txt"}, {u".cfg", u"", u".cfg"},       {u"a.b.c", u"a.b", u".c"},
        {u"README", u"README", u""},         {u"dir.d/file", u"file", u""},
    };
    for (const auto& c : cases) {
        io::path path(c.name, slash);
        EXPECT_EQ(path.stem().wide(), c.stem) << std::string(c.name.begin(), c.name.end());
        EXPECT_EQ(path.extension().wide(), c.extension);
    }
}

TEST(path, parent_has_the_default_separators_and_append_adds_one_component) {
    io::path path(u"a/b/c", slash);
    io::path parent = path.parent();
    EXPECT_EQ(parts(parent), (list{u"a", u"b"}));
    EXPECT_EQ(parent.separators(), io::path::default_separators());
    EXPECT_TRUE(io::path().parent().empty());

    parent.append(u"x/y");
    EXPECT_EQ(parts(parent), (list{u"a", u"b", u"x/y"}));
    parent.pop_back();
    EXPECT_EQ(parts(parent), (list{u"a", u"b"}));
}

TEST(path, the_default_separators_are_the_systems) {
#ifdef _WIN32
    EXPECT_EQ(io::path::default_separators(), u"\\/");
#else
    EXPECT_EQ(io::path::default_separators(), u"/");
#endif
    EXPECT_EQ(io::path(any::string(u"a/b")).components().size(), 2u);
}

}  // namespace
