#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace ovalis {

// The numbers version-1 documents stored for regions, systems, pathologies
// and modalities, and the tag labels they stand for. Number n is entry n of
// its table (1-based); any other number has no label.
class OvalisOneTagTables
{
public:
    static const QStringList &regions();     // 8
    static const QStringList &systems();     // 15
    static const QStringList &pathologies(); // 17
    static const QStringList &modalities();  // 9

    static std::optional<QString> label(const QStringList &table, qint64 number);
};

} // namespace ovalis
