// IStream and CreateStreamOnHGlobal: the system's (platform/System.h).
#pragma once

#include "platform/System.h"
