// GUID, its text form (StringFromGUID2, CLSIDFromString) and IID_OF.
#pragma once

#include "platform/InterfaceId.h"
#include "platform/System.h"
