#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include "library/ValueTransformer.h"
#include "library/ui/LinksViewController.h"
#include "store/LibraryNotifications.h"
#include "support/StoreFixture.h"
#include "util/NotificationCenter.h"

namespace ovalis::test {
namespace {

class LinksViewControllerTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_links = std::make_unique<LinksViewController>(nullptr, [this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
        m_links->resize(400, 500);
        m_links->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_links.get()));
        m_links->setNumberOfSelectedCases(1);
    }

    void TearDown() override
    {
        m_links.reset();
        StoreFixture::TearDown();
    }

    QTextBrowser *view() const { return m_links->linksTextView(); }

    // The text format in the middle of the link to target.
    QTextCharFormat linkFormat(const QString &target, int *middle = nullptr) const
    {
        for (QTextBlock block = view()->document()->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().anchorHref() == target) {
                    if (middle)
                        *middle = it.fragment().position() + it.fragment().length() / 2;
                    return it.fragment().charFormat();
                }
        return {};
    }

    // A point of the viewport inside the link to target.
    QPoint pointOnLink(const QString &target) const
    {
        int middle = -1;
        linkFormat(target, &middle);
        QTextCursor cursor(view()->document());
        cursor.setPosition(middle);
        const QRect caret = view()->cursorRect(cursor);
        return QPoint(caret.center().x() + 1, caret.center().y());
    }

    std::unique_ptr<LinksViewController> m_links;
    QList<QUrl> m_opened;
};

TEST_F(LinksViewControllerTest, LinksAreAccentColouredWithoutUnderlineAndNothingIsSelectable)
{
    Case *item = newCase(QStringLiteral("ZAC5361"), QStringLiteral("Seen as ZAC5361"));
    item->setDetail(QStringLiteral("See https://example.org/a"));
    m_links->setRepresentedObject(item);
    EXPECT_EQ(view()->toPlainText().trimmed(), item->urlsAttributedString().toPlainText().replace(QLatin1Char('\r'), QLatin1Char('\n')).trimmed());
    for (const QString &target : {QStringLiteral("https://example.org/a"), QStringLiteral("ovalis-patient-id://localhost/ZAC5361")}) {
        const QTextCharFormat format = linkFormat(target);
        ASSERT_TRUE(format.isAnchor()) << target.toStdString();
        EXPECT_EQ(format.foreground().color(), ValueTransformer::accentColor());
        EXPECT_FALSE(format.fontUnderline());
    }
    EXPECT_EQ(view()->textInteractionFlags(), Qt::LinksAccessibleByMouse);
    EXPECT_EQ(view()->focusPolicy(), Qt::NoFocus);

    QTest::mouseMove(view()->viewport(), pointOnLink(QStringLiteral("https://example.org/a")));
    EXPECT_EQ(view()->viewport()->cursor().shape(), Qt::PointingHandCursor);

    // Edits to the case show at once.
    item->setDetail(QString());
    EXPECT_TRUE(view()->toPlainText().startsWith(QStringLiteral("• ZAC5361")));
    m_links->setRepresentedObject(newCase(QStringLiteral("ABC1234")));
    EXPECT_EQ(view()->toPlainText(), QStringLiteral("No links"));
}

TEST_F(LinksViewControllerTest, APatientLinkAsksForAFindOtherLinksOpenAndBrokenOnesDoNothing)
{
    Case *item = newCase(QStringLiteral("AB C"));
    newCase(QStringLiteral("ab c"));
    item->setDetail(QStringLiteral("Report https://example.org/report?id=7 and ZAC5361"));
    m_links->setRepresentedObject(item);
    QStringList identifiers;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::setFind, nullptr,
        [&](const Notification &n) { identifiers.append(n.userInfo.value(QStringLiteral("Identifier")).toString()); });

    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, pointOnLink(QStringLiteral("ovalis-patient-id://localhost/ZAC5361")));
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, pointOnLink(QStringLiteral("https://example.org/report?id=7")));
    // "All Cases for This Patient" links to an identifier with a space: not a URL.
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, pointOnLink(QStringLiteral("ovalis-patient-id://localhost/AB C")));
    // A right click opens nothing.
    QTest::mouseClick(view()->viewport(), Qt::RightButton, {}, pointOnLink(QStringLiteral("https://example.org/report?id=7")));

    EXPECT_EQ(identifiers, QStringList{"ZAC5361"});
    EXPECT_EQ(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/report?id=7"))});
}

} // namespace
} // namespace ovalis::test
