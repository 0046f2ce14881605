#pragma once

#include <QComboBox>
#include <QStringList>

namespace ovalis {

// An editable combo box of tag labels that completes while the user types:
// the first label that begins with the typed text, ignoring case and
// diacritics, fills the field with the rest of it selected, so that typing on
// replaces the proposal and Delete takes it away.
class AdvancedFindTagComboBox : public QComboBox
{
    Q_OBJECT

public:
    // The labels sorted as AdvancedFindTagLabels::load sorts them.
    explicit AdvancedFindTagComboBox(const QStringList &sortedLabels, QWidget *parent = nullptr);

private:
    void complete(const QString &typed);

    QStringList m_sortedLabels;
    QString m_lastTyped;
};

} // namespace ovalis
