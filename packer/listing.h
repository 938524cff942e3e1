// --list and --test: look inside a self-extracting program (or a plain
// zip) through the core's catalogue, the one the stubs' -l and -t use.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace quillon::pack {

// One line per entry: sizes, method, time, encrypted, mode, name, then the
// totals; with `human_sizes` sizes as "1.2 MB". Returns the exit code: 0.
int list_entries(const std::string& path, bool human_sizes, std::ostream& out);
// Decodes every entry in memory and checks its CRC; writes no file.
// Encrypted entries need `passphrase`. Returns 0 when every entry is good,
// 2 otherwise.
int test_entries(const std::string& path, std::string_view passphrase, std::ostream& out);

}  // namespace quillon::pack
