// The program never throws, so nothing ever reaches std::terminate with a message
// worth printing, and no error of the standard library is ever caught. GCC's default
// terminate handler would demangle the exception's type name for that message and
// brings about 75 KB of demangler and stdio along; the library's own throw helpers
// bring its exception classes with a second string implementation for their messages
// (about 50 KB). These stop the program the same way, without them: a failure the
// library would have thrown (out of memory, a string too long) ends it at once, as
// the uncaught exception would have.
#include <cstdlib>
#include <string> // the declarations of the throw helpers, which these must match

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx

// The full set that libstdc++ defines together (functexcept.o): should any one be
// missing, the library's object comes along with its definitions of the others.
namespace std {
void __throw_bad_exception() {
    std::abort();
}
void __throw_bad_alloc() {
    std::abort();
}
void __throw_bad_array_new_length() {
    std::abort();
}
void __throw_bad_cast() {
    std::abort();
}
void __throw_bad_typeid() {
    std::abort();
}
void __throw_logic_error(const char*) {
    std::abort();
}
void __throw_domain_error(const char*) {
    std::abort();
}
void __throw_invalid_argument(const char*) {
    std::abort();
}
void __throw_length_error(const char*) {
    std::abort();
}
void __throw_out_of_range(const char*) {
    std::abort();
}
void __throw_out_of_range_fmt(const char*, ...) {
    std::abort();
}
void __throw_runtime_error(const char*) {
    std::abort();
}
void __throw_range_error(const char*) {
    std::abort();
}
void __throw_overflow_error(const char*) {
    std::abort();
}
void __throw_underflow_error(const char*) {
    std::abort();
}
} // namespace std
