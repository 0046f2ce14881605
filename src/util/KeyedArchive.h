#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

namespace ovalis {

// Keyed archives: an object graph flattened into a binary property list
// ("$archiver" = "NSKeyedArchiver", "$version" = 100000, "$top" = {"root":
// UID}, "$objects" beginning with "$null"), the form other programs put on
// the clipboard and send as messages.
//
// Values map to archived objects as follows, both ways:
//   QString                      string, inline
//   integers                     integer, inline (read back as qlonglong)
//   double                       real, inline
//   bool                         boolean, inline
//   QByteArray                   data, inline
//   QDateTime                    NSDate ("NS.time", seconds since 2001-01-01 UTC)
//   QVariantMap, QVariantHash    NSDictionary with string keys (read back as QVariantMap)
//   QVariantList, QStringList    NSArray (read back as QVariantList)
//   IndexSet                     NSIndexSet
//   an invalid QVariant          nil (UID 0)
// Reading also takes NSMutable… classes, NSSet and NSOrderedSet (as lists),
// and NSString and NSData objects held in dictionaries ("NS.string", "NS.data").
//
// Thread-safe: both functions work on their arguments only.
class KeyedArchive
{
public:
    // Nothing, with a message in error, when the value holds something that
    // cannot be archived.
    static std::optional<QByteArray> archive(const QVariant &root, QString *error = nullptr);
    // The root object; nothing, with a message in error, for data that is not
    // a keyed archive of the values above (damaged, truncated, cyclic, or of
    // an unknown class).
    static std::optional<QVariant> unarchive(const QByteArray &data, QString *error = nullptr);
};

} // namespace ovalis
