// The stubs' command line: every switch, their combinations, and every
// mistake refused with its exact message before anything is done.
#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quillon::self::options;

options parsed(const std::vector<std::u16string>& words) {
    std::vector<any::string> arguments(words.begin(), words.end());
    return options::parse(arguments);
}

// The message of the usage error, or "" when the line is understood.
std::string refusal(const std::vector<std::u16string>& words) {
    try {
        parsed(words);
        return "";
    } catch (const quillon::self::usage_error& wrong) {
        EXPECT_EQ(wrong.where, "quillon::self::options");
        return wrong.message;
    }
}

TEST(options, no_switches_extract_asking_everything) {
    const options chosen = parsed({});
    EXPECT_EQ(chosen.what, options::action::extract);
    EXPECT_EQ(chosen.existing, options::overwrite::ask);
    EXPECT_FALSE(chosen.quiet);
    EXPECT_TRUE(chosen.destination.empty());
    EXPECT_TRUE(chosen.passphrase_file.empty());
}

TEST(options, a_command_line_of_exactly_q_is_quiet) {
    const options chosen = parsed({u"-q"});
    EXPECT_TRUE(chosen.quiet);
    EXPECT_EQ(chosen.what, options::action::extract);
    EXPECT_TRUE(chosen.destination.empty());
}

TEST(options, switches_combine_in_any_order) {
    const options chosen = parsed({u"-q", u"-o", u"-d", u"out dir", u"-p", u"pass.txt"});
    EXPECT_TRUE(chosen.quiet);
    EXPECT_EQ(chosen.existing, options::overwrite::always);
    EXPECT_EQ(chosen.destination, any::string(u"out dir"));
    EXPECT_EQ(chosen.passphrase_file, any::string(u"pass.txt"));
    EXPECT_EQ(parsed({u"-d", u"x", u"-n"}).existing, options::overwrite::never);
    EXPECT_EQ(parsed({u"-l"}).what, options::action::list);
    EXPECT_EQ(parsed({u"-t", u"-p", u"f"}).what, options::action::test);
}

TEST(options, the_argument_of_d_may_look_like_a_switch) {
    EXPECT_EQ(parsed({u"-d", u"-o"}).destination, any::string(u"-o"));
    EXPECT_EQ(parsed({u"-d", u"-o"}).existing, options::overwrite::ask);
}

TEST(options, help_and_version_win_over_everything_before_the_program_arguments) {
    EXPECT_EQ(parsed({u"-h"}).what, options::action::help);
    EXPECT_EQ(parsed({u"--help"}).what, options::action::help);
    EXPECT_EQ(parsed({u"-z", u"-h"}).what, options::action::help);
    EXPECT_EQ(parsed({u"--version"}).what, options::action::version);
    EXPECT_EQ(parsed({u"-o", u"-n", u"--version"}).what, options::action::version);
    EXPECT_EQ(parsed({u"--", u"--version"}).what, options::action::extract);
}

// -h beside -l is "sizes as people read them"; anywhere else, and --help
// beside -l, it is the usage text. -f turns the free-space check off.
TEST(options, h_with_l_means_readable_sizes_and_f_skips_the_space_check) {
    struct row {
        std::vector<std::u16string> words;
        options::action what;
        bool human, check_space;
    };
    const row table[] = {
        {{u"-l", u"-h"}, options::action::list, true, true},
        {{u"-h", u"-l"}, options::action::list, true, true},
        {{u"-l"}, options::action::list, false, true},
        {{u"-l", u"--help"}, options::action::help, false, true},
        {{u"-t", u"-h"}, options::action::help, false, true},
        {{u"-h", u"--", u"-l"}, options::action::help, false, true},
        {{u"-q", u"-f"}, options::action::extract, false, false},
        {{u"--no-space-check"}, options::action::extract, false, false},
        {{}, options::action::extract, false, true},
    };
    for (const row& line : table) {
        const options chosen = parsed(line.words);
        EXPECT_EQ(chosen.what, line.what) << line.words.size();
        EXPECT_EQ(chosen.human_sizes, line.human) << line.words.size();
        EXPECT_EQ(chosen.check_space, line.check_space) << line.words.size();
    }
}

TEST(options, unknown_switches_and_stray_words_are_refused) {
    EXPECT_EQ(refusal({u"-z"}), "unknown switch \"-z\"");
    EXPECT_EQ(refusal({u"-Q"}), "unknown switch \"-Q\"");
    EXPECT_EQ(refusal({u"--quiet"}), "unknown switch \"--quiet\"");
    EXPECT_EQ(refusal({u"-q "}), "unknown switch \"-q \"");
    EXPECT_EQ(refusal({u"-qo"}), "unknown switch \"-qo\"");
    EXPECT_EQ(refusal({u"-q", u"x"}), "unexpected argument \"x\" (switches only)");
    EXPECT_EQ(refusal({u"/q"}), "unexpected argument \"/q\" (switches only)");
    EXPECT_EQ(refusal({u""}), "unexpected argument \"\" (switches only)");
}

