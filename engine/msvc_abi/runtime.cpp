// What the compiler expects of a C runtime, for a library that has none.
using size_t = decltype(sizeof 0);

extern "C" {

// Marks a program that uses floating point (the render context's rectangle).
int _fltused = 0;

// The table entry of a pure virtual operation: reached only by a broken caller.
int _purecall() { __builtin_trap(); }

// The compiler turns loops that fill or copy bytes into these calls; written out here so that
// their own loops do not become calls of themselves.
__attribute__((no_builtin("memset"))) void* memset(void* destination, int value, size_t size) {
    auto* bytes = static_cast<unsigned char*>(destination);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(value);
    return destination;
}

__attribute__((no_builtin("memcpy"))) void* memcpy(void* destination, const void* source,
                                                   size_t size) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    for (size_t i = 0; i < size; ++i) to[i] = from[i];
    return destination;
}

}  // extern "C"
