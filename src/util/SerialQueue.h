#pragma once

#include <QString>
#include <QThreadPool>
#include <functional>

namespace ovalis {

// Runs work one item at a time, in the order given, off the calling thread.
class SerialQueue
{
public:
    explicit SerialQueue(const QString &label);
    ~SerialQueue(); // waits for the work already given

    QString label() const { return m_label; }
    void async(std::function<void()> work);
    // Blocks until everything given so far has run.
    void waitForDone();

private:
    QString m_label;
    QThreadPool m_pool;
};

} // namespace ovalis
