// Export and calling-convention macros of the platform layer.
#pragma once

// libplatform.so exports what is marked PLATFORM_API; everything else stays hidden.
#define PLATFORM_API __attribute__((visibility("default")))

// COM methods use the platform's default calling convention here.
#define STDMETHODCALLTYPE
#define STDAPI extern "C" PLATFORM_API HRESULT
