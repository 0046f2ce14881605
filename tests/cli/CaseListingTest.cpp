#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

#include "CliProcess.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Tag.h"

using namespace ovalis;
using ovalis::test::runCli;

namespace {

// Sets LANG and LC_ALL, which the tool started from here inherits, while it lives.
class LocaleScope
{
public:
    explicit LocaleScope(const QByteArray &locale)
        : m_lang(qgetenv("LANG")), m_all(qgetenv("LC_ALL")), m_hadLang(qEnvironmentVariableIsSet("LANG")),
          m_hadAll(qEnvironmentVariableIsSet("LC_ALL"))
    {
        qputenv("LANG", locale);
        qputenv("LC_ALL", locale);
    }
    ~LocaleScope()
    {
        restore("LANG", m_hadLang, m_lang);
        restore("LC_ALL", m_hadAll, m_all);
    }
    LocaleScope(const LocaleScope &) = delete;
    LocaleScope &operator=(const LocaleScope &) = delete;

private:
    static void restore(const char *name, bool had, const QByteArray &value)
    {
        if (had)
            qputenv(name, value);
        else
            qunsetenv(name);
    }

    QByteArray m_lang;
    QByteArray m_all;
    bool m_hadLang;
    bool m_hadAll;
};

QDateTime noon(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(12, 0));
}

// The cases of a JSON array as compact texts in order, to compare two
// listings of the same cases whatever their order.
QStringList sortedCases(const QJsonArray &cases)
{
    QStringList texts;
    for (const QJsonValue &value : cases)
        texts.append(QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact)));
    std::sort(texts.begin(), texts.end());
    return texts;
}

class CaseListingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        CoreDataStack stack(m_home.filePath(QStringLiteral("Ovalis")));
        QString error;
        ASSERT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
        ManagedObjectContext *context = stack.mainContext();
        Tag *chest = context->insertNew<Tag>();
        chest->setLabel(QStringLiteral("Chest"));
        // A day short of 83, with a summary of two lines holding a tab and a backslash.
        Case *elder = context->insertNew<Case>();
        elder->setPatientID(QStringLiteral("AAA1111"));
        elder->setSex(Sex::male);
        elder->setDateOfBirth(noon(1940, 10, 5));
        elder->setDateOfDiagnosis(noon(2023, 10, 4));
        elder->setSummary(QStringLiteral("Left hilar mass\nsee\tprior \\ CT"));
        elder->addToTags(chest);
        // A baby of eleven months, diagnosed on a day whose short local date lost its year.
        Case *baby = context->insertNew<Case>();
        baby->setPatientID(QStringLiteral("BBB2222"));
        baby->setSex(Sex::female);
        baby->setDateOfBirth(noon(2021, 1, 10));
        baby->setDateOfDiagnosis(noon(2021, 12, 2));
        baby->setSummary(QStringLiteral("Intussusception"));
        // No identifier, no dates, no summary.
        context->insertNew<Case>()->setDateOfDiagnosis(QDateTime());
        context->saveWithParent(true);
    }

    // The lines listed, sorted and joined, to be compared whole.
    std::string list(const QStringList &arguments)
    {
        const auto result = runCli(QStringList{QStringLiteral("list"), QStringLiteral("--sort"), QStringLiteral("patientID")} + arguments,
                                   m_home.path());
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        QStringList lines = result.out.split(QLatin1Char('\n'));
        EXPECT_EQ(lines.takeLast(), QString()) << "the listing ends with a line break";
        std::sort(lines.begin(), lines.end());
        return lines.join(QLatin1Char('\n')).toStdString();
    }

    // The cases of an export-backup of the library, as sortedCases gives them.
    QStringList exportedCases()
    {
        const QString path = m_home.filePath(QStringLiteral("backup.json"));
        EXPECT_EQ(runCli({QStringLiteral("export-backup"), path}, m_home.path()).exitCode, 0);
        QFile backup(path);
        EXPECT_TRUE(backup.open(QIODevice::ReadOnly));
        const QByteArray bytes = backup.readAll();
        // UTF-16; the byte-order mark is taken as such.
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
        EXPECT_TRUE(text.startsWith(QLatin1Char('['))) << text.left(8).toStdString();
        return sortedCases(QJsonDocument::fromJson(text.toUtf8()).array());
    }

    QTemporaryDir m_home;
};

} // namespace

TEST_F(CaseListingTest, ListAndFindPrintIsoDatesAndWholeAgesInEveryLocale)
{
    const std::string expected = "??????\t\t\t??????\t''\n"
                                 "AAA1111\t82\tM\t2023-10-04\t'Left hilar mass'\n"
                                 "BBB2222\t0\tF\t2021-12-02\t'Intussusception'";
    for (const char *locale : {"C.UTF-8", "en_NZ.UTF-8", "de_DE.UTF-8"}) {
        const LocaleScope scope(locale);
        EXPECT_EQ(list({}), expected) << locale;
        EXPECT_EQ(list({QStringLiteral("--format"), QStringLiteral("text")}), expected) << locale;
    }
    const LocaleScope scope("C.UTF-8");

    // find prints the same lines.
    const QString everyCase = QStringLiteral(R"([{"fieldIndex":8,"operatorRawValue":12}])");
    const auto found = runCli({QStringLiteral("find"), QStringLiteral("--rules"), everyCase}, m_home.path());
    ASSERT_EQ(found.exitCode, 0) << found.err.toStdString();
    QStringList foundLines = found.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    std::sort(foundLines.begin(), foundLines.end());
    EXPECT_EQ(foundLines.join(QLatin1Char('\n')).toStdString(), expected);

    // show writes its dates the same way.
    const auto shown = runCli({QStringLiteral("show"), QStringLiteral("BBB2222")}, m_home.path());
    EXPECT_TRUE(shown.out.contains(QStringLiteral("Date of birth:      2021-01-10\n"))) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("Date of diagnosis:  2021-12-02\n"))) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QRegularExpression(QStringLiteral("Date added:         \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d\n"))))
        << shown.out.toStdString();

    const auto wrong = runCli({QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("csv")}, m_home.path());
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.err, QStringLiteral("ovalis-cli: --format must be text, tsv or json\n"));
    EXPECT_TRUE(wrong.out.isEmpty());
}

