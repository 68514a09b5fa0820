// How the program ends when the C++ runtime meets an error it reports by exception
// (memory exhausted, a container asked to grow past its maximum, an empty function
// called): at once, with std::abort. The program is built without exceptions with GCC,
// so none could be caught anyway, and an exception nobody catches ends in
// std::terminate, which aborts: the outcome is the same. (The fetch worker's catch-all
// serves runtimes that do throw, such as Visual C++'s.)
//
// Built with the GNU runtime only, and linked straight into the program (not through
// a library), so these definitions take the place of the runtime's own. Those throw
// exception objects carrying strings and, at the end, print a message through a
// complete C++ name demangler and printf to a console a windowed program does not
// have; and the throwing alone links in the unwinder, type information and the
// runtime's exception memory pool.
#include <cstdlib>
#include <exception>  // defines __GLIBCXX__ with the GNU runtime
#include <new>

#if defined(__GLIBCXX__)

// The replaceable allocation functions, as the runtime's own but for their end: no
// new-handler is ever installed, so memory exhausted ends the program here rather than
// in a std::bad_alloc thrown.
void* operator new(std::size_t size) {
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  std::abort();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_exception() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }
void __throw_bad_function_call() { std::abort(); }

}  // namespace std

#endif
