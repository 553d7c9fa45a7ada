// The static C++ runtime's emergency exception pool, given back when the
// core's image goes.
//
// libstdc++ (linked into the core) allocates a pool of 73 KB (64 objects of
// 1 KB and their headers) from the process heap as the image loads, for
// exceptions thrown when the heap is exhausted, and never frees it: each
// core a hot reload unloads would leave one behind. When the image is
// unloaded (or the process ends), nothing of the core runs after its static
// destructors, so the pool goes back then.

namespace __gnu_cxx {
void __freeres(); /* libstdc++: frees the emergency pool */
}

namespace {

__attribute__((destructor)) void release_exception_pool() { __gnu_cxx::__freeres(); }

} // namespace
