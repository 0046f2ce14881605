#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <algorithm>
#include <optional>

#include "exchange/OvalisOneImporter.h"
#include "support/OvalisOneDocumentWriter.h"
#include "support/StoreFixture.h"

namespace ovalis::test {

// A library and the helpers to import generated version-1 documents into it
// the way the application does, waiting for the run to end.
class OvalisOneImportFixture : public StoreFixture
{
protected:
    QString documentPath(const QString &name) const { return m_directory.filePath(name + QStringLiteral(".ovalis")); }

    OvalisOneImportResult runImport(const QStringList &paths,
                                    const OvalisOneModel *model = OvalisOneModel::load(QStringLiteral("OvalisOne")))
    {
        std::optional<OvalisOneImportResult> result;
        OvalisOneImporter::importDocuments(
            context(), paths, [&](const OvalisOneImportResult &finished) { result = finished; }, model);
        QDeadlineTimer deadline(60000);
        while (!result && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        EXPECT_TRUE(result.has_value()) << "the import did not finish";
        return result.value_or(OvalisOneImportResult());
    }

    static QStringList labels(const Case *item)
    {
        QStringList list;
        for (const Tag *tag : item->tags())
            list.append(tag->label());
        list.sort();
        return list;
    }

    // The cases by summary (each summary used once in a test).
    Case *caseWithSummary(const QString &summary)
    {
        const QList<Case *> cases = fetchCases(QStringLiteral("summary == %@"), {summary});
        EXPECT_EQ(cases.size(), 1) << summary.toStdString();
        return cases.value(0);
    }

    static QByteArray fileContents(const Media *media)
    {
        QFile file(media->filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QStringList mediaNames(const Case *item)
    {
        QStringList names;
        for (const Media *media : item->sortedMedia())
            names.append(media->fileName());
        return names;
    }
};

} // namespace ovalis::test
