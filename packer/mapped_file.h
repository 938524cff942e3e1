// A whole file mapped read-only into memory.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::pack {

class mapped_file {
public:
    explicit mapped_file(const std::string& path);
    ~mapped_file();
    mapped_file(const mapped_file&) = delete;
    mapped_file& operator=(const mapped_file&) = delete;

    const std::uint8_t* data() const { return data_; }
    std::uint64_t size() const { return size_; }

private:
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
};

}  // namespace quillon::pack
