#include "app/host.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/posix/console.h"
#include "errors/exception.h"
#include "io/posix/error_text.h"

extern char** environ;

namespace quillon::self {

namespace {

constexpr const char* self_link = "/proc/self/exe";

}  // namespace

io::path host::own_path() {
    // The name under which the program was started, so that an unnamed
    // entry takes its name from it; the link itself when it cannot be read.
    std::vector<char> name(4096);
    for (;;) {
        const ssize_t length = readlink(self_link, name.data(), name.size());
        if (length < 0) return io::path(any::string(self_link));
        if (static_cast<std::size_t>(length) < name.size())
            return io::path(any::string(std::string(name.data(), static_cast<std::size_t>(length))));
        name.resize(name.size() * 2);
    }
}

io::path host::own_image() { return io::path(any::string(self_link)); }

any::string host::current_directory() {
    std::vector<char> name(4096);
    while (getcwd(name.data(), name.size()) == nullptr) {
        // A removed or unreachable current folder: extract relative to it.
        if (errno != ERANGE) return any::string(".");
        name.resize(name.size() * 2);
    }
    return any::string(std::string(name.data()));
}

io::path host::full_path(const any::string& name) {
    io::path path(name);
    const std::u16string& text = name.wide();
    if (!text.empty() && text[0] == u'/') return path;
    const any::string current = current_directory();
    if (current.wide().empty() || current.wide()[0] != u'/') return path;
    path.place_under(io::path(current));
    return path;
}

void host::show_error(const std::string& text) noexcept {
    try {
        // One line, whatever the system's text holds, with no control
        // character left to act on the terminal: a message may quote a
        // name from the archive.
        std::string line = text;
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        console::write(any::string(line).printable(std::string::npos).to_utf8() + "\n");
    } catch (...) {
    }
}

void host::set_title(const any::string& title) { console::write(title.printable().to_utf8() + "\n"); }

io::path host::new_temporary_folder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base == '/' ? base : "/tmp") + "/quillon-XXXXXX";
    // mkdtemp makes the folder itself, mode 0700, under a name nobody held:
    // no earlier folder or link can be taken for it.
    if (mkdtemp(pattern.data()) == nullptr)
        throw un::exception("cannot make a temporary folder in \"" + pattern.substr(0, pattern.rfind('/')) +
                                "\": " + io::error_text(errno),
                            "quillon::self::host");
    struct stat status;
    if (lstat(pattern.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != geteuid())
        throw un::exception("the temporary folder \"" + pattern + "\" is not this user's own", "quillon::self::host");
    return io::path(any::string(pattern));
}

namespace {

// The home folder of user `uid` in the password file, read as it stands:
// the stub is linked statically, and the C library's user lookup would need
// its shared name-service modules. Empty when no line names the user.
std::string home_in_password_file(uid_t uid) {
    const int file = open("/etc/passwd", O_RDONLY | O_CLOEXEC);
    if (file < 0) return std::string();
    std::string text;
    char block[4096];
    for (ssize_t got; (got = read(file, block, sizeof block)) > 0;) text.append(block, static_cast<std::size_t>(got));
    close(file);
    // name:password:uid:gid:comment:home:shell
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields(1);
        for (std::size_t i = at; i < end; ++i) {
            if (text[i] == ':')
                fields.emplace_back();
            else
                fields.back() += text[i];
        }
        at = end + 1;
        if (fields.size() >= 6 && !fields[2].empty() &&
            fields[2].find_first_not_of("0123456789") == std::string::npos &&
            std::strtoull(fields[2].c_str(), nullptr, 10) == uid && !fields[5].empty() && fields[5][0] == '/')
            return fields[5];
    }
    return std::string();
}

}  // namespace

