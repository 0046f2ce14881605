#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include "store/CaseLinks.h"
#include "support/StoreFixture.h"

using namespace ovalis;
using TextRun = StyledText::Run;
using Style = StyledText::Style;

namespace {

const QString patientLink = QStringLiteral("ovalis-patient-id://localhost/");
const QString entryEnd = QStringLiteral("\r\r");
const QString bullet = QStringLiteral("\u2022 ");

} // namespace

class CaseLinksTest : public ovalis::test::StoreFixture
{
protected:
    void setRecognition(bool on) { Settings::shared().setValue(QStringLiteral("Recognise_NZ_NHIs"), on); }
};

TEST_F(CaseLinksTest, ListHasPatientThenNHIsThenWebLinksThenPapers)
{
    Case *item = newCase(QStringLiteral("ZAC5361"), QStringLiteral("Glioma, see AOA1234"));
    newCase(QStringLiteral("zac5361 MRN"));
    item->setDetail(QStringLiteral("Paper scrolla://paper?id=7&title=Glioma%20grading%3A%20a%20review&date=2019-05-01 "
                                   "and https://radiopaedia.org/glioma then http://example.org/a?b=1\n"
                                   "also ZAC5361."));

    const StyledText list = item->urlsAttributedString();
    const QString paper = QStringLiteral("scrolla://paper?id=7&title=Glioma%20grading%3A%20a%20review&date=2019-05-01");
    const QList<TextRun> expected{
        {bullet, Style::Base, {}},
        {QStringLiteral("All Cases for This Patient"), Style::Base, patientLink + QStringLiteral("ZAC5361")},
        {entryEnd + bullet, Style::Base, {}},
        {QStringLiteral("AOA1234"), Style::Base, patientLink + QStringLiteral("AOA1234")},
        {entryEnd + bullet, Style::Base, {}},
        {QStringLiteral("ZAC5361"), Style::Base, patientLink + QStringLiteral("ZAC5361")},
        {entryEnd, Style::Base, {}},
        {QStringLiteral("https://radiopaedia.org/glioma"), Style::Base, QStringLiteral("https://radiopaedia.org/glioma")},
        {entryEnd, Style::Base, {}},
        {QStringLiteral("http://example.org/a?b=1"), Style::Base, QStringLiteral("http://example.org/a?b=1")},
        {entryEnd, Style::Base, {}},
        {QStringLiteral("Glioma grading: a review"), Style::Base, paper},
        {QStringLiteral(" (2019)") + entryEnd, Style::Base, {}},
    };
    EXPECT_EQ(list.runs(), expected);
    EXPECT_EQ(list.toPlainText(),
              bullet + QStringLiteral("All Cases for This Patient\r\r") + bullet + QStringLiteral("AOA1234\r\r") + bullet
                  + QStringLiteral("ZAC5361\r\rhttps://radiopaedia.org/glioma\r\rhttp://example.org/a?b=1\r\r"
                                   "Glioma grading: a review (2019)\r\r"));
    EXPECT_EQ(item->value(QStringLiteral("urlsAttributedString")).value<StyledText>(), list);
    EXPECT_TRUE(item->hasLinks());
    EXPECT_EQ(item->value(QStringLiteral("hasLinks")), QVariant(true));

    // Without recognition the NHI entries go; the rest stays.
    setRecognition(false);
    EXPECT_EQ(item->urlsAttributedString().links(),
              (QStringList{patientLink + QStringLiteral("ZAC5361"), QStringLiteral("https://radiopaedia.org/glioma"),
                           QStringLiteral("http://example.org/a?b=1"), paper}));
}

