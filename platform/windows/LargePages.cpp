#include "platform/LargePages.h"

// Windows gives large pages only to blocks allocated as such (VirtualAlloc with
// MEM_LARGE_PAGES and a privilege): there is nothing to advise for a block already allocated.
void AdviseLargePages(const void* /*begin*/, std::size_t /*bytes*/) noexcept {}
