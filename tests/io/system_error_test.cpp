// The messages of system failures, and the broken pipe that is none.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#include <csignal>
#endif

#include "errors/exception.h"
#include "io/file.h"
#include "io/system.h"
#include "io/system_error.h"
#include "tests/support/scratch_folder.h"

namespace {

using quillon_test::scratch_folder;

#ifdef _WIN32
const std::int32_t broken_pipe = ERROR_BROKEN_PIPE;
const std::int32_t access_denied = ERROR_ACCESS_DENIED;
#else
const std::int32_t broken_pipe = EPIPE;
const std::int32_t access_denied = EACCES;
#endif

TEST(system_error, message_is_operation_quoted_path_code_and_trimmed_text) {
    io::path name(u"D:\\x\\f.txt", u"\\/");
    EXPECT_EQ(io::system_error_message("cannot open", name, 2, "The system cannot find the file specified.\r\n"),
              "cannot open \"D:\\x\\f.txt\"; 2 The system cannot find the file specified");
    EXPECT_EQ(io::system_error_message("cannot read from", name, 5, "Access is denied"),
              "cannot read from \"D:\\x\\f.txt\"; 5 Access is denied");
    // Nothing but full stops and line breaks leaves an empty text.
    EXPECT_EQ(io::system_error_message("cannot flush", name, 1, ".\r\n.\n"), "cannot flush \"D:\\x\\f.txt\"; 1 ");
}

TEST(system_error, raises_the_last_error_with_the_systems_text) {
    io::path name(u"some/where", u"/");
    io::system::set_last_error(access_denied);
    try {
        io::raise_system_error(name, "cannot open", "io::fork");
        FAIL() << "nothing raised";
    } catch (const io::exception& failure) {
        EXPECT_EQ(failure.where, "io::fork");
        EXPECT_EQ(failure.error, access_denied);
        std::string head = "cannot open \"some/where\"; " + std::to_string(access_denied) + " ";
        ASSERT_EQ(failure.message.substr(0, head.size()), head);
        std::string text = failure.message.substr(head.size());
        ASSERT_FALSE(text.empty());
        EXPECT_TRUE(text.back() != '.' && text.back() != '\r' && text.back() != '\n') << text;
#ifndef _WIN32
        EXPECT_EQ(text, "Permission denied");
#endif
    }
}

TEST(system_error, a_broken_pipe_is_no_failure) {
    io::system::set_last_error(broken_pipe);
    io::raise_system_error(io::path(u"pipe", u"/"), "cannot read from", "io::fork");
}

TEST(system_error, a_name_without_narrow_form_raises_the_conversion_failure) {
    io::path name(std::u16string{u'a', char16_t(0xD800)}, u"/");
    io::system::set_last_error(access_denied);
    try {
        io::raise_system_error(name, "cannot open", "io::fork");
        FAIL() << "nothing raised";
    } catch (const any::exception& failure) {
        EXPECT_EQ(failure.where + "|" + failure.message, "any::string|cannot convert from Unicode");
    }
}

#ifdef _WIN32

TEST(system_error, a_pipe_whose_writer_went_away_reads_as_its_end) {
    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
    DWORD written;
    WriteFile(writer, "ab", 2, &written, nullptr);
    CloseHandle(writer);
    HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, reader);
    io::file input;
    input.data_fork().open_stdin();
    SetStdHandle(STD_INPUT_HANDLE, saved);
    char bytes[4];
    EXPECT_EQ(input.data_fork().read(bytes, 4), 2u);
    EXPECT_EQ(input.data_fork().read(bytes, 4), 0u);  // ERROR_BROKEN_PIPE
    input.data_fork().close();
}

#else

TEST(system_error, a_pipe_whose_reader_went_away_takes_writes_quietly) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    auto previous = std::signal(SIGPIPE, SIG_IGN);
    int saved = dup(1);
    dup2(ends[1], 1);
    close(ends[1]);
    io::file output;
    output.data_fork().open_stdout();
    bool raised = false;
    try {
        output.data_fork().write("lost", 4);  // EPIPE
    } catch (const io::exception&) {
        raised = true;
    }
    dup2(saved, 1);
    close(saved);
    std::signal(SIGPIPE, previous);
    EXPECT_FALSE(raised);
}

#endif

TEST(system_error, every_fork_failure_carries_the_system_code) {
    scratch_folder scratch;
    io::file file(scratch.path("missing"));
    try {
        file.data_fork().open();
        FAIL() << "nothing raised";
    } catch (const io::exception& failure) {
        EXPECT_NE(failure.error, 0);
        EXPECT_NE(failure.message.find("; " + std::to_string(failure.error) + " "), std::string::npos);
    }
}

}  // namespace
