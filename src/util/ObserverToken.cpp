#include "util/ObserverToken.h"

#include <utility>

namespace ovalis {

ObserverToken::ObserverToken(std::function<void()> remove)
    : m_remove(std::move(remove))
{
}

ObserverToken::~ObserverToken()
{
    reset();
}

ObserverToken::ObserverToken(ObserverToken &&other) noexcept
    : m_remove(std::exchange(other.m_remove, nullptr))
{
}

ObserverToken &ObserverToken::operator=(ObserverToken &&other) noexcept
{
    if (this != &other) {
        reset();
        m_remove = std::exchange(other.m_remove, nullptr);
    }
    return *this;
}

void ObserverToken::reset()
{
    if (auto remove = std::exchange(m_remove, nullptr))
        remove();
}

} // namespace ovalis
