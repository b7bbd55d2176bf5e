// Replacements for the parts of the static C++ runtime that an installer pays for in download
// size and never uses. Linked into the shipped program only; the test programs keep the stock
// runtime.

#include <cstdlib>
#include <exception>
#include <new>

// The default handler for an escaped exception prints its demangled type, which links the whole
// symbol demangler (about a sixth of the program). No exception is meant to escape; if one does,
// ending at once is all a user could be offered anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The library's versions build std::logic_error and its kin, whose message member is the old
// reference-counted string: that drags in a second complete string implementation (about 55 KB)
// for a text nobody reads. The program catches only with catch (...), at the boundaries of window
// procedures, threads and the log, so what matters is that an exception is still thrown, not its
// type. A length error is an allocation that cannot be made, and is reported as one.
namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_bad_cast() { throw exception(); }
void __throw_bad_typeid() { throw exception(); }
void __throw_bad_exception() { throw exception(); }
void __throw_logic_error(const char*) { throw exception(); }
void __throw_domain_error(const char*) { throw exception(); }
void __throw_invalid_argument(const char*) { throw exception(); }
void __throw_out_of_range(const char*) { throw exception(); }
void __throw_out_of_range_fmt(const char*, ...) { throw exception(); }
void __throw_runtime_error(const char*) { throw exception(); }
void __throw_range_error(const char*) { throw exception(); }
void __throw_overflow_error(const char*) { throw exception(); }
void __throw_underflow_error(const char*) { throw exception(); }
}  // namespace std
