#include <gtest/gtest.h>

#include "find/AdvancedFindTagLabels.h"
#include "support/StoreFixture.h"

using namespace ovalis;

namespace {

using AdvancedFindTagLabelsTest = test::StoreFixture;

TEST_F(AdvancedFindTagLabelsTest, LabelsAreSortedIgnoringCaseAndCompletionTakesTheFirstFoldedPrefix)
{
    for (const char *label : {"ct chest", "Écho", "CT", "abdomen", "Cardiac"})
        newTag(QString::fromUtf8(label));
    context()->insertNew<Tag>(); // without a label
    const QStringList labels = AdvancedFindTagLabels::load(*context());
    EXPECT_EQ(labels, QStringList({QStringLiteral("abdomen"), QStringLiteral("Cardiac"), QStringLiteral("CT"),
                                   QStringLiteral("ct chest"), QStringLiteral("Écho")}))
        << labels.join(QLatin1Char('|')).toStdString();

    EXPECT_EQ(AdvancedFindTagLabels::completion(labels, QString()), QString());
    EXPECT_EQ(AdvancedFindTagLabels::completion(labels, QStringLiteral("c")), QStringLiteral("Cardiac"));
    EXPECT_EQ(AdvancedFindTagLabels::completion(labels, QStringLiteral("CT ")), QStringLiteral("ct chest"));
    EXPECT_EQ(AdvancedFindTagLabels::completion(labels, QStringLiteral("echo")), QStringLiteral("Écho"));
    EXPECT_EQ(AdvancedFindTagLabels::completion(labels, QStringLiteral("x")), QString());
    EXPECT_EQ(AdvancedFindTagLabels::completion({}, QStringLiteral("c")), QString());
}

} // namespace
