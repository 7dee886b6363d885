// The stand-in for the Windows SDK headers: every declaration of the Win32/COM stand-in
// (libplatform.so). Code outside the platform layer includes platform/System.h, not this.
#pragma once

#include "platform/posix/Types.h"
#include "platform/posix/Guid.h"
#include "platform/posix/Unknown.h"
#include "platform/posix/Com.h"
#include "platform/posix/Bstr.h"
#include "platform/posix/Variant.h"
#include "platform/posix/ErrorInfo.h"
#include "platform/posix/ConnectionPoint.h"
#include "platform/posix/Dispatch.h"
#include "platform/posix/MemoryStream.h"
#include "platform/posix/NamedMutex.h"
#include "platform/posix/Locale.h"
#include "platform/posix/Registry.h"
#include "platform/posix/Folders.h"
#include "platform/posix/TextConvert.h"
