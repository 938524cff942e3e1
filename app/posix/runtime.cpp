// Runtime pieces that the statically linked POSIX stub replaces to stay
// small (it is overhead on every archive): the same as the Windows stub's
// (app/win32/runtime.cpp), and the C library's message catalogue lookup.
// Linked into the stub program only: the unit tests keep the library's own.

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
// in a demangler and formatted output.
void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

// The C++ library translates the texts of its exceptions through gettext,
// which would bring glibc's message catalogues and character-set
// conversion (with its loader of shared modules) into the static program.
// The stub sets no locale: the texts stay as they are, as gettext would
// leave them in the C locale.
extern "C" char* gettext(const char* text) { return const_cast<char*>(text); }
