#include <gtest/gtest.h>

#include "store/LinkActivator.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"

using namespace ovalis;

class LinkActivatorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_token = NotificationCenter::defaultCenter().addObserver(
            QStringLiteral("Set Find"), nullptr, [this](const Notification &n) { m_posts.append(n.userInfo); });
    }

    LinkActivator activator()
    {
        return LinkActivator([this](const QUrl &url) {
            m_opened.append(url);
            return m_openSucceeds;
        });
    }

    ObserverToken m_token;
    QList<QVariantMap> m_posts;
    QList<QUrl> m_opened;
    bool m_openSucceeds = true;
};

TEST_F(LinkActivatorTest, PatientLinkPostsSetFindInsteadOfOpening)
{
    LogCapture capture;
    EXPECT_EQ(activator().activate(QStringLiteral("ovalis-patient-id://localhost/ZAC5361")),
              LinkActivator::Outcome::FindPatient);
    ASSERT_EQ(m_posts.size(), 1);
    EXPECT_EQ(m_posts.first(), (QVariantMap{{QStringLiteral("Identifier"), QStringLiteral("ZAC5361")}}));
    EXPECT_TRUE(m_opened.isEmpty());
    ASSERT_EQ(capture.entries().size(), 1);
    EXPECT_EQ(capture.entries().first().area, LogArea::UI);
    EXPECT_EQ(capture.entries().first().message, QStringLiteral("Clicked on link with patientID: ZAC5361"));

    // The identifier is the last path component, decoded; the scheme is case-insensitive.
    EXPECT_EQ(activator().activate(QStringLiteral("OVALIS-PATIENT-ID://localhost/dept/AB%2012")),
              LinkActivator::Outcome::FindPatient);
    ASSERT_EQ(m_posts.size(), 2);
    EXPECT_EQ(m_posts.last().value(QStringLiteral("Identifier")).toString(), QStringLiteral("AB 12"));
    EXPECT_TRUE(capture.contains(QStringLiteral("Clicked on link with patientID: AB 12")));
}

TEST_F(LinkActivatorTest, OtherURLsAreLoggedAndOpened)
{
    LogCapture capture;
    const QString link = QStringLiteral("https://radiopaedia.org/articles/glioma?lang=en");
    EXPECT_EQ(activator().activate(link), LinkActivator::Outcome::Opened);
    EXPECT_EQ(m_opened, QList<QUrl>{QUrl(link)});
    EXPECT_TRUE(m_posts.isEmpty());
    EXPECT_EQ(capture.messages(), QStringList{QStringLiteral("Clicked on generic URL: ") + link});
    EXPECT_EQ(capture.entries().first().area, LogArea::UI);

    m_openSucceeds = false;
    EXPECT_EQ(activator().activate(QStringLiteral("scrolla://paper?title=T")), LinkActivator::Outcome::OpenFailed);
    EXPECT_EQ(m_opened.size(), 2);
    EXPECT_EQ(m_opened.last(), QUrl(QStringLiteral("scrolla://paper?title=T")));
}

TEST_F(LinkActivatorTest, TextThatIsNoURLIsLeftAlone)
{
    LogCapture capture;
    for (const QString &text : {QStringLiteral("ovalis-patient-id://localhost/AB 12"), QStringLiteral("not a link"),
                                QStringLiteral("glioma"), QStringLiteral("https://x.org/100%"), QString()}) {
        EXPECT_EQ(activator().activate(text), LinkActivator::Outcome::NotAURL) << text.toStdString();
    }
    EXPECT_TRUE(m_posts.isEmpty());
    EXPECT_TRUE(m_opened.isEmpty());
    EXPECT_TRUE(capture.messages().isEmpty());
}
