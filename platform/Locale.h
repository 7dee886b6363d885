// The calling thread's locale (GetThreadLocale, SetThreadLocale): the system's
// (platform/System.h).
#pragma once

#include "platform/System.h"
