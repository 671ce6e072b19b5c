// Calls an operation of an interface the way code from another compiler does: it knows the
// operation only by its slot number, takes that entry from the object's table of virtual
// functions and calls it as a plain function with the object as the first argument. On 64-bit
// Windows and on Linux both ABIs pass a member function's object like that, so this reaches our
// objects exactly as the engine does. The stand-in engine calls the agent's objects this way on
// Windows; tests call them this way on every platform.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include <kelvo/rizudada_engine.h>

#if defined(_WIN32) && !defined(_WIN64)
#error "32-bit Windows passes a member function's object in ECX (thiscall), not as a plain argument"
#endif

namespace kelvo {
namespace rtc {
namespace standin {

// The table entry of `slot` in this build: only the event handler's destructor (slot 0) may take
// more than one entry, and the callbacks follow it.
template <typename Interface>
constexpr std::size_t table_entry(std::size_t slot) {
    if (std::is_same<Interface, IRtcEngineEventHandler>::value && slot > 0) {
        return slot + RIZUDADA_HANDLER_DESTRUCTOR_ENTRIES - 1;
    }
    return slot;
}

// slot_call<Interface, Signature>::on(object, slot, arguments...), for example
//   slot_call<IRtcEngineEventHandler, void(int, const char*)>::on(handler, 3, 8, "warning");
template <typename Interface, typename Signature>
struct slot_call;

template <typename Interface, typename Result, typename... Params>
struct slot_call<Interface, Result(Params...)> {
    static_assert(std::is_polymorphic<Interface>::value, "only objects with a table");

    // `object` converts to the interface first, so a second base is reached through its own table.
    static Result on(Interface& object, std::size_t slot, Params... arguments) {
        using entry = Result (*)(Interface*, Params...);
        const entry* table = nullptr;
        // The table pointer is the object's first word.
        std::memcpy(&table, static_cast<const void*>(&object), sizeof table);
        return table[table_entry<Interface>(slot)](&object, std::forward<Params>(arguments)...);
    }
};

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
