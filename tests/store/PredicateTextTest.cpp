#include <QRegularExpression>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <random>

#include "PredicateTestLibrary.h"
#include "util/TextFolding.h"
#include "util/TextMatching.h"

using namespace ovalis;

namespace {

QString randomText(std::mt19937 &random, const QStringList &alphabet, int maximumLength)
{
    QString text;
    const int length = std::uniform_int_distribution<int>(0, maximumLength)(random);
    for (int i = 0; i < length; ++i)
        text += alphabet.at(std::uniform_int_distribution<int>(0, int(alphabet.size()) - 1)(random));
    return text;
}

// The LIKE pattern as a regular expression, whose '.' matches a whole code point.
QRegularExpression likeReference(const QString &pattern)
{
    QString expression;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('*')) {
            expression += QStringLiteral(".*");
        } else if (c == QLatin1Char('?')) {
            expression += QLatin1Char('.');
        } else if (c == QLatin1Char('\\') && i + 1 < pattern.size()) {
            expression += QRegularExpression::escape(pattern.mid(++i, 1));
        } else {
            const qsizetype length = c.isHighSurrogate() && i + 1 < pattern.size() ? 2 : 1;
            expression += QRegularExpression::escape(pattern.mid(i, length));
            i += length - 1;
        }
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                              QRegularExpression::DotMatchesEverythingOption);
}

QVariant sqlValue(sqlite3 *db, const char *sql, const QStringList &arguments)
{
    sqlite3_stmt *statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i].isNull())
            sqlite3_bind_null(statement, i + 1);
        else
            sqlite3_bind_text16(statement, i + 1, arguments[i].utf16(), int(arguments[i].size() * 2), SQLITE_TRANSIENT);
    }
    QVariant value;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        switch (sqlite3_column_type(statement, 0)) {
        case SQLITE_INTEGER: value = sqlite3_column_int64(statement, 0); break;
        case SQLITE_TEXT:
            value = QString::fromUtf16(static_cast<const char16_t *>(sqlite3_column_text16(statement, 0)),
                                       sqlite3_column_bytes16(statement, 0) / 2);
            break;
        default: break;
        }
    }
    sqlite3_finalize(statement);
    return value;
}

} // namespace

TEST(PredicateTextTest, FoldingIgnoresCaseAndDiacriticsAsAsked)
{
    EXPECT_EQ(foldForComparison(QStringLiteral("smíth")), foldForComparison(QStringLiteral("SMITH")));
    EXPECT_EQ(foldForComparison(QStringLiteral("Smi\u0301th")), QStringLiteral("smith"));
    EXPECT_EQ(foldForComparison(QStringLiteral("ÅSE")), QStringLiteral("ase"));
    EXPECT_EQ(foldForComparison(QStringLiteral("İstanbul")), QStringLiteral("istanbul"));
    EXPECT_EQ(foldForComparison(QStringLiteral("\u0301")), QStringLiteral(""));
    EXPECT_EQ(foldCaseOnly(QStringLiteral("SMÍTH")), QStringLiteral("smíth"));
    EXPECT_EQ(foldDiacriticsOnly(QStringLiteral("SMÍTH")), QStringLiteral("SMITH"));
    EXPECT_NE(foldCaseOnly(QStringLiteral("smíth")), foldCaseOnly(QStringLiteral("smith")));
    EXPECT_NE(foldDiacriticsOnly(QStringLiteral("smith")), foldDiacriticsOnly(QStringLiteral("SMITH")));
    EXPECT_TRUE(foldForComparison(QString()).isNull());
    EXPECT_FALSE(foldForComparison(QStringLiteral("")).isNull());
    EXPECT_FALSE(foldForComparison(QStringLiteral("é")).isNull());

    // The ASCII fast path gives what the general path gives.
    std::mt19937 random(7);
    const QStringList ascii{QStringLiteral("a"), QStringLiteral("Z"), QStringLiteral("q"), QStringLiteral("M"),
                            QStringLiteral("0"), QStringLiteral(" "), QStringLiteral("@"), QStringLiteral("["),
                            QStringLiteral("`"), QStringLiteral("{"), QStringLiteral("\x7f")};
    for (int i = 0; i < 500; ++i) {
        const QString text = randomText(random, ascii, 12);
        EXPECT_EQ(foldForComparison(text), text.normalized(QString::NormalizationForm_D).toCaseFolded());
        EXPECT_EQ(foldCaseOnly(text), text.toCaseFolded());
        EXPECT_EQ(foldDiacriticsOnly(text), text);
    }
}

