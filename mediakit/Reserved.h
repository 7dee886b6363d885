// Placeholder slots of the framework's interfaces. Each keeps the slots after it at their fixed
// positions and answers E_NOTIMPL: `MEDIAKIT_RESERVED(4)` implements `Reserved4()`.
#pragma once

#include "platform/Types.h"

#define MEDIAKIT_RESERVED(slot)                           \
    HRESULT STDMETHODCALLTYPE Reserved##slot() override { \
        return E_NOTIMPL;                                 \
    }
