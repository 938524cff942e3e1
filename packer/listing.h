// --list and --test: look inside a self-extracting program (or a plain
// zip) through the project's own Zip reader.
#pragma once

#include <ostream>
#include <string>

namespace quillon::pack {

// One line per entry: name, size, method, time, encrypted. Returns the exit
// code: 0 good, 2 damaged.
int list_entries(const std::string& path, std::ostream& out);
// Decodes every entry in memory and checks its CRC; writes no file.
// Encrypted entries need `passphrase`.
int test_entries(const std::string& path, const std::string& passphrase, std::ostream& out);

}  // namespace quillon::pack
