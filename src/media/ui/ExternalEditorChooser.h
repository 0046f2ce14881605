#pragma once

#include <QStringList>
#include <QWidget>

class QComboBox;
class QLineEdit;

namespace ovalis {

// Chooses the external image editor (ExternalEditor::settingsKey): the
// desktop's default application, one of the installed applications that
// open images, or a command line. Changes are stored at once.
class ExternalEditorChooser : public QWidget
{
    Q_OBJECT

public:
    // Applications are looked for in applicationDirectories (the desktop's
    // usual folders when empty).
    explicit ExternalEditorChooser(QWidget *parent = nullptr, const QStringList &applicationDirectories = {});

    QComboBox *applicationPopUp() const { return m_applications; }
    QLineEdit *commandField() const { return m_command; }

private:
    void updateFromSettings();
    void store();
    int commandIndex() const;

    QComboBox *m_applications; // Owned (child), as is the field.
    QLineEdit *m_command;
    QStringList m_applicationDirectories;
    bool m_updating = false;
};

} // namespace ovalis
