// The installer settings in an archive comment: what is read, what is an
// ordinary comment, what is refused, and that the packer's text reads back.
#include <gtest/gtest.h>

#include <string>

#include "errors/exception.h"
#include "zip/settings.h"

namespace {

using format::zip::settings;

std::string refusal(const std::string& comment) {
    try {
        settings::parse(comment);
    } catch (const format::exception& failure) {
        return failure.where + ": " + failure.message;
    }
    return "";
}

std::string joined(const io::path& path) { return path.join().to_utf8(); }

TEST(settings, every_key_is_read_from_lines_of_either_ending) {
    const settings chosen = settings::parse(
        "quillon-sfx settings 1\r\n"
        "# a remark\r\n"
        "\r\n"
        "title=Caf\xC3\xA9 Setup\r\n"
        "message=first line\r\n"
        "message=second = line\r\n"
        "buttons=OK|Do not install\r\n"
        "destination={temp}/app/v2\r\n"
        "run=bin/setup.sh\r\n"
        "argument=--quiet\r\n"
        "argument=\r\n"
        "cleanup=yes\r\n");
    ASSERT_TRUE(chosen.present);
    EXPECT_EQ(chosen.title, "Caf\xC3\xA9 Setup");
    EXPECT_EQ(chosen.message, "first line\nsecond = line");
    EXPECT_EQ(chosen.accept_button, "OK");
    EXPECT_EQ(chosen.decline_button, "Do not install");
    EXPECT_EQ(chosen.destination_place, settings::place::temporary);
    EXPECT_EQ(joined(chosen.destination), "app/v2");
    EXPECT_EQ(joined(chosen.run), "bin/setup.sh");
    EXPECT_EQ(chosen.arguments, (std::vector<std::string>{"--quiet", ""}));
    EXPECT_TRUE(chosen.cleanup);
}

TEST(settings, a_comment_without_the_marker_is_an_ordinary_comment) {
    for (const char* comment :
         {"", "made by a tool", "title=x", " quillon-sfx settings 1\ntitle=x", "quillon-sfx settings 2\ntitle=x"})
        EXPECT_FALSE(settings::parse(comment).present) << comment;
}

TEST(settings, destinations_below_the_current_temporary_or_home_folder) {
    const settings temp = settings::parse("quillon-sfx settings 1\ndestination={temp}\n");
    EXPECT_EQ(temp.destination_place, settings::place::temporary);
    EXPECT_TRUE(temp.destination.empty());
    const settings home = settings::parse("quillon-sfx settings 1\ndestination={home}/Apps/x\n");
    EXPECT_EQ(home.destination_place, settings::place::home);
    EXPECT_EQ(joined(home.destination), "Apps/x");
    const settings here = settings::parse("quillon-sfx settings 1\ndestination=./sub/app\n");
    EXPECT_EQ(here.destination_place, settings::place::current);
    EXPECT_EQ(joined(here.destination), "sub/app");
}

// Hazard: settings that would write outside the destination or run
// something the archive did not bring.
TEST(settings, paths_that_leave_their_folder_are_refused) {
    const std::string head = "quillon-sfx settings 1\n";
    EXPECT_EQ(refusal(head + "run=../x"),
              "format::zip::settings: run \"../x\" is not a relative path inside its folder");
    for (const char* line : {"run=/bin/sh", "run=a//b", "run=", "destination=/etc", "destination=a/../../b",
                             "destination={temp}/..", "destination={home}/../other"})
        EXPECT_NE(refusal(head + line).find("is not a relative path inside its folder"), std::string::npos) << line;
    EXPECT_EQ(refusal(head + "destination={temp}x"),
              "format::zip::settings: destination \"{temp}x\" needs a \"/\" after {temp}");
}

TEST(settings, malformed_blocks_are_refused) {
    const std::string head = "quillon-sfx settings 1\n";
    EXPECT_EQ(refusal(head + "Title=x"), "format::zip::settings: unknown key \"Title\"");
    EXPECT_EQ(refusal(head + "no equals sign"), "format::zip::settings: line \"no equals sign\" is not key=value");
    EXPECT_EQ(refusal(head + "cleanup=maybe"), "format::zip::settings: cleanup must be yes or no, not \"maybe\"");
    EXPECT_EQ(refusal(head + "run=a\ncleanup=yes"), "format::zip::settings: cleanup needs a {temp} destination");
    EXPECT_EQ(refusal(head + "destination={temp}\ncleanup=yes"),
              "format::zip::settings: cleanup needs a program to run");
    EXPECT_EQ(refusal(head + "argument=-v"), "format::zip::settings: arguments are given but no program to run");
    EXPECT_EQ(refusal(head + "buttons=OK|Cancel"), "format::zip::settings: buttons need a message");
    for (const char* buttons : {"OK", "OK|", "|Cancel", "a|b|c", ""})
        EXPECT_EQ(refusal(head + "message=m\nbuttons=" + buttons),
                  "format::zip::settings: buttons \"" + std::string(buttons) + "\" is not two words apart by a \"|\"")
            << buttons;
    const std::string wide_button = std::string(settings::longest_button + 1, 'w');
    EXPECT_NE(refusal(head + "message=m\nbuttons=OK|" + wide_button).find("longer than 40 bytes"), std::string::npos);
    // Hazard: a key given twice left the outcome to the later line, or to
    // parts of both ({temp} from one destination, the folder from another).
    const struct {
        const char *lines, *key;
    } twice[] = {{"title=a\ntitle=b", "title"},
                 {"title=\ntitle=", "title"},
                 {"destination={temp}/x\ndestination=a", "destination"},
                 {"run=a\nrun=b", "run"},
                 {"message=m\nbuttons=a|b\nbuttons=a|b", "buttons"},
                 {"run=a\ndestination={temp}\ncleanup=no\ncleanup=yes", "cleanup"}};
    for (const auto& given : twice)
        EXPECT_EQ(refusal(head + given.lines),
                  std::string("format::zip::settings: key \"") + given.key + "\" is given twice")
            << given.lines;
    EXPECT_EQ(refusal(head + "run=a\nargument=1\nargument=1\nmessage=m\nmessage=m"), "");
    const std::string long_line = "message=" + std::string(settings::longest_message + 1, 'm');
    EXPECT_EQ(refusal(head + long_line), "format::zip::settings: the message is longer than 32 KiB");
}

TEST(settings, the_written_text_reads_back_the_same) {
    settings chosen = settings::parse(
        "quillon-sfx settings 1\ntitle=T\nmessage=a\nmessage=\nmessage=b\nbuttons=OK|Cancel\ndestination={home}/x/y\n"
        "run=s.sh\n"
        "argument=one\nargument=two words\n");
    const settings again = settings::parse(chosen.text());
    EXPECT_EQ(again.text(), chosen.text());
    EXPECT_EQ(again.message, "a\n\nb");
    EXPECT_EQ(again.accept_button + "|" + again.decline_button, "OK|Cancel");
    EXPECT_EQ(again.arguments, chosen.arguments);
    EXPECT_EQ(joined(again.destination), "x/y");
    EXPECT_EQ(settings::parse(settings().text()).present, true);
}

}  // namespace
