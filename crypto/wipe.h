// Overwrites secrets (keys, key schedules, chaining states) with zeros once
// they are no longer needed. A plain memset of memory that is about to die
// is a dead store the optimiser may drop; the empty assembly statement that
// takes the address and clobbers memory makes the zeros observable.
#pragma once

#include <cstddef>
#include <cstring>

namespace algorithm::crypto {

inline void wipe(void* bytes, std::size_t length) {
    std::memset(bytes, 0, length);
    __asm__ __volatile__("" : : "r"(bytes) : "memory");
}

}  // namespace algorithm::crypto