TEST(PredicateTextTest, LikePatternsMatchAsTheirRegularExpressions)
{
    std::mt19937 random(11);
    const QStringList textAlphabet{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("*"), QStringLiteral("?"),
                                   QStringLiteral("\\"), QStringLiteral("é"), QString::fromUcs4(U"\U0001F600")};
    const QStringList patternAlphabet{QStringLiteral("a"),  QStringLiteral("b"),   QStringLiteral("*"),
                                      QStringLiteral("?"),  QStringLiteral("\\*"), QStringLiteral("\\?"),
                                      QStringLiteral("\\\\"), QStringLiteral("é"), QString::fromUcs4(U"\U0001F600")};
    int matched = 0;
    for (int i = 0; i < 5000; ++i) {
        const QString text = randomText(random, textAlphabet, 6);
        QString pattern = randomText(random, patternAlphabet, 5);
        if (i % 10 == 0)
            pattern += QLatin1Char('\\');
        const bool expected = likeReference(pattern).match(text).hasMatch();
        EXPECT_EQ(matchesLikePattern(text, pattern), expected) << text.toStdString() << " LIKE " << pattern.toStdString();
        matched += expected;
    }
    EXPECT_GT(matched, 250);

    EXPECT_TRUE(textContains(QString(), QStringLiteral("")));
    EXPECT_TRUE(textStartsWith(QString(), QStringLiteral("")));
    EXPECT_TRUE(textEndsWith(QStringLiteral("abc"), QStringLiteral("bc")));
    EXPECT_FALSE(textStartsWith(QStringLiteral("ab"), QStringLiteral("abc")));
}

TEST(PredicateTextTest, SqlFunctionsAgreeWithTheirCounterparts)
{
    PredicateTestLibrary library(1, 1);
    sqlite3 *db = library.database();
    QStringList texts = PredicateTestLibrary::texts() + PredicateTestLibrary::tagLabels();
    texts << QStringLiteral("\u0301") << QStringLiteral("ǅ") << QStringLiteral("Ω\u0308");
    for (const QString &text : std::as_const(texts)) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(sqlValue(db, "SELECT ovalis_fold(?)", {text}).toString(), foldForComparison(text));
        EXPECT_EQ(sqlValue(db, "SELECT ovalis_fold_c(?)", {text}).toString(), foldCaseOnly(text));
        EXPECT_EQ(sqlValue(db, "SELECT ovalis_fold_d(?)", {text}).toString(), foldDiacriticsOnly(text));
        EXPECT_EQ(sqlValue(db, "SELECT ovalis_length(?)", {text}).toLongLong(), text.size());
        for (const QString &other : std::as_const(texts)) {
            const int order = QString::compare(text, other);
            const qint64 sqlOrder = sqlValue(db, "SELECT (? < ? COLLATE ovalis_utf16) - (? > ? COLLATE ovalis_utf16)",
                                             {text, other, text, other})
                                        .toLongLong();
            EXPECT_EQ(sqlOrder, -((order > 0) - (order < 0))) << other.toStdString();
            // Contains by bytes of UTF-8 agrees with QString and with SQLite's own instr.
            const qint64 contains = sqlValue(db, "SELECT ovalis_contains(?, ?)", {text, other}).toLongLong();
            EXPECT_EQ(contains, text.contains(other) ? 1 : 0) << other.toStdString();
            EXPECT_EQ(contains, sqlValue(db, "SELECT instr(?, ?) > 0", {text, other}).toLongLong()) << other.toStdString();
        }
    }
    const QString withNul = QStringLiteral("before") + QChar(0) + QStringLiteral("after");
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_contains(?, ?)", {withNul, QStringLiteral("after")}).toLongLong(), 1);
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_contains(?, ?)", {withNul, QStringLiteral("e") + QChar(0) + QStringLiteral("a")}).toLongLong(), 1);
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_contains(?, ?)", {QStringLiteral("ab"), QStringLiteral("abc")}).toLongLong(), 0);
    EXPECT_FALSE(sqlValue(db, "SELECT ovalis_contains(?, ?)", {QString(), QStringLiteral("a")}).isValid());
    EXPECT_FALSE(sqlValue(db, "SELECT ovalis_contains(?, ?)", {QStringLiteral("a"), QString()}).isValid());
    EXPECT_FALSE(sqlValue(db, "SELECT ovalis_fold(?)", {QString()}).isValid());
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_length(?)", {QString()}).toLongLong(), 0);
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_like(?, ?)", {QStringLiteral("Smith"), QStringLiteral("S*?h")}).toLongLong(), 1);
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_like(?, ?)", {QString(), QStringLiteral("*")}).toLongLong(), 0);
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_matches(?, ?, 1)", {QStringLiteral("Smith"), QStringLiteral("s.ith")}).toLongLong(), 1);
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_matches(?, ?, 0)", {QStringLiteral("Smith"), QStringLiteral("s.ith")}).toLongLong(), 0);
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_matches(?, ?, 0)", {QStringLiteral("Smith"), QStringLiteral("(")}).toLongLong(), 0);
    EXPECT_EQ(sqlValue(db, "SELECT ovalis_matches(?, ?, 0)", {QString(), QStringLiteral(".*")}).toLongLong(), 0);
}
