// The decoder throws only where it cannot go on: memory exhausted, or a
// table of its own that does not fit (a fault of the program, never of a
// capture). The WebAssembly build has no unwinding and its C++ library
// none of the throwing runtime: such a throw stops the module at once,
// and the page reports the decoder's failure.
#include <cstddef>
#include <cstdlib>

extern "C" {

void* __cxa_allocate_exception(std::size_t)
{
    std::abort();
}

void __cxa_throw(void*, void*, void (*)(void*))
{
    std::abort();
}

} // extern "C"
