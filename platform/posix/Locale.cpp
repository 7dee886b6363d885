#include "platform/Locale.h"

namespace {
thread_local LCID t_locale = kDefaultThreadLocale;
}

LCID GetThreadLocale() {
    return t_locale;
}

BOOL SetThreadLocale(LCID locale) {
    if (locale == 0) return FALSE;
    t_locale = locale;
    return TRUE;
}