TEST_F(CaseLinksTest, CaseWithoutLinksShowsOnlyFadedNoLinks)
{
    Case *item = newCase(QStringLiteral("ZAC5361"), QStringLiteral("Nothing to see at https://summary.only"));
    item->setDetail(QStringLiteral("zac5361 ZAC5362 ftp://files.org scrolla:/broken"));
    EXPECT_FALSE(item->hasLinks());
    EXPECT_EQ(item->urlsAttributedString().runs(), (QList<TextRun>{{QStringLiteral("No links"), Style::Faded, {}}}));
    EXPECT_EQ(item->value(QStringLiteral("hasLinks")), QVariant(false));

    Case *bare = context()->insertNew<Case>();
    EXPECT_FALSE(bare->hasLinks());
    EXPECT_EQ(bare->urlsAttributedString().toPlainText(), QStringLiteral("No links"));
}

TEST_F(CaseLinksTest, HasLinksForOtherCasesNHIsOrDetailLinks)
{
    Case *item = newCase(QStringLiteral("AB"));
    EXPECT_FALSE(item->hasLinks());
    Case *other = newCase(QStringLiteral("xab1"));
    EXPECT_TRUE(item->hasLinks());
    EXPECT_FALSE(other->hasLinks()); // "xab1" is not contained in "AB"
    context()->deleteObject(other);

    item->setSummary(QStringLiteral("AOA1234"));
    EXPECT_TRUE(item->hasLinks());
    setRecognition(false);
    EXPECT_FALSE(item->hasLinks());
    item->setSummary(QString());

    item->setDetail(QStringLiteral("see https://x.org"));
    EXPECT_TRUE(item->hasLinks());
    // A paper link that does not parse still counts, though the list skips it.
    item->setDetail(QStringLiteral("see scrolla://paper"));
    EXPECT_TRUE(item->hasLinks());
    EXPECT_EQ(item->urlsAttributedString().toPlainText(), QStringLiteral("No links"));
}

TEST_F(CaseLinksTest, PatientEntryNeedsAnIdentifierAndTwoCases)
{
    Case *item = newCase(QStringLiteral("AB 12"));
    EXPECT_FALSE(item->urlsAttributedString().toPlainText().contains(QStringLiteral("All Cases")));
    newCase(QStringLiteral("ab 123"));
    EXPECT_EQ(item->urlsAttributedString().links(), QStringList{patientLink + QStringLiteral("AB 12")});

    // Cases without an identifier are not one patient.
    Case *anonymous = newCase(QString());
    newCase(QString());
    EXPECT_FALSE(anonymous->hasLinks());
    EXPECT_EQ(anonymous->urlsAttributedString().toPlainText(), QStringLiteral("No links"));
}

