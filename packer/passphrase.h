// The passphrase the packer encrypts with, read from a file's first line or
// asked twice on the terminal. Its bytes live in one buffer of their own,
// wiped (OPENSSL_cleanse) when the object goes, as is every buffer they
// passed through on the way in; the encryptors borrow them as a view and
// keep only the keys they derive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon::pack {

class passphrase {
public:
    passphrase() = default;
    ~passphrase();
    passphrase(const passphrase&) = delete;
    passphrase& operator=(const passphrase&) = delete;

    // The first line of `path` (a CR before its end dropped); throws
    // `failure` when it cannot be read or the line is empty.
    void read_file(const std::string& path);
    // Asks twice on the terminal, without echo; throws `failure` when
    // standard input is no terminal, the answers differ or are empty.
    void ask();

    std::string_view view() const { return {bytes_.data(), bytes_.size()}; }
    bool empty() const { return bytes_.empty(); }

private:
    void wipe();

    std::vector<char> bytes_;
};

}  // namespace quillon::pack
