// The least a Windows program can do to write the files of the Wine
// benchmark (bench/wine-files.sh): for each file one CreateFileW,
// WriteFile, SetFileTime and CloseHandle, folders made once, names built
// once. The stub's time is measured against this one's in the same prefix.
//
//   plain_loop.exe COUNT FOLDERS   (writes into the current folder)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const int count = std::atoi(argv[1]), folders = std::atoi(argv[2]);
    for (int folder = 0; folder < folders; ++folder)
        CreateDirectoryW((L"d" + std::to_wstring(folder)).c_str(), nullptr);
    std::vector<char> content(4096, 'x');
    FILETIME time{};
    time.dwHighDateTime = 0x01D9'0000;
    for (int file = 0; file < count; ++file) {
        wchar_t name[64];
        std::swprintf(name, 64, L"d%d\\f%06d.txt", file % folders, file);
        HANDLE handle = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return 1;
        DWORD written = 0;
        WriteFile(handle, content.data(), static_cast<DWORD>(file % 500), &written, nullptr);
        SetFileTime(handle, nullptr, nullptr, &time);
        CloseHandle(handle);
    }
    return 0;
}
