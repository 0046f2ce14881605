#include "media/ui/ExternalEditorChooser.h"

#include <QComboBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "media/ExternalEditor.h"
#include "util/Settings.h"

namespace ovalis {

ExternalEditorChooser::ExternalEditorChooser(QWidget *parent, const QStringList &applicationDirectories)
    : QWidget(parent)
    , m_applications(new QComboBox(this))
    , m_command(new QLineEdit(this))
    , m_applicationDirectories(applicationDirectories.isEmpty() ? ExternalEditor::defaultApplicationDirectories()
                                                                : applicationDirectories)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_applications);
    layout->addWidget(m_command);
    m_applications->setObjectName(QStringLiteral("externalEditorPopUp"));
    m_command->setObjectName(QStringLiteral("externalEditorCommand"));
    m_command->setPlaceholderText(tr("Command, with %f for the image file"));

    m_applications->addItem(tr("Default application for the file type"), QString());
    for (const ExternalEditor::DesktopEntry &entry : ExternalEditor::imageApplications(m_applicationDirectories))
        m_applications->addItem(entry.name, entry.id);
    m_applications->addItem(tr("Command…"), QString());

    updateFromSettings();
    connect(m_applications, &QComboBox::currentIndexChanged, this, [this] {
        m_command->setEnabled(m_applications->currentIndex() == commandIndex());
        store();
    });
    connect(m_command, &QLineEdit::editingFinished, this, &ExternalEditorChooser::store);
    connect(&Settings::shared(), &Settings::valueChanged, this, [this](const QString &key) {
        if (key == ExternalEditor::settingsKey)
            updateFromSettings();
    });
}

int ExternalEditorChooser::commandIndex() const
{
    return m_applications->count() - 1;
}

void ExternalEditorChooser::updateFromSettings()
{
    if (m_updating)
        return;
    m_updating = true;
    const QString choice = Settings::shared().stringValue(ExternalEditor::settingsKey);
    const ExternalEditor editor(choice, {}, {}, m_applicationDirectories);
    int index = 0;
    if (editor.kind() == ExternalEditor::Kind::desktopEntry) {
        index = m_applications->findData(choice);
        if (index < 0) {
            // Not among the image applications found, but chosen: keep it.
            m_applications->insertItem(commandIndex(), editor.name(), choice);
            index = m_applications->findData(choice);
        }
    } else if (editor.kind() == ExternalEditor::Kind::command) {
        index = commandIndex();
        m_command->setText(choice);
    }
    m_applications->setCurrentIndex(index);
    m_command->setEnabled(index == commandIndex());
    m_updating = false;
}

void ExternalEditorChooser::store()
{
    if (m_updating)
        return;
    m_updating = true;
    const int index = m_applications->currentIndex();
    const QString value = index == commandIndex() ? m_command->text().trimmed() : m_applications->currentData().toString();
    Settings::shared().setValue(ExternalEditor::settingsKey, value.isEmpty() ? QVariant() : QVariant(value));
    m_updating = false;
}

} // namespace ovalis
