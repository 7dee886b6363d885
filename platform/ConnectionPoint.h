// The connectable-object interfaces (IConnectionPointContainer, IConnectionPoint and their
// enumerators): the system's (platform/System.h).
#pragma once

#include "platform/System.h"
