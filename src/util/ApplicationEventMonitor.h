#pragma once

#include "util/ObserverToken.h"

class QObject;

namespace ovalis {

// Lets one object watch every event of the application: its eventFilter is
// installed on the application until the returned token is reset or
// destroyed. The filter must outlive the token. Main thread only.
class ApplicationEventMonitor
{
public:
    [[nodiscard]] static ObserverToken install(QObject *filter);
};

} // namespace ovalis
