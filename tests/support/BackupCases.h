#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <gtest/gtest.h>

namespace ovalis::test {

// The cases of a JSON backup file, one compact line each, sorted, with each
// case's tags sorted: two libraries that hold the same cases give the same list.
inline QStringList sortedBackupCases(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    // Backups are UTF-16 with a byte order mark.
    const QByteArray bytes = file.readAll();
    const QByteArray text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2)
                                .remove(QChar(0xFEFF))
                                .toUtf8();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    EXPECT_EQ(parseError.error, QJsonParseError::NoError) << parseError.errorString().toStdString();
    QStringList lines;
    for (const QJsonValue &value : document.array()) {
        // A case's tags are a set; the backup lists them in the order they were linked.
        QJsonObject encoded = value.toObject();
        QStringList tags = encoded.value(QStringLiteral("tags")).toString().split(QLatin1Char(','));
        tags.sort();
        encoded.insert(QStringLiteral("tags"), tags.join(QLatin1Char(',')));
        lines << QString::fromUtf8(QJsonDocument(encoded).toJson(QJsonDocument::Compact));
    }
    lines.sort();
    return lines;
}

} // namespace ovalis::test
