// Runtime pieces that the stub replaces to stay small: it is overhead on
// every archive, and on 32-bit Windows the linker keeps every function of a
// library member that has unwind data, used or not.

#include <bits/functexcept.h>

#include <cstdlib>
#include <new>

namespace {

// What the library's own checks raise here (a string or vector grown past
// its limit, a position out of range). The entry ends the program with exit
// code 3 for anything that is not one of the system's exceptions, so the
// kind needs no text; the library's exception classes would bring 85 KiB of
// string code along.
struct library_failure {};

}  // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_bad_exception() { throw library_failure(); }
void __throw_bad_cast() { throw library_failure(); }
void __throw_bad_typeid() { throw library_failure(); }
void __throw_logic_error(const char*) { throw library_failure(); }
void __throw_domain_error(const char*) { throw library_failure(); }
void __throw_invalid_argument(const char*) { throw library_failure(); }
void __throw_length_error(const char*) { throw library_failure(); }
void __throw_out_of_range(const char*) { throw library_failure(); }
void __throw_out_of_range_fmt(const char*, ...) { throw library_failure(); }
void __throw_runtime_error(const char*) { throw library_failure(); }
void __throw_range_error(const char*) { throw library_failure(); }
void __throw_overflow_error(const char*) { throw library_failure(); }
void __throw_underflow_error(const char*) { throw library_failure(); }

}  // namespace std

namespace __gnu_cxx {

// An exception that nothing catches cannot happen (the entry catches
// everything); should the runtime still end the program this way, it ends
// quietly. The library's own handler prints the exception's name and pulls
// in a demangler and a formatted-output library, 140 KiB together.
void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
