// IDispatch and the types of a late-bound call: the system's (platform/System.h).
#pragma once

#include "platform/System.h"
