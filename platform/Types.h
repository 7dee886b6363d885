// The Win32/COM scalar types, result codes and WAVEFORMATEX: the system's (platform/System.h).
#pragma once

#include "platform/System.h"
