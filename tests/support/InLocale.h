#pragma once

#include <QLocale>
#include <functional>
#include <thread>

namespace ovalis::test {

// Runs work on a new thread with the given default locale, so that the
// per-thread collators and caches are made for it, then restores the default.
inline void inLocale(const QLocale &locale, const std::function<void()> &work)
{
    const QLocale previous;
    QLocale::setDefault(locale);
    std::thread(work).join();
    QLocale::setDefault(previous);
}

} // namespace ovalis::test