TEST(options, a_missing_argument_is_refused) {
    EXPECT_EQ(refusal({u"-d"}), "-d needs a folder");
    EXPECT_EQ(refusal({u"-q", u"-p"}), "-p needs a file");
    EXPECT_EQ(refusal({u"-d", u""}), "-d needs a folder");
}

TEST(options, j_takes_a_count_of_threads) {
    EXPECT_EQ(parsed({}).threads, 0u);  // one per processor
    EXPECT_EQ(parsed({u"-j", u"1"}).threads, 1u);
    EXPECT_EQ(parsed({u"-q", u"-j", u"64"}).threads, 64u);
    for (const auto& words : std::vector<std::vector<std::u16string>>{{u"-j"},
                                                                      {u"-j", u"0"},
                                                                      {u"-j", u"65"},
                                                                      {u"-j", u"-1"},
                                                                      {u"-j", u"2x"},
                                                                      {u"-j", u""},
                                                                      {u"-j", u"99999999999"}})
        EXPECT_EQ(refusal(words), "-j needs a number of threads from 1 to 64");
    EXPECT_EQ(refusal({u"-j", u"2", u"-j", u"2"}), "-j is given twice");
}

TEST(options, switches_that_exclude_each_other_are_refused) {
    EXPECT_EQ(refusal({u"-o", u"-n"}), "-o and -n exclude each other");
    EXPECT_EQ(refusal({u"-t", u"-l"}), "-l and -t exclude each other");
    EXPECT_EQ(refusal({u"-d", u"a", u"-d", u"b"}), "-d is given twice");
    EXPECT_EQ(refusal({u"-p", u"a", u"-p", u"b"}), "-p is given twice");
    EXPECT_EQ(refusal({u"-log", u"a", u"/log", u"b"}), "/log is given twice");
    EXPECT_EQ(refusal({u"-q", u"-log"}), "-log needs a file");
    EXPECT_EQ(refusal({u"/log", u""}), "/log needs a file");
}

TEST(options, unattended_runs_log_and_accept) {
    EXPECT_EQ(parsed({u"-log", u"run.log"}).log_file, any::string(u"run.log"));
    EXPECT_EQ(parsed({u"-q", u"/log", u"-x"}).log_file, any::string(u"-x"));
    EXPECT_TRUE(parsed({u"-y"}).accept);
    EXPECT_TRUE(parsed({u"--accept"}).accept);
    EXPECT_FALSE(parsed({u"-y"}).quiet);
    EXPECT_FALSE(parsed({u"-q"}).accept);
    // Also on a command line that is refused: its error shows no window.
    for (const auto& words : std::vector<std::vector<std::u16string>>{{u"-q"}, {u"-z", u"-l"}, {u"-t", u"-x"}})
        EXPECT_TRUE(options::unattended(std::vector<any::string>(words.begin(), words.end())));
    for (const auto& words : std::vector<std::vector<std::u16string>>{{}, {u"-y", u"-d", u"x"}, {u"--", u"-q"}})
        EXPECT_FALSE(options::unattended(std::vector<any::string>(words.begin(), words.end())));
}

// Hazard: a switch typed with an escape sequence in it is quoted back to the
// terminal with the usage text; it must not act on it.
TEST(options, a_refused_argument_is_quoted_printable) {
    EXPECT_EQ(refusal({u"-\x1b[2J"}), "unknown switch \"-^[[2J\"");
    EXPECT_EQ(refusal({u"\x1b]0;x\x07"}), "unexpected argument \"^[]0;x^G\" (switches only)");
}

TEST(options, x_keeps_the_program_from_running_and_arguments_follow_two_dashes) {
    const options chosen = parsed({u"-q", u"-x", u"--", u"-q", u"--flag", u"two words"});
    EXPECT_TRUE(chosen.quiet);
    EXPECT_FALSE(chosen.run_program);
    EXPECT_EQ(chosen.program_arguments,
              (std::vector<any::string>{any::string(u"-q"), any::string(u"--flag"), any::string(u"two words")}));
    // After "--" nothing is a switch of the stub's own, "-h" included.
    EXPECT_EQ(parsed({u"--", u"-h"}).what, options::action::extract);
    EXPECT_TRUE(parsed({u"-q"}).run_program);
}

TEST(options, the_usage_names_the_program_and_every_switch) {
    const std::string text = options::usage("photos.exe");
    EXPECT_EQ(text.rfind("usage: photos.exe [-q] [-y] [-d DIR] [-o | -n] [-p FILE] [-x] [-f]\n"
                         "                  [-j N] [-- ARGS]\n",
                         0),
              0u)
        << text;
    for (const char* option :
         {"-q ", "-y, --accept", "-d DIR", "-o ", "-n ", "-l ", "-t ", "-p FILE", "-x ", "-log FILE", "-- ARGS",
          "-h, --help", "--version", "-f, --no-space-check", "-l -h", "-j N"})
        EXPECT_NE(text.find(std::string("\n  ") + option), std::string::npos) << option;
    EXPECT_EQ(text.back(), '\n');
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 79u) << "a line wider than a terminal: " << text.substr(start, end - start);
}

}  // namespace
