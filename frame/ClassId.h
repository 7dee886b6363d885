// The class identifier that travels with a C++ class: CLASS_ID_OF(CFlashFile5). The counterpart
// of IID_OF for interfaces, for code that names a class by its CLSID (error records, class
// tables). Classes are declared in the global namespace, where DECLARE_CLASS_ID can specialise
// the trait before the class itself is defined.
#pragma once

#include "platform/Guid.h"

template <class Class>
struct ClassIdOf;

#define DECLARE_CLASS_ID(Class, clsid)        \
    class Class;                              \
    template <>                               \
    struct ClassIdOf<Class> {                 \
        static constexpr CLSID value = clsid; \
    }

#define CLASS_ID_OF(Class) (ClassIdOf<Class>::value)
