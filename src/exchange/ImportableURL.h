#pragma once

#include <QUrl>
#include <QUuid>

namespace ovalis {

// One version-1 document offered for import. Entries made for the same
// document are still different: each has an identifier of its own.
struct ImportableURL {
    QUuid id = QUuid::createUuid();
    QUrl url;
    bool scheduledToImport = true;

    friend bool operator==(const ImportableURL &a, const ImportableURL &b)
    {
        return a.id == b.id && a.url == b.url && a.scheduledToImport == b.scheduledToImport;
    }
};

} // namespace ovalis
