// The Windows backend. Names reach the system through the wide-character
// calls with the UTF-16 content of the joined path, so every name the file
// system can hold can be created, whatever the code pages. Errors are
// GetLastError with FormatMessage's text.
#include <windows.h>

#include <algorithm>
#include <string_view>

#include "errors/exception.h"
#include "io/system.h"
#include "io/system_error.h"

namespace io {
namespace system {
namespace {

// Whether `component` names a device (CON, NUL, COM1.txt...), which the
// system turns into the device's own name.
bool device_like(std::wstring_view component) {
    const std::wstring_view base = component.substr(0, component.find(L'.'));
    if (base.size() < 3 || base.size() > 7) return false;
    std::wstring upper;
    for (wchar_t unit : base) upper += (unit >= L'a' && unit <= L'z') ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (upper == device) return true;
    return upper.size() == 4 && (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0) &&
           upper[3] >= L'0' && upper[3] <= L'9';
}

// Whether `name` is a full path that the system would leave as it is:
// "X:\" and components that are neither empty, "." nor "..", without
// forward slashes and without the trailing dots and spaces the system
// drops. Such a name needs no question to the system (an extraction's
// names are all of this form, several of them per file).
bool already_full(const std::wstring& name) {
    if (name.size() < 3 || name[1] != L':' || name[2] != L'\\') return false;
    if (!((name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z'))) return false;
    std::size_t start = 3;
    while (start < name.size()) {
        std::size_t end = name.find(L'\\', start);
        if (end == std::wstring::npos) end = name.size();
        const std::wstring_view component(name.data() + start, end - start);
        if (component.empty() || component == L"." || component == L".." || component.back() == L'.' ||
            component.back() == L' ' || component.find(L'/') != std::wstring_view::npos || device_like(component))
            return false;
        start = end + 1;
    }
    return name.back() != L'\\' || name.size() == 3;
}

// The name made absolute with the "\\?\" prefix ("\\?\UNC\" for a
// network path), which lifts the limit of 260 characters from every wide
// call: deep trees extract. The prefix also stops the system from changing
// the name, so it is added to the full path the system itself computes.
bool long_form(const std::wstring& name, std::wstring& out) {
    if (name.compare(0, 4, L"\\\\?\\") == 0 || name.compare(0, 4, L"\\\\.\\") == 0) {
        out = name;
        return true;
    }
    if (already_full(name)) {
        out = L"\\\\?\\" + name;
        return true;
    }
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (length == 0) return false;
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    if (full.compare(0, 4, L"\\\\.\\") == 0) {  // a device: no prefix changes it
        out = full;
        return true;
    }
    if (full.compare(0, 2, L"\\\\") == 0)
        out = L"\\\\?\\UNC\\" + full.substr(2);
    else
        out = L"\\\\?\\" + full;
    return true;
}

// The name for the wide calls, kept alive for the duration of one call.
// Trailing zeros are dropped as in the narrow form; a zero inside would cut
// the name short at the system, so such a name is refused.
bool wide_name(const io::path& name, std::wstring& out) {
    any::string joined = name.join();
    std::u16string text = joined.wide();
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    if (text.find(u'\0') != std::u16string::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (text.empty()) {
        out.clear();
        return true;
    }
    return long_form(std::wstring(text.begin(), text.end()), out);
}

DWORD attributes_of(const io::path& name) {
    std::wstring text;
    return wide_name(name, text) ? GetFileAttributesW(text.c_str()) : INVALID_FILE_ATTRIBUTES;
}

HANDLE native(handle_type handle) { return reinterpret_cast<HANDLE>(handle); }

handle_type portable(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return io::fork::invalid_handle;
    return reinterpret_cast<handle_type>(handle);
}

}  // namespace

const std::u16string& separators() {
    static const std::u16string both = u"\\/";
    return both;
}

handle_type open(const io::path& name, int mode) {
    struct open_mode_call {
        DWORD access, sharing, disposition;
    };
    static const open_mode_call calls[] = {
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING},
        {GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW},
        {GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS},
    };
    const open_mode_call& call = calls[mode];
    std::wstring text;
    if (!wide_name(name, text)) return io::fork::invalid_handle;
    return portable(CreateFileW(text.c_str(), call.access, call.sharing, nullptr, call.disposition, 0, nullptr));
}

handle_type open_as_found(const io::path& name, bool follow_link) {
    std::wstring text;
    if (!wide_name(name, text)) return io::fork::invalid_handle;
    // A pipe never waits at the open (a busy one fails instead). A reparse
    // point is opened as itself, then refused.
    HANDLE handle = CreateFileW(text.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE || follow_link) return portable(handle);
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(handle, &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(handle);
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return io::fork::invalid_handle;
    }
    return portable(handle);
}

handle_type standard_handle(int which) {
    static const DWORD handles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    return portable(GetStdHandle(handles[which]));
}

bool close(handle_type handle) { return CloseHandle(native(handle)) != 0; }

bool is_character_device(handle_type handle) { return GetFileType(native(handle)) == FILE_TYPE_CHAR; }

bool read(handle_type handle, void* buffer, std::uint32_t count, std::uint32_t& done) {
    DWORD got = 0;
    BOOL ok = ReadFile(native(handle), buffer, count, &got, nullptr);
    done = got;
    return ok != 0;
}

bool read_at(handle_type handle, std::uint64_t position, void* buffer, std::uint32_t count, std::uint32_t& done) {
    // On a handle opened for synchronous use the read still waits for its
    // bytes; it leaves the file pointer where it ended.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    const BOOL ok = ReadFile(native(handle), buffer, count, &got, &at);
    done = got;
    if (ok) return true;
    if (GetLastError() != ERROR_HANDLE_EOF) return false;
    done = 0;
    return true;
}

bool is_regular_file(handle_type handle) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileType(native(handle)) == FILE_TYPE_DISK && GetFileInformationByHandle(native(handle), &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool write(handle_type handle, const void* buffer, std::uint32_t count) {
    // A short write (a pipe, a console) is continued.
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        DWORD put = 0;
        if (!WriteFile(native(handle), bytes, count, &put, nullptr)) return false;
        if (put == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes += put;
        count -= put;
    }
    return true;
}

bool size(handle_type handle, std::uint64_t& size) {
    LARGE_INTEGER answer;
    if (!GetFileSizeEx(native(handle), &answer)) return false;
    size = static_cast<std::uint64_t>(answer.QuadPart);
    return true;
}

bool position(handle_type handle, std::uint64_t& position) {
    LARGE_INTEGER zero{}, here;
    if (!SetFilePointerEx(native(handle), zero, &here, FILE_CURRENT)) return false;
    position = static_cast<std::uint64_t>(here.QuadPart);
    return true;
}

bool seek(handle_type handle, std::uint64_t position) {
    LARGE_INTEGER target;
    target.QuadPart = static_cast<LONGLONG>(position);
    return SetFilePointerEx(native(handle), target, nullptr, FILE_BEGIN) != 0;
}

bool end_file_here(handle_type handle) { return SetEndOfFile(native(handle)) != 0; }

bool flush(handle_type handle) { return FlushFileBuffers(native(handle)) != 0; }

bool free_space(const io::path& name, std::uint64_t& bytes) {
    std::wstring text;
    if (!wide_name(name, text)) return false;
    // A folder name ends with its separator here (a share's root needs it).
    if (text.empty() || text.back() != L'\\') text += L'\\';
    // The space the user may take, within any quota, not the volume's.
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(text.c_str(), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

bool remove_file(const io::path& name) {
    std::wstring text;
    return wide_name(name, text) && DeleteFileW(text.c_str()) != 0;
}

bool rename_replacing(const io::path& from, const io::path& to) {
    std::wstring from_text, to_text;
    return wide_name(from, from_text) && wide_name(to, to_text) &&
           MoveFileExW(from_text.c_str(), to_text.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool exists(const io::path& name) { return attributes_of(name) != INVALID_FILE_ATTRIBUTES; }

bool is_directory(const io::path& name) {
    DWORD attributes = attributes_of(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_link(const io::path& name) {
    DWORD attributes = attributes_of(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool create_directory(const io::path& name) {
    std::wstring text;
    return wide_name(name, text) && CreateDirectoryW(text.c_str(), nullptr) != 0;
}

namespace {

// The first thing a removal left, and the error that kept it.
struct removal {
    std::wstring first_left;
    DWORD first_error = 0;

    bool note(bool done, const std::wstring& path) {
        if (!done && first_left.empty()) first_left = path, first_error = GetLastError();
        return done;
    }
};

// Goes on past what cannot be removed: whatever else can go, goes.
bool remove_wide_tree(const std::wstring& folder, removal& state) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    bool removed = true;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            const bool folder_entry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            // A link to a folder is removed itself, never emptied.
            if (folder_entry && !link)
                removed = remove_wide_tree(path, state) && removed;
            else if (folder_entry)
                removed = state.note(RemoveDirectoryW(path.c_str()) != 0, path) && removed;
            else
                removed = state.note(DeleteFileW(path.c_str()) != 0, path) && removed;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    return state.note(RemoveDirectoryW(folder.c_str()) != 0, folder) && removed;
}

}  // namespace

bool remove_tree(const io::path& name, io::path& left) {
    std::wstring text;
    if (!wide_name(name, text)) {
        left = name;
        return false;
    }
    // A program that has just ended (an installer's, run from this very
    // folder) may keep its own file open a moment longer; so may a virus
    // scanner. Tried again for about two seconds.
    removal state;
    for (int attempt = 0; attempt < 20; ++attempt) {
        state = removal();
        if (remove_wide_tree(text, state)) return true;
        const DWORD code = state.first_error;
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED && code != ERROR_DIR_NOT_EMPTY) break;
        Sleep(100);
    }
    // Named as the caller named the folder, without the long form's prefix.
    left = name;
    const std::wstring below = state.first_left.substr(std::min(text.size() + 1, state.first_left.size()));
    if (!below.empty()) {
        io::path tail(any::string(std::u16string(below.begin(), below.end())), u"\\");
        for (const any::string& component : tail.components()) left.append(component);
    }
    SetLastError(state.first_error);
    return false;
}

bool remove_directory(const io::path& name) {
    std::wstring text;
    return wide_name(name, text) && RemoveDirectoryW(text.c_str()) != 0;
}

void apply_info(handle_type handle, const io::item_info& info) {
    // Times and attributes in one call on the open file; a zero leaves a
    // value as it is.
    FILE_BASIC_INFO basic = {};
    if (info.has_created) basic.CreationTime.QuadPart = info.created.ticks();
    if (info.has_modified) basic.LastWriteTime.QuadPart = info.modified.ticks();
    basic.FileAttributes = info.attribute_word();
    SetFileInformationByHandle(native(handle), FileBasicInfo, &basic, sizeof basic);
}

void apply_info(const io::path& name, const io::item_info& info) {
    std::wstring text;
    if (!wide_name(name, text)) return;
    // Backup semantics open folders too; a reparse point (a link) is opened
    // as itself, so nothing is set through it.
    HANDLE handle = CreateFileW(text.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    apply_info(portable(handle), info);
    CloseHandle(handle);
}

const bool folders_pinned_while_open = true;

const bool has_symbolic_links = false;

bool create_link(const io::path& /*name*/, const std::string& /*target*/) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

namespace {

// The full long-form name of `name` in the folder whose long form is
// `folder_name`: one component appended, without asking the system to
// resolve the path again. Windows drops dots and blanks at the end of a
// name, so the component loses them here too; a name left empty, or one
// with a separator, names nothing.
bool name_in(const std::u16string& folder_name, const any::string& name, std::wstring& out) {
    std::u16string text = name.wide();
    while (!text.empty() && (text.back() == u'.' || text.back() == u' ')) text.pop_back();
    if (text.empty() || text.find_first_of(std::u16string(u"\\/\0", 3)) != std::u16string::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::u16string full = folder_name;
    if (full.empty() || full.back() != u'\\') full += u'\\';
    full += text;
    out.assign(full.begin(), full.end());
    return true;
}

// Opens a folder as itself: a reparse point (a link, a junction) is opened
// as the reparse point and refused. Without delete sharing nobody can
// rename or remove the folder while the handle is open.
handle_type open_pinned(const std::wstring& name) {
    HANDLE handle = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return io::fork::invalid_handle;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(handle);
        SetLastError(ERROR_DIRECTORY);
        return io::fork::invalid_handle;
    }
    return portable(handle);
}

}  // namespace

handle_type open_folder(const io::path& name, std::u16string& folder_name) {
    std::wstring text;
    if (!wide_name(name.empty() ? io::path(any::string(u".")) : name, text)) return io::fork::invalid_handle;
    // The folder chosen may be reached through links: opened as the system
    // resolves it, then held.
    HANDLE handle =
        CreateFileW(text.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return io::fork::invalid_handle;
    folder_name.assign(text.begin(), text.end());
    return portable(handle);
}

handle_type open_folder_in(handle_type /*folder*/, const std::u16string& folder_name, const any::string& name,
                           std::u16string& child_name) {
    std::wstring text;
    if (!name_in(folder_name, name, text)) return io::fork::invalid_handle;
    const handle_type handle = open_pinned(text);
    if (handle != io::fork::invalid_handle) child_name.assign(text.begin(), text.end());
    return handle;
}

void create_folder_in(handle_type /*folder*/, const std::u16string& folder_name, const any::string& name) {
    std::wstring text;
    if (name_in(folder_name, name, text)) CreateDirectoryW(text.c_str(), nullptr);
}

namespace {

// A key of a wide name, as name_key makes them.
std::string key_of(std::wstring name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    if (name.empty()) return std::string();
    // The system's own case mapping, not the user's language's.
    std::wstring upper(name.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(), static_cast<int>(name.size()), &upper[0],
                      static_cast<int>(upper.size()), nullptr, nullptr, 0) != static_cast<int>(name.size()))
        upper = name;
    return std::string(reinterpret_cast<const char*>(upper.data()), upper.size() * sizeof(wchar_t));
}

}  // namespace

std::string name_key(const any::string& name) {
    const std::u16string& text = name.wide();
    if (text.find_first_of(std::u16string(u"\\/\0", 3)) != std::u16string::npos) return std::string();
    return key_of(std::wstring(text.begin(), text.end()));
}

bool list_keys(const io::path& name, const std::function<void(const std::string&)>& found) {
    std::wstring text;
    if (!wide_name(name, text)) return false;
    WIN32_FIND_DATAW item;
    const HANDLE search =
        FindFirstFileExW((text + L"\\*").c_str(), FindExInfoStandard, &item, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    }
    do {
        found(key_of(item.cFileName));
        // "PROGRA~1" names the same file as "Program Files".
        if (item.cAlternateFileName[0] != L'\0') found(key_of(item.cAlternateFileName));
    } while (FindNextFileW(search, &item));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return complete;
}

bool close_folder(handle_type folder) { return CloseHandle(native(folder)) != 0; }

int kind_in(handle_type /*folder*/, const std::u16string& folder_name, const any::string& name) {
    std::wstring text;
    const DWORD saved = GetLastError();
    const DWORD attributes =
        name_in(folder_name, name, text) ? GetFileAttributesW(text.c_str()) : INVALID_FILE_ATTRIBUTES;
    SetLastError(saved);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return 3;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return 2;
    return 1;
}

handle_type create_file_in(handle_type folder, const std::u16string& folder_name, const any::string& name,
                           bool replace) {
    std::wstring text;
    if (!name_in(folder_name, name, text)) return io::fork::invalid_handle;
    // Most files are new: one call makes them, and only a name that is
    // taken is looked at.
    HANDLE created = CreateFileW(text.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (created != INVALID_HANDLE_VALUE || !replace || GetLastError() != ERROR_FILE_EXISTS) return portable(created);
    // CREATE_ALWAYS would open a file link's target: the link goes first.
    if (kind_in(folder, folder_name, name) == 3 && !DeleteFileW(text.c_str())) return io::fork::invalid_handle;
    return portable(CreateFileW(text.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

bool create_link_in(handle_type /*folder*/, const std::u16string& /*folder_name*/, const any::string& /*name*/,
                    const std::string& /*target*/, bool /*replace*/) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool remove_in(handle_type /*folder*/, const std::u16string& folder_name, const any::string& name) {
    std::wstring text;
    return name_in(folder_name, name, text) && DeleteFileW(text.c_str()) != 0;
}

std::int32_t last_error() { return static_cast<std::int32_t>(GetLastError()); }

void set_last_error(std::int32_t code) { SetLastError(static_cast<DWORD>(code)); }

}  // namespace system

void raise_system_error(const io::path& name, const std::string& operation, const std::string& where) {
    DWORD code = GetLastError();
    // A writer that went away ends the data; it is no failure.
    if (code == ERROR_BROKEN_PIPE) return;
    char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    std::string system_text = length > 0 ? std::string(text, length) : std::string("unknown error");
    throw io::exception(system_error_message(operation, name, static_cast<std::int32_t>(code), system_text), where,
                        static_cast<std::int32_t>(code));
}

}  // namespace io
