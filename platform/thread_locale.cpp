#include "platform/thread_locale.h"

#include <clocale>
#include <locale.h>

namespace {

int maskOf(int category) {
    switch (category) {
        case LC_CTYPE: return LC_CTYPE_MASK;
        case LC_NUMERIC: return LC_NUMERIC_MASK;
        case LC_TIME: return LC_TIME_MASK;
        case LC_COLLATE: return LC_COLLATE_MASK;
        case LC_MONETARY: return LC_MONETARY_MASK;
        case LC_MESSAGES: return LC_MESSAGES_MASK;
        default: return LC_ALL_MASK;
    }
}

}  // namespace

ThreadLocaleScope::ThreadLocaleScope(int category, const std::string& name) {
    // Start from the thread's current locale so other categories stay.
    locale_t base = ::duplocale(::uselocale(static_cast<locale_t>(0)));
    if (!base) return;
    locale_t made = ::newlocale(maskOf(category), name.c_str(), base);
    if (!made) {
        ::freelocale(base);
        return;
    }
    locale_ = made;
    previous_ = ::uselocale(made);
}

ThreadLocaleScope::~ThreadLocaleScope() {
    if (!previous_) return;
    ::uselocale(static_cast<locale_t>(previous_));
    ::freelocale(static_cast<locale_t>(locale_));
}
