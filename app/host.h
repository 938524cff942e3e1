// What the entry needs from the system it runs on: its own file, the
// current folder, a way to show the one error message, and what an
// installer needs (its title, a private temporary folder, the home folder,
// running the program it brought). One implementation per
// front end (app/win32/, app/posix/).
#pragma once

#include <string>
#include <vector>

#include "io/path.h"
#include "io/text/string.h"

namespace quillon::self {

class host {
public:
    // The program's own executable file, by the name under which it runs.
    static io::path own_path();
    // The file whose headers describe the running image (the same file;
    // on Linux the kernel's link to it, which survives renames).
    static io::path own_image();
    // The process's current folder when the program starts.
    static any::string current_directory();
    // `name` as a full path: a relative name is taken from the current
    // folder (on Windows as the system resolves it, "C:x" and "\x" too).
    // A relative one stays relative when the current folder cannot be
    // found; never raises for that.
    static io::path full_path(const any::string& name);
    // Shows `text` (the display text of a failure) to the user; never
    // raises. On Windows in a message box, unless message boxes are not
    // allowed (report::without_message_boxes): then where a report goes.
    static void show_error(const std::string& text) noexcept;

    // The title of every window and message box ("Self-Extracting Archive"
    // until set); the POSIX stub prints it as its first line.
    static void set_title(const any::string& title);
    // A new folder with a random name in the system's temporary folder,
    // made by this call (never one that was there), only the user's, and no
    // link. Throws io::exception when it cannot be made.
    static io::path new_temporary_folder();
    // The user's home (profile) folder. Throws when the system names none.
    static io::path home_folder();
    // Runs `program` (a full path, never looked for on a search path or
    // through a shell) with `arguments` in `folder`, waits for it and
    // returns its exit code. Throws un::exception naming the program when
    // it cannot be started, saying why as far as the system tells: the
    // file is not executable, it is no program this system runs, or the
    // folder may not allow programs to run (then naming the folder and -d).
    //
    // On Windows a batch file (.bat, .cmd) runs through the system's own
    // cmd.exe, explicitly, each argument in quotes so that cmd takes
    // & | < > ^ ( ) and blanks in it as plain characters: %~1 in the batch
    // file is the first argument as given, %1 the same in quotes. cmd.exe
    // has no way to pass a double quote, a line break or a % (it expands
    // %NAME% inside quotes too) unchanged: an argument holding one, or a
    // path with a %, is refused with an un::exception naming it, before
    // anything runs.
    static int run_program(const io::path& program, const std::vector<any::string>& arguments, const io::path& folder);
    // Throws what run_program would refuse of `program` and `arguments`
    // before it starts anything (on Windows what cmd.exe cannot pass to a
    // batch file), so that it is said before anything is written.
    static void check_program(const io::path& program, const std::vector<any::string>& arguments);
};

}  // namespace quillon::self