TEST(PaperReferenceTest, TitleYearAndFallbacks)
{
    const auto reference = [](const QString &link) { return CaseLinks::paperReference(link); };

    auto decoded = reference(QStringLiteral("scrolla://p?title=T%C3%BCmor%20%26%20more&date=2019-05-01"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->title, QStringLiteral("T\u00fcmor & more"));
    EXPECT_EQ(decoded->year, QStringLiteral("2019"));

    const QString untitled = QStringLiteral("scrolla://p?id=4&date=2001");
    auto noTitle = reference(untitled);
    ASSERT_TRUE(noTitle);
    EXPECT_EQ(noTitle->title, untitled);
    EXPECT_EQ(noTitle->year, QStringLiteral("2001"));

    const QString badUtf8 = QStringLiteral("scrolla://p?title=%FF%FE");
    auto undecodable = reference(badUtf8);
    ASSERT_TRUE(undecodable);
    EXPECT_EQ(undecodable->title, badUtf8);
    EXPECT_FALSE(undecodable->year);

    auto first = reference(QStringLiteral("scrolla://p?title=One&title=Two&date=20"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->title, QStringLiteral("One"));
    EXPECT_EQ(first->year, QStringLiteral("20"));

    // Decoded once: an encoded percent sign stays a percent sign.
    EXPECT_EQ(reference(QStringLiteral("scrolla://p?title=%2541%20100%25"))->title, QStringLiteral("%41 100%"));

    EXPECT_FALSE(reference(QStringLiteral("scrolla://p")));
    EXPECT_FALSE(reference(QStringLiteral("scrolla://p?")));
    EXPECT_FALSE(reference(QStringLiteral("scrolla://p?title=50%")));

    // A list with an undecodable title shows the whole link, without a year.
    const StyledText list = CaseLinks::linksList(QString(), 0, {}, badUtf8 + QStringLiteral(" scrolla://p"));
    EXPECT_EQ(list.runs(), (QList<TextRun>{{badUtf8, Style::Base, badUtf8}, {entryEnd, Style::Base, {}}}));
}

TEST(StyledTextTest, HtmlKeepsTextLinksAndStyles)
{
    StyledText text;
    text.append(QStringLiteral("\u2022 "));
    text.appendLink(QStringLiteral("a <b> & c"), QStringLiteral("https://x.org/?a=1&b=\"2\""));
    text.append(QStringLiteral("\r\r"));
    text.append(QStringLiteral("No  links"), Style::Faded);
    EXPECT_EQ(text.runs().size(), 4);
    EXPECT_EQ(text.toPlainText(), QStringLiteral("\u2022 a <b> & c\r\rNo  links"));

    QTextDocument document;
    document.setHtml(text.toHtml());
    QString plain;
    QStringList anchors;
    QList<int> alphas;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            plain += fragment.text();
            if (format.isAnchor())
                anchors.append(format.anchorHref() + QStringLiteral(" -> ") + fragment.text());
            EXPECT_EQ(format.fontPointSize(), 14);
            EXPECT_EQ(format.fontWeight(), QFont::Medium);
            EXPECT_EQ(format.foreground().color().rgb(), QColor(128, 128, 128).rgb());
            alphas.append(format.foreground().color().alpha());
        }
    }
    const QString lineBreak(QChar::LineSeparator);
    EXPECT_EQ(plain, QStringLiteral("\u2022 a <b> & c") + lineBreak + lineBreak + QStringLiteral("No  links"));
    EXPECT_EQ(anchors, QStringList{QStringLiteral("https://x.org/?a=1&b=\"2\" -> a <b> & c")});
    ASSERT_FALSE(alphas.isEmpty());
    EXPECT_EQ(alphas.first(), 255);
    EXPECT_NEAR(alphas.last(), 128, 1);
}

TEST_F(CaseLinksTest, ObserversHearOfTheStoredKeysTheLinksDependOn)
{
    Case *item = newCase(QStringLiteral("P1"));
    QMap<QString, int> heard;
    for (const QString &key : {QStringLiteral("hasLinks"), QStringLiteral("urlsAttributedString"),
                               QStringLiteral("recognisedNHIs"), QStringLiteral("patientIDisValid"),
                               QStringLiteral("ageString")})
        item->addObserver(key, [&heard, key] { ++heard[key]; });

    item->setSummary(QStringLiteral("AOA1234"));
    item->setDetail(QStringLiteral("https://x.org"));
    EXPECT_EQ(heard.value(QStringLiteral("hasLinks")), 2);
    EXPECT_EQ(heard.value(QStringLiteral("urlsAttributedString")), 2);
    EXPECT_EQ(heard.value(QStringLiteral("recognisedNHIs")), 2);
    EXPECT_EQ(heard.value(QStringLiteral("patientIDisValid")), 0);

    item->setPatientID(QStringLiteral("ZAC5361"));
    EXPECT_EQ(heard.value(QStringLiteral("patientIDisValid")), 1);
    EXPECT_EQ(heard.value(QStringLiteral("recognisedNHIs")), 2);

    item->setSex(Sex::male);
    item->setDateOfBirth(QDateTime(QDate(2000, 1, 1), QTime(12, 0)));
    EXPECT_EQ(heard.value(QStringLiteral("hasLinks")), 2);
    EXPECT_EQ(heard.value(QStringLiteral("ageString")), 1);
}
