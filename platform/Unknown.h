// IUnknown and IClassFactory: the system's (platform/System.h).
#pragma once

#include "platform/System.h"
