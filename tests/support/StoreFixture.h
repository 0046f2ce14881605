#pragma once

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/Tag.h"
#include "util/Settings.h"

namespace ovalis::test {

// A library in a temporary directory with its own settings file.
class StoreFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_directory.isValid());
        // Copies kept for undo go to the test's own cache folder.
        m_previousCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", m_directory.filePath(QStringLiteral("cache")).toUtf8());
        Settings::setSharedForTesting(
            std::make_unique<QSettings>(m_directory.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
        Settings::registerApplicationDefaults();
        m_stack = std::make_unique<CoreDataStack>(libraryPath());
        QString error;
        ASSERT_TRUE(m_stack->loadPersistentStores(&error)) << error.toStdString();
    }

    void TearDown() override
    {
        m_stack.reset();
        Settings::setSharedForTesting(nullptr);
        if (m_previousCache.isNull())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", m_previousCache);
    }

    QString libraryPath() const { return m_directory.filePath(QStringLiteral("Ovalis")); }
    ManagedObjectContext *context() const { return m_stack->mainContext(); }

    // A second stack on the same library, as another process would have.
    std::unique_ptr<CoreDataStack> openSecondStack()
    {
        auto stack = std::make_unique<CoreDataStack>(libraryPath());
        QString error;
        EXPECT_TRUE(stack->loadPersistentStores(&error)) << error.toStdString();
        return stack;
    }

    void reopen()
    {
        m_stack.reset();
        m_stack = std::make_unique<CoreDataStack>(libraryPath());
        QString error;
        ASSERT_TRUE(m_stack->loadPersistentStores(&error)) << error.toStdString();
    }

    Case *newCase(const QString &patientID, const QString &summary = QString())
    {
        Case *item = context()->insertNew<Case>();
        item->setPatientID(patientID);
        if (!summary.isNull())
            item->setSummary(summary);
        return item;
    }

    Tag *newTag(const QString &label)
    {
        Tag *tag = context()->insertNew<Tag>();
        tag->setLabel(label);
        return tag;
    }

    QList<Case *> fetchCases(const QString &format, const QVariantList &arguments = {})
    {
        QList<Case *> cases;
        const Predicate predicate = format.isEmpty() ? Predicate() : Predicate::fromFormat(format, arguments);
        for (ManagedObject *object : context()->arrayOfObjects(Case::entityName(), predicate))
            cases.append(static_cast<Case *>(object));
        return cases;
    }

    QTemporaryDir m_directory;
    std::unique_ptr<CoreDataStack> m_stack;

private:
    QByteArray m_previousCache;
};

} // namespace ovalis::test
