#pragma once

#include <functional>

namespace ovalis {

// Owns one observer registration and removes it when reset or destroyed.
// Move-only. Once reset() or the destructor returns, the handler is never
// started again (see NotificationCenter::removeObserver).
class ObserverToken
{
public:
    ObserverToken() = default;
    // remove is called exactly once, by reset() or the destructor.
    explicit ObserverToken(std::function<void()> remove);
    ~ObserverToken();

    ObserverToken(ObserverToken &&other) noexcept;
    ObserverToken &operator=(ObserverToken &&other) noexcept;
    ObserverToken(const ObserverToken &) = delete;
    ObserverToken &operator=(const ObserverToken &) = delete;

    bool isActive() const { return static_cast<bool>(m_remove); }
    void reset();

private:
    std::function<void()> m_remove;
};

} // namespace ovalis