io::path host::home_folder() {
    const char* variable = std::getenv("HOME");
    std::string home =
        variable != nullptr && *variable == '/' ? std::string(variable) : home_in_password_file(getuid());
    if (home.empty())
        throw un::exception("no home folder (HOME is not set, and /etc/passwd names none for this user)",
                            "quillon::self::host");
    return io::path(any::string(home));
}

namespace {

// Why `path` could not be started with `error`, in words: a file without an
// execute permission, a file the kernel does not take for a program, or a
// folder (a file system mounted noexec) where nothing may run.
std::string start_failure(const std::string& path, const std::string& where, int error) {
    std::string message = "cannot run \"" + path + "\": ";
    struct stat status;
    if (error == EACCES && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0)
        return message + "the file is not executable (it has no execute permission)";
    if (error == ENOEXEC) return message + "it is not a program this system can run (" + io::error_text(error) + ")";
    message += io::error_text(error);
    if (error == EACCES || error == EPERM)
        message += " (the folder \"" + where + "\" may not allow programs to run; choose another destination with -d)";
    return message;
}

// The program being waited for, for the handler below; 0 while there is
// none.
volatile sig_atomic_t waited_program = 0;

// The signals that end a program when nobody handles them and that a
// person or a service manager sends to stop one.
constexpr int passed_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void pass_to_program(int signal_number, siginfo_t* info, void*) {
    // Ctrl+C on the terminal reaches the whole foreground group, the program
    // included, from the kernel; one sent to the stub alone is passed on.
    if (info != nullptr && info->si_code == SI_KERNEL) return;
    const pid_t program = waited_program;
    if (program > 0) kill(program, signal_number);
}

// While it lives, the signals above no longer end the stub: they go to the
// program, and the stub outlives it to clean up after it. A signal the stub
// was started to ignore stays ignored (as the program inherits it).
class passing_signals {
public:
    passing_signals() {
        struct sigaction action {};
        action.sa_sigaction = pass_to_program;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < count; ++i) {
            sigaction(passed_signals[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler != SIG_IGN) sigaction(passed_signals[i], &action, nullptr);
        }
    }
    ~passing_signals() {
        waited_program = 0;
        for (std::size_t i = 0; i < count; ++i) sigaction(passed_signals[i], &previous_[i], nullptr);
    }
    passing_signals(const passing_signals&) = delete;
    passing_signals& operator=(const passing_signals&) = delete;

private:
    static constexpr std::size_t count = sizeof passed_signals / sizeof passed_signals[0];
    struct sigaction previous_[count] {};
};

}  // namespace

void host::check_program(const io::path&, const std::vector<any::string>&) {
    // Every byte string is a path or an argument to execve.
}

int host::run_program(const io::path& program, const std::vector<any::string>& arguments, const io::path& folder) {
    const std::string path = program.join().narrow();
    const std::string where = folder.join().narrow();
    // Looked for after the change into `folder`, a relative name would
    // find another file there, or none.
    if (path.empty() || path[0] != '/')
        throw un::exception(
            "cannot run \"" + path + "\": its full path is not known (the current folder cannot be found)",
            "quillon::self::host");
    std::vector<std::string> words{path};
    for (const any::string& argument : arguments) words.push_back(argument.narrow());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    // Held back from before the handlers are set until the program's id is
    // known, so that none is lost; the program starts with the stub's own
    // mask.
    sigset_t held, previous;
    sigemptyset(&held);
    for (int signal_number : passed_signals) sigaddset(&held, signal_number);
    sigprocmask(SIG_BLOCK, &held, &previous);
    passing_signals passing;
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &previous);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, where.c_str());
    pid_t child = 0;
    // The full path, never a search: execve, through the script's own #!
    // line when it is one.
    const int error = posix_spawn(&child, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error == 0) waited_program = child;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (error != 0) throw un::exception(start_failure(path, where, error), "quillon::self::host");
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            throw un::exception(std::string("cannot wait for the program: ") + io::error_text(errno),
                                "quillon::self::host");
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

}  // namespace quillon::self
