#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include "CliProcess.h"
#include "find/AdvancedFindFavorites.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/Tag.h"
#include "util/Settings.h"

using namespace ovalis;
using ovalis::test::runCli;

namespace {

using Op = AdvancedFindOperator;
using Field = AdvancedFindField;

AdvancedFindRuleSnapshot snapshot(Field field, Op op, const QVariant &value = {})
{
    return AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(field, op, value));
}

class CliFindTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        CoreDataStack stack(m_home.filePath(QStringLiteral("Ovalis")));
        QString error;
        ASSERT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
        ManagedObjectContext *context = stack.mainContext();
        QHash<QString, Tag *> tags;
        const auto add = [&](const char *id, const char *summary, QStringList labels, int month, bool media) {
            Case *item = context->insertNew<Case>();
            item->setPatientID(QString::fromLatin1(id));
            item->setSummary(QString::fromLatin1(summary));
            item->setDateAdded(QDateTime(QDate(2024, month, 1), QTime(12, 0), QTimeZone::utc()));
            for (const QString &label : labels) {
                if (!tags.contains(label)) {
                    tags.insert(label, context->insertNew<Tag>());
                    tags[label]->setLabel(label);
                }
                item->addToTags(tags[label]);
            }
            if (media)
                item->addToMedia(context->insertNew<Media>());
        };
        add("AAA1111", "Lobar pneumonia", {QStringLiteral("CT")}, 1, false);
        add("BBB2222", "Chest mass", {QStringLiteral("CT chest")}, 2, true);
        add("CCC3333", "Renal cyst", {QStringLiteral("ct"), QStringLiteral("Abdomen")}, 3, true);
        add("DDD4444", "Wrist fracture", {}, 4, false);
        ASSERT_TRUE(context->save(&error)) << error.toStdString();
    }

    // The patient identifiers of the listed cases, in order; every line must
    // be a case line.
    QStringList find(const QStringList &arguments)
    {
        const auto result = runCli(QStringList{QStringLiteral("find")} + arguments, m_home.path());
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        QStringList ids;
        for (const QString &line : result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            EXPECT_EQ(line.count(QLatin1Char('\t')), 4) << line.toStdString();
            ids << line.section(QLatin1Char('\t'), 0, 0);
        }
        return ids;
    }

    // Rules in the form --rules takes, which is that of a favourite's "rules".
    static QString json(const QList<AdvancedFindRuleSnapshot> &rules)
    {
        QJsonArray array;
        for (const AdvancedFindRuleSnapshot &rule : rules)
            array.append(rule.toJson());
        return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
    }

    QTemporaryDir m_home;
};

TEST_F(CliFindTest, RulesPrintTheMatchingCasesNewestFirstAndAnyJoinsThemByOr)
{
    const QList<AdvancedFindRuleSnapshot> tagAndMedia{snapshot(Field::tag, Op::containsTag, QStringLiteral("ct")),
                                                      snapshot(Field::hasMedia, Op::isTrue)};
    EXPECT_EQ(find({QStringLiteral("--rules"), json(tagAndMedia.mid(0, 1))}),
              QStringList({QStringLiteral("CCC3333"), QStringLiteral("AAA1111")}));
    EXPECT_EQ(find({QStringLiteral("--rules"), json(tagAndMedia)}), QStringList({QStringLiteral("CCC3333")}));
    EXPECT_EQ(find({QStringLiteral("--any"), QStringLiteral("--rules"), json(tagAndMedia)}),
              QStringList({QStringLiteral("CCC3333"), QStringLiteral("BBB2222"), QStringLiteral("AAA1111")}));
    EXPECT_EQ(find({QStringLiteral("--rules"), QStringLiteral(R"([{"fieldIndex":0,"operatorRawValue":0,"stringValue":"FRACTURE"}])")}),
              QStringList({QStringLiteral("DDD4444")}));

    // Only rules that give no condition: nothing is listed.
    for (const QString &rules : {json({snapshot(Field::summary, Op::contains, QString())}), QStringLiteral("[]")}) {
        const auto result = runCli({QStringLiteral("find"), QStringLiteral("--rules"), rules}, m_home.path());
        EXPECT_NE(result.exitCode, 0);
        EXPECT_TRUE(result.err.contains(QStringLiteral("No valid rules"))) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
    for (const QStringList &arguments : {QStringList{}, QStringList{QStringLiteral("--rules"), QStringLiteral("{}")},
                                         QStringList{QStringLiteral("--rules"), QStringLiteral("[]"), QStringLiteral("--favorite"), QStringLiteral("x")}}) {
        const auto result = runCli(QStringList{QStringLiteral("find")} + arguments, m_home.path());
        EXPECT_NE(result.exitCode, 0) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("ovalis-cli: "))) << result.err.toStdString();
    }
    const auto help = runCli({QStringLiteral("find"), QStringLiteral("--help")}, m_home.path());
    EXPECT_TRUE(help.out.contains(QStringLiteral("--favorites-file"))) << help.out.toStdString();
    EXPECT_TRUE(runCli({QStringLiteral("--help")}, m_home.path()).out.contains(QStringLiteral("  find ")));
}

TEST_F(CliFindTest, FavouritesComeFromTheUserSettingsOrAFileAndKeepTheirMatchChoice)
{
    const QList<AdvancedFindRuleSnapshot> rules{snapshot(Field::tag, Op::containsTag, QStringLiteral("CT chest")),
                                                snapshot(Field::summary, Op::contains, QStringLiteral("cyst"))};
    {
        Settings settings(std::make_unique<QSettings>(m_home.filePath(QStringLiteral(".config/vantor/Ovalis.conf")),
                                                      QSettings::IniFormat));
        AdvancedFindFavorites favorites(settings);
        ASSERT_TRUE(favorites.saveCurrent(QStringLiteral("Either"), rules, AdvancedFindCompoundType::any));
        ASSERT_TRUE(favorites.saveCurrent(QStringLiteral("Both"), rules, AdvancedFindCompoundType::all));
        QFile file(m_home.filePath(QStringLiteral("favourites.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(*AdvancedFindFavorites::encode(favorites.favorites()));
    }
    const QStringList either{QStringLiteral("CCC3333"), QStringLiteral("BBB2222")};
    EXPECT_EQ(find({QStringLiteral("--favorite"), QStringLiteral("EITHER")}), either);
    EXPECT_EQ(find({QStringLiteral("--favorite"), QStringLiteral("Both")}), QStringList());
    EXPECT_EQ(find({QStringLiteral("--favorite"), QStringLiteral("Both"), QStringLiteral("--any")}), either);
    const QString file = m_home.filePath(QStringLiteral("favourites.json"));
    EXPECT_EQ(find({QStringLiteral("--favorites-file"), file, QStringLiteral("--favorite"), QStringLiteral("either")}), either);

    // A file of two favourites needs a name; one that names none is refused.
    auto result = runCli({QStringLiteral("find"), QStringLiteral("--favorites-file"), file}, m_home.path());
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(result.err.contains(QStringLiteral("--favorite"))) << result.err.toStdString();
    result = runCli({QStringLiteral("find"), QStringLiteral("--favorite"), QStringLiteral("Neither")}, m_home.path());
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(result.out.isEmpty());
    result = runCli({QStringLiteral("find"), QStringLiteral("--favorites-file"), m_home.filePath(QStringLiteral("none.json"))},
                    m_home.path());
    EXPECT_NE(result.exitCode, 0);
}

} // namespace
