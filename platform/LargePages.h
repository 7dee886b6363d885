// Advice for large memory blocks. On virtual machines the first touch of each fresh page is
// costly; a block of megabytes that asks for large pages takes one fault where it took
// hundreds. Advice only: where the system has no large pages, nothing changes.
#pragma once

#include <cstddef>

#include "platform/Platform.h"

// Asks for large pages for the whole large pages that lie inside [begin, begin + bytes); call
// it before the block is first written. Blocks smaller than one large page are left alone.
PLATFORM_API void AdviseLargePages(const void* begin, std::size_t bytes) noexcept;
