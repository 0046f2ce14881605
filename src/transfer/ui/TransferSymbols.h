#pragma once

#include <QPixmap>

#include "transfer/RemoteMediaLibrary.h"

namespace ovalis {

// The symbols of the Sync Media window, drawn at twice their size for sharp
// edges on high-resolution screens.
class TransferSymbols
{
public:
    // A desktop computer, a phone, or a question mark.
    static QPixmap device(DeviceType device, int size);
    // An orange arrow leaving a box: this side is sending files.
    static QPixmap share(int size);
};

} // namespace ovalis
