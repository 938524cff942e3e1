// Text that the program prints for a person or a script: the listing, the
// test's lines, the usage text, and the errors of those modes.
//
// POSIX: standard output (standard error for errors), written as it comes.
// Windows, a GUI program: the standard handle when whoever started the
// program redirected it to a file or a pipe (UTF-8 there); else the console
// of the program that started it, when there is one; else one message box,
// shown when the report is finished (unless message boxes are not allowed:
// then nowhere).
//
// Every report but an error's is copied into the log (app/run_log.h).
#pragma once

#include <cstdint>
#include <string>

#include "stream/output.h"

namespace quillon::self {

class report : public stream::output {
public:
    // `error`: the text is an error message.
    explicit report(bool error = false) : error_(error) {}
    // Passes on what is left where the text goes as it comes (a report
    // cut short by an error shows no message box); never raises.
    ~report() override;

    // From now on no text waits in a message box for a click (quiet runs,
    // -l and -t: nobody may be there to click), on Windows the error
    // message included; text with no console and no redirected handle to
    // go to is left to the log and the exit code.
    static void without_message_boxes();
    static bool message_boxes_allowed();

    using stream::output::write;
    void write(const void* bytes, std::uint32_t length) override;
    void put(int byte) override;
    stream::size_type position() override { return written_; }
    // Passes on what has been collected where the text goes as it comes.
    void flush() override;
    // Flushes, and shows the message box where the text goes into one.
    void finish() override;

private:
    // UTF-8 not yet passed on.
    std::string pending_;
    stream::size_type written_ = 0;
    bool error_;
    bool finished_ = false;
};

}  // namespace quillon::self
