#include "util/SerialQueue.h"

namespace ovalis {

SerialQueue::SerialQueue(const QString &label)
    : m_label(label)
{
    m_pool.setMaxThreadCount(1);
    m_pool.setObjectName(label);
}

SerialQueue::~SerialQueue()
{
    m_pool.waitForDone();
}

void SerialQueue::async(std::function<void()> work)
{
    m_pool.start(std::move(work));
}

void SerialQueue::waitForDone()
{
    m_pool.waitForDone();
}

} // namespace ovalis
