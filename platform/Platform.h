// The platform layer's export macro.
#pragma once

#ifdef _WIN32
// On Windows the system is the platform (ole32, oleaut32, kernel32 …); what the platform layer
// adds is a static library linked into each module.
#define PLATFORM_API
#else
// libplatform.so exports what is marked PLATFORM_API; everything else stays hidden.
#define PLATFORM_API __attribute__((visibility("default")))
#endif
