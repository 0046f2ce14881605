#pragma once

#include <QDialog>
#include <QSize>
#include <QStringList>

class QLineEdit;

namespace ovalis {

// A modal alert that asks for a short text: a message, an informative text,
// a text field and two buttons, the first of which accepts.
class AdvancedFindLabelAlert : public QDialog
{
    Q_OBJECT

public:
    struct Texts {
        QString messageText;
        QString informativeText;
        QStringList buttonTitles; // accept, then cancel
        QSize accessorySize;      // of the text field
    };

    explicit AdvancedFindLabelAlert(const Texts &texts, QWidget *parent = nullptr);

    QLineEdit *accessoryField() const { return m_accessoryField; }
    QString text() const;

private:
    QLineEdit *m_accessoryField;
};

} // namespace ovalis
