#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "find/AdvancedFindFavorites.h"
#include "util/Settings.h"

using namespace ovalis;

namespace {

using Op = AdvancedFindOperator;
using Field = AdvancedFindField;

class AdvancedFindFavoritesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_directory.isValid());
        m_settings = std::make_unique<Settings>(
            std::make_unique<QSettings>(m_directory.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    }

    QStringList labels(const AdvancedFindFavorites &favorites) const
    {
        QStringList result;
        for (const AdvancedFindFavorite &favorite : favorites.favorites())
            result << favorite.label;
        return result;
    }

    QByteArray stored() const { return m_settings->dataValue(AdvancedFindFavorites::settingsKey()); }

    static QList<AdvancedFindRuleSnapshot> rules(const QString &text)
    {
        return {AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::summary, Op::contains, text)),
                AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::hasMedia, Op::isTrue))};
    }

    QTemporaryDir m_directory;
    std::unique_ptr<Settings> m_settings;
};

TEST_F(AdvancedFindFavoritesTest, NewLabelsGoInAlphabeticalPlaceAndAnEqualLabelReplacesInPlace)
{
    AdvancedFindFavorites favorites(*m_settings);
    favorites.load();
    EXPECT_TRUE(favorites.favorites().isEmpty());
    ASSERT_TRUE(favorites.saveCurrent(QStringLiteral("  beta\n"), rules(QStringLiteral("b")), AdvancedFindCompoundType::all));
    ASSERT_TRUE(favorites.saveCurrent(QStringLiteral("Gamma"), rules(QStringLiteral("g")), AdvancedFindCompoundType::any));
    ASSERT_TRUE(favorites.saveCurrent(QStringLiteral("alpha"), rules(QStringLiteral("a")), AdvancedFindCompoundType::all));
    EXPECT_EQ(labels(favorites), QStringList({QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("Gamma")}));

    const AdvancedFindFavorite before = favorites.favorites().at(1);
    const auto replaced = favorites.saveCurrent(QStringLiteral(" BETA "), rules(QStringLiteral("new")), AdvancedFindCompoundType::any);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->id, before.id);
    EXPECT_EQ(labels(favorites), QStringList({QStringLiteral("alpha"), QStringLiteral("BETA"), QStringLiteral("Gamma")}));
    EXPECT_EQ(favorites.favorites().at(1), *replaced);
    EXPECT_EQ(favorites.favorites().at(1).compoundType(), AdvancedFindCompoundType::any);
    EXPECT_EQ(favorites.favorites().at(1).rules.first().stringValue, QStringLiteral("new"));
    // A replacement keeps its place even where the new spelling would sort elsewhere.
    ASSERT_TRUE(favorites.saveCurrent(QStringLiteral("ALPHA"), {}, AdvancedFindCompoundType::all));
    EXPECT_EQ(labels(favorites), QStringList({QStringLiteral("ALPHA"), QStringLiteral("BETA"), QStringLiteral("Gamma")}));

    // Blank labels save nothing.
    const QByteArray data = stored();
    EXPECT_FALSE(favorites.saveCurrent(QStringLiteral(" \t\n "), rules(QStringLiteral("x")), AdvancedFindCompoundType::all));
    EXPECT_EQ(favorites.favorites().size(), 3);
    EXPECT_EQ(stored(), data);

    // Every change was stored: a second reader sees the same list.
    AdvancedFindFavorites reread(*m_settings);
    reread.load();
    EXPECT_EQ(reread.favorites(), favorites.favorites());
}

TEST_F(AdvancedFindFavoritesTest, RemoveAndLookUpByIdString)
{
    AdvancedFindFavorites favorites(*m_settings);
    const auto first = favorites.saveCurrent(QStringLiteral("first"), rules(QStringLiteral("1")), AdvancedFindCompoundType::all);
    const auto second = favorites.saveCurrent(QStringLiteral("second"), rules(QStringLiteral("2")), AdvancedFindCompoundType::all);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->id, second->id);
    EXPECT_EQ(first->idString(), first->idString().toUpper());
    EXPECT_FALSE(first->idString().contains(QLatin1Char('{')));
    EXPECT_EQ(favorites.favorite(second->idString()), second);
    EXPECT_FALSE(favorites.favorite(QStringLiteral("not an id")));

    EXPECT_FALSE(favorites.remove(QStringLiteral("not an id")));
    EXPECT_TRUE(favorites.remove(first->idString()));
    EXPECT_EQ(labels(favorites), QStringList({QStringLiteral("second")}));
    AdvancedFindFavorites reread(*m_settings);
    reread.load();
    EXPECT_EQ(labels(reread), QStringList({QStringLiteral("second")}));
    EXPECT_TRUE(reread.remove(second->idString()));
    reread.load();
    EXPECT_TRUE(reread.favorites().isEmpty());
}