TEST_F(CaseListingTest, TsvHasAHeaderEmptyMissingValuesAndEscapedSummaries)
{
    // Sorted, the header comes after the two identifiers and the empty one.
    EXPECT_EQ(list({QStringLiteral("--format"), QStringLiteral("tsv")}),
              "\t\t\t\t\n"
              "AAA1111\t82\tM\t2023-10-04\tLeft hilar mass\\nsee\\tprior \\\\ CT\n"
              "BBB2222\t0\tF\t2021-12-02\tIntussusception\n"
              "patient_identifier\tage\tsex\tdate_of_diagnosis\tsummary");
    const auto unsorted = runCli({QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("tsv")}, m_home.path());
    EXPECT_TRUE(unsorted.out.startsWith(QStringLiteral("patient_identifier\t"))) << unsorted.out.toStdString();
}

TEST_F(CaseListingTest, JsonHoldsTheCasesAsTheBackupDoesAndRestores)
{
    const auto listed = runCli({QStringLiteral("list"), QStringLiteral("--tag"), QStringLiteral("Chest"), QStringLiteral("--format"),
                                QStringLiteral("json")}, m_home.path());
    ASSERT_EQ(listed.exitCode, 0) << listed.err.toStdString();
    QJsonParseError parseError;
    const QJsonDocument chest = QJsonDocument::fromJson(listed.out.toUtf8(), &parseError);
    ASSERT_TRUE(chest.isArray()) << parseError.errorString().toStdString();
    ASSERT_EQ(chest.array().size(), 1);
    const QJsonObject elder = chest.array().first().toObject();
    EXPECT_EQ(elder.keys(), (QStringList{QStringLiteral("date_added"), QStringLiteral("date_of_birth"), QStringLiteral("date_of_diagnosis"),
                                         QStringLiteral("patient_identifier"), QStringLiteral("sex"), QStringLiteral("summary"),
                                         QStringLiteral("tags")}));
    EXPECT_EQ(elder[QStringLiteral("date_of_birth")].toString(), QStringLiteral("1940-10-05"));
    EXPECT_EQ(elder[QStringLiteral("summary")].toString(), QStringLiteral("Left hilar mass\nsee\tprior \\ CT"));

    // Every case, as export-backup writes them.
    const auto all = runCli({QStringLiteral("find"), QStringLiteral("--rules"),
                             QStringLiteral(R"([{"fieldIndex":8,"operatorRawValue":12}])"), QStringLiteral("--format"),
                             QStringLiteral("json")}, m_home.path());
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    const QStringList backupCases = exportedCases();
    ASSERT_EQ(backupCases.size(), 3);
    EXPECT_EQ(sortedCases(QJsonDocument::fromJson(all.out.toUtf8()).array()), backupCases);

    // So a listing is a backup of the cases listed.
    QFile saved(m_home.filePath(QStringLiteral("chest.json")));
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
    saved.write(listed.out.toUtf8());
    saved.close();
    const QStringList other{QStringLiteral("--library"), m_home.filePath(QStringLiteral("Other"))};
    const auto restored = runCli(other + QStringList{QStringLiteral("restore-backup"), saved.fileName()}, m_home.path());
    EXPECT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_TRUE(runCli(other + QStringList{QStringLiteral("show"), QStringLiteral("AAA1111")}, m_home.path())
                    .out.contains(QStringLiteral("Left hilar mass")));

    // Nothing listed is an empty array.
    const auto none = runCli({QStringLiteral("list"), QStringLiteral("--search"), QStringLiteral("nothing like it"), QStringLiteral("--format"),
                              QStringLiteral("json")}, m_home.path());
    EXPECT_EQ(QJsonDocument::fromJson(none.out.toUtf8()).array(), QJsonArray()) << none.out.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(none.out.toUtf8()).isArray()) << none.out.toStdString();

    // Thousands of cases with tags and media, which the listing reads in
    // another way, are written as the backup writes them too.
    ASSERT_EQ(runCli({QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("1500"), QStringLiteral("--tags"),
                      QStringLiteral("8"), QStringLiteral("--media-per-case"), QStringLiteral("4")}, m_home.path()).exitCode, 0);
    const auto many = runCli({QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("json")}, m_home.path());
    ASSERT_EQ(many.exitCode, 0) << many.err.toStdString();
    const QStringList manyCases = sortedCases(QJsonDocument::fromJson(many.out.toUtf8()).array());
    EXPECT_EQ(manyCases.size(), 1503);
    EXPECT_EQ(manyCases, exportedCases());
}
