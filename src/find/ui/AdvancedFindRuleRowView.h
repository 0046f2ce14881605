#pragma once

#include <QFont>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "find/AdvancedFindRule.h"
#include "find/AdvancedFindValueControl.h"

class QComboBox;
class QHBoxLayout;
class QToolButton;

namespace ovalis {

class AdvancedFindRuleRowViewDelegate;
struct AdvancedFindRuleSnapshot;

// One rule of the Advanced Find window: field and operator pop-ups, the
// control for the rule's value, and buttons to remove this rule or add one
// after it.
//
// The rule is shared with whoever builds the predicate; the row writes the
// field and operator into it as the user picks them, but the value only when
// copyValueIntoRule() reads the control, or the field changes within its
// group (the typed value carries over).
class AdvancedFindRuleRowView : public QWidget
{
    Q_OBJECT

public:
    AdvancedFindRuleRowView(std::shared_ptr<AdvancedFindRule> rule, const QStringList &availableTagLabels,
                            QWidget *parent = nullptr);
    ~AdvancedFindRuleRowView() override;

    // The small control font of the window's rows and labels.
    static QFont smallSystemFont();

    // Not owned; may be null.
    void setDelegate(AdvancedFindRuleRowViewDelegate *delegate) { m_delegate = delegate; }
    AdvancedFindRuleRowViewDelegate *delegate() const { return m_delegate; }

    const std::shared_ptr<AdvancedFindRule> &rule() const { return m_rule; }
    QComboBox *fieldPopUp() const { return m_fieldPopUp; }
    QComboBox *operatorPopUp() const { return m_operatorPopUp; }
    QWidget *valueContainer() const { return m_valueContainer; }
    // The control the rule's value is edited in; null when it needs none.
    QWidget *valueControl() const { return m_valueControl; }
    AdvancedFindValueControl valueControlKind() const { return m_valueControlKind; }
    QToolButton *removeButton() const { return m_removeButton; }
    QToolButton *addButton() const { return m_addButton; }

    // Reads the control into the rule's value (absent when there is no control).
    void copyValueIntoRule();
    // Takes the snapshot's rule and shows it: field, operators, operator and
    // a new value control showing its value.
    void applySnapshot(const AdvancedFindRuleSnapshot &snapshot);

public slots:
    // The pop-ups' and buttons' actions.
    void fieldChanged();
    void operatorChanged();
    void removeClicked();
    void addClicked();

private:
    void fillFieldPopUp();
    void fillOperatorPopUp();
    void selectRule();
    // Replaces the value control, unread, with one showing the rule's value;
    // a new text-like control takes the keyboard when focus is true.
    void rebuildValueControl(bool focus);
    QWidget *makeValueControl(AdvancedFindValueControl kind);
    QVariant valueOfControl() const;

    std::shared_ptr<AdvancedFindRule> m_rule;
    QStringList m_availableTagLabels;
    AdvancedFindRuleRowViewDelegate *m_delegate = nullptr; // Not owned.
    QHBoxLayout *m_stackView;
    QComboBox *m_fieldPopUp;
    QComboBox *m_operatorPopUp;
    QWidget *m_valueContainer;
    QHBoxLayout *m_valueLayout;
    QWidget *m_valueControl = nullptr; // Owned by m_valueContainer.
    AdvancedFindValueControl m_valueControlKind = AdvancedFindValueControl::none;
    QToolButton *m_removeButton;
    QToolButton *m_addButton;
};

} // namespace ovalis
