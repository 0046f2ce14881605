#include "cli/PeerCommandSupport.h"

#include <QTextStream>

#include "store/CoreDataStack.h"

namespace ovalis::PeerCommandSupport {

std::unique_ptr<CoreDataStack> openLibrary(const QString &library)
{
    auto stack = std::make_unique<CoreDataStack>(library);
    stack->setChecksIntegrityInBackground(false);
    QString error;
    if (!stack->loadPersistentStores(&error)) {
        fail(error, 2);
        return nullptr;
    }
    return stack;
}

int fail(const QString &message, int code)
{
    QTextStream(stderr) << "ovalis-cli: " << message << Qt::endl;
    return code;
}

void print(const QString &line)
{
    QTextStream(stdout) << line << Qt::endl;
}

} // namespace ovalis::PeerCommandSupport
