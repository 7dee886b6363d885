// Per-thread error information (CreateErrorInfo, SetErrorInfo, GetErrorInfo and the record
// interfaces): the system's (platform/System.h).
#pragma once

#include "platform/System.h"