TEST_F(AdvancedFindFavoritesTest, UnreadableDataLoadsAsNoFavouritesAndStaysUntilTheNextSave)
{
    const QByteArray missingRules = R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","label":"x","compoundTypeRawValue":0}])";
    for (const QByteArray &data : {QByteArray("not json"), QByteArray(R"({"label":"x"})"), missingRules,
                                   QByteArray(R"([{"id":"nope","label":"x","compoundTypeRawValue":0,"rules":[]}])"),
                                   QByteArray(R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","label":"x",)"
                                              R"("compoundTypeRawValue":0,"rules":[{"fieldIndex":0}]}])")}) {
        m_settings->setValue(AdvancedFindFavorites::settingsKey(), data);
        AdvancedFindFavorites favorites(*m_settings);
        favorites.load();
        EXPECT_TRUE(favorites.favorites().isEmpty()) << data.constData();
        EXPECT_EQ(stored(), data);
        EXPECT_FALSE(favorites.remove(QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")));
        EXPECT_EQ(stored(), data);
    }
    AdvancedFindFavorites favorites(*m_settings);
    favorites.load();
    ASSERT_TRUE(favorites.saveCurrent(QStringLiteral("fresh"), {}, AdvancedFindCompoundType::any));
    favorites.load();
    EXPECT_EQ(labels(favorites), QStringList({QStringLiteral("fresh")}));
}

TEST_F(AdvancedFindFavoritesTest, TheStoredFormIsAJsonArrayOfFavouritesWithTheirKeys)
{
    const QByteArray data = R"([{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","label":"Chest CT","compoundTypeRawValue":7,)"
                            R"("rules":[{"fieldIndex":10,"operatorRawValue":15,"stringValue":"CT"},)"
                            R"({"fieldIndex":3,"operatorRawValue":9,"dateValue":730000000.25}]}])";
    const auto decoded = AdvancedFindFavorites::decode(data);
    ASSERT_TRUE(decoded && decoded->size() == 1);
    const AdvancedFindFavorite &favorite = decoded->first();
    EXPECT_EQ(favorite.idString(), QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    EXPECT_EQ(favorite.compoundType(), AdvancedFindCompoundType::all);
    ASSERT_EQ(favorite.rules.size(), 2);
    EXPECT_EQ(favorite.rules[1].dateValue->toMSecsSinceEpoch(), (730000000LL + 978307200LL) * 1000 + 250);

    const std::optional<QByteArray> encoded = AdvancedFindFavorites::encode(*decoded);
    ASSERT_TRUE(encoded);
    EXPECT_TRUE(encoded->startsWith(R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","label":"Chest CT","compoundTypeRawValue":7,"rules":[)"))
        << encoded->constData();
    EXPECT_EQ(AdvancedFindFavorites::decode(*encoded), decoded);
    EXPECT_EQ(AdvancedFindFavorites::encode({}), QByteArray("[]"));

    // A date with no encoded form fails the encoding, and the stored list stays.
    AdvancedFindFavorites favorites(*m_settings);
    ASSERT_TRUE(favorites.saveCurrent(QStringLiteral("kept"), {}, AdvancedFindCompoundType::all));
    const QByteArray before = stored();
    AdvancedFindRuleSnapshot broken;
    broken.fieldIndex = int(Field::dateAdded);
    broken.operatorRawValue = int(Op::isOn);
    broken.dateValue = QDateTime();
    EXPECT_FALSE(AdvancedFindFavorites::encode({AdvancedFindFavorite{QUuid::createUuid(), QStringLiteral("bad"), 0, {broken}}}));
    EXPECT_TRUE(favorites.saveCurrent(QStringLiteral("bad"), {broken}, AdvancedFindCompoundType::all));
    EXPECT_EQ(stored(), before);
}

} // namespace
