#pragma once

#include <QString>
#include <memory>

namespace ovalis {

class CoreDataStack;

// What the peer commands share: the library opened for them, and messages.
namespace PeerCommandSupport {

// The library's stack, loaded; nothing after printing why it could not be.
std::unique_ptr<CoreDataStack> openLibrary(const QString &library);
int fail(const QString &message, int code = 1);
void print(const QString &line);

} // namespace PeerCommandSupport

} // namespace ovalis
