#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "media/ExternalEditor.h"
#include "media/ui/ExternalEditorChooser.h"
#include "support/StoreFixture.h"
#include "util/Settings.h"

using namespace ovalis;

namespace {

class ExternalEditorChooserTest : public test::StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_applications = m_directory.filePath(QStringLiteral("applications"));
        ASSERT_TRUE(QDir().mkpath(m_applications));
        write(QStringLiteral("paint.desktop"), "[Desktop Entry]\nName=Paint\nExec=paint %f\nMimeType=image/png;\n");
        write(QStringLiteral("notes.desktop"), "[Desktop Entry]\nName=Notes\nExec=notes %f\nMimeType=text/plain;\n");
    }

    void write(const QString &id, const QByteArray &contents)
    {
        QFile file(QDir(m_applications).filePath(id));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    static QString stored() { return Settings::shared().stringValue(ExternalEditor::settingsKey); }

    QString m_applications;
};

} // namespace

TEST_F(ExternalEditorChooserTest, ChoicesAreStoredAtOnceAndFollowTheSetting)
{
    ExternalEditorChooser chooser(nullptr, {m_applications});
    QComboBox *popUp = chooser.applicationPopUp();
    // The default, the image applications, and a command.
    ASSERT_EQ(popUp->count(), 3);
    EXPECT_EQ(popUp->itemText(1), QStringLiteral("Paint"));
    EXPECT_EQ(popUp->currentIndex(), 0);
    EXPECT_FALSE(chooser.commandField()->isEnabled());

    popUp->setCurrentIndex(1);
    EXPECT_EQ(stored(), QStringLiteral("paint.desktop"));

    popUp->setCurrentIndex(2);
    EXPECT_TRUE(chooser.commandField()->isEnabled());
    chooser.commandField()->setText(QStringLiteral("gimp --no-splash %f"));
    emit chooser.commandField()->editingFinished();
    EXPECT_EQ(stored(), QStringLiteral("gimp --no-splash %f"));

    popUp->setCurrentIndex(0);
    EXPECT_FALSE(Settings::shared().contains(ExternalEditor::settingsKey));

    // Chosen elsewhere: an application that is not listed is added.
    write(QStringLiteral("retouch.desktop"), "[Desktop Entry]\nName=Retouch\nExec=retouch\n");
    Settings::shared().setValue(ExternalEditor::settingsKey, QStringLiteral("retouch.desktop"));
    EXPECT_EQ(popUp->currentText(), QStringLiteral("Retouch"));
    EXPECT_EQ(stored(), QStringLiteral("retouch.desktop"));
    Settings::shared().setValue(ExternalEditor::settingsKey, QStringLiteral("krita %f"));
    EXPECT_EQ(popUp->currentIndex(), popUp->count() - 1);
    EXPECT_EQ(chooser.commandField()->text(), QStringLiteral("krita %f"));
}
