// The component's module: its lock count (objects alive plus server locks), which
// DllCanUnloadNow answers from. Every COM object of the component is created with it.
#pragma once

#include "platform/ComObject.h"

inline ComModule& ComponentModule() {
    static ComModule module;
    return module;
}
