// The system's Win32, COM and OLE Automation declarations with their Windows names and meanings:
// the Windows SDK (mingw-w64) on Windows, the stand-in of platform/posix/ elsewhere. Each
// interface the code uses carries its identifier (IID_OF) on both.
#pragma once

#ifdef _WIN32
#include "platform/windows/Win32.h"
#else
#include "platform/posix/Win32.h"
#endif
