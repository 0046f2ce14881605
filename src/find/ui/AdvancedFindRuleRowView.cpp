#include "find/ui/AdvancedFindRuleRowView.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QToolButton>
#include <limits>

#include "find/AdvancedFindRuleSnapshot.h"
#include "find/ui/AdvancedFindRuleRowViewDelegate.h"
#include "find/ui/AdvancedFindTagComboBox.h"
#include "library/ui/OptionalDateEdit.h"
#include "util/ThemeIcon.h"

namespace ovalis {

namespace {

const QStringList sexTitles = {QStringLiteral("Unknown"), QStringLiteral("Male"), QStringLiteral("Female"),
                               QStringLiteral("Non-binary")};

bool isTextLike(AdvancedFindValueControl kind)
{
    return kind == AdvancedFindValueControl::textField || kind == AdvancedFindValueControl::daysField
           || kind == AdvancedFindValueControl::tagComboBox;
}

QToolButton *makeRowButton(QWidget *parent, std::initializer_list<const char *> iconNames, const QString &fallbackText,
                           const QString &description)
{
    auto *button = new QToolButton(parent);
    const QIcon icon = ThemeIcon::firstOf(iconNames);
    if (icon.isNull())
        button->setText(fallbackText);
    else
        button->setIcon(icon);
    button->setAutoRaise(true);
    button->setAccessibleName(description);
    button->setAccessibleDescription(description);
    button->setToolTip(description);
    return button;
}

} // namespace

QFont AdvancedFindRuleRowView::smallSystemFont()
{
    // The small control size: eleven points where the system font has thirteen.
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 11.0 / 13.0);
    else if (font.pixelSize() > 0)
        font.setPixelSize(qMax(9, font.pixelSize() * 11 / 13));
    return font;
}

AdvancedFindRuleRowView::AdvancedFindRuleRowView(std::shared_ptr<AdvancedFindRule> rule,
                                                 const QStringList &availableTagLabels, QWidget *parent)
    : QWidget(parent)
    , m_rule(rule ? std::move(rule) : std::make_shared<AdvancedFindRule>())
    , m_availableTagLabels(availableTagLabels)
    , m_stackView(new QHBoxLayout(this))
    , m_fieldPopUp(new QComboBox(this))
    , m_operatorPopUp(new QComboBox(this))
    , m_valueContainer(new QWidget(this))
    , m_valueLayout(new QHBoxLayout(m_valueContainer))
    , m_removeButton(makeRowButton(this, {"list-remove", "list-remove-symbolic"}, QStringLiteral("−"),
                                   QStringLiteral("Remove rule")))
    , m_addButton(makeRowButton(this, {"list-add", "list-add-symbolic"}, QStringLiteral("+"), QStringLiteral("Add rule")))
{
    const QFont font = smallSystemFont();
    m_fieldPopUp->setFont(font);
    m_operatorPopUp->setFont(font);
    m_fieldPopUp->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // Every row's operator pop-up is as wide as the longest operator title,
    // so that the value controls of all rows start at one edge.
    qsizetype longestOperator = 0;
    for (AdvancedFindOperator op : allAdvancedFindOperators())
        longestOperator = qMax(longestOperator, advancedFindOperatorTitle(op).size());
    m_operatorPopUp->setMinimumContentsLength(int(longestOperator));
    m_operatorPopUp->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    m_valueLayout->setContentsMargins(0, 0, 0, 0);
    m_valueContainer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    m_stackView->setContentsMargins(0, 0, 0, 0);
    m_stackView->setSpacing(6);
    m_stackView->addWidget(m_fieldPopUp, 0, Qt::AlignVCenter);
    m_stackView->addWidget(m_operatorPopUp, 0, Qt::AlignVCenter);
    m_stackView->addWidget(m_valueContainer, 1);
    m_stackView->addWidget(m_removeButton, 0, Qt::AlignVCenter);
    m_stackView->addWidget(m_addButton, 0, Qt::AlignVCenter);

    fillFieldPopUp();
    fillOperatorPopUp();
    selectRule();
    rebuildValueControl(false);

    connect(m_fieldPopUp, &QComboBox::activated, this, &AdvancedFindRuleRowView::fieldChanged);
    connect(m_operatorPopUp, &QComboBox::activated, this, &AdvancedFindRuleRowView::operatorChanged);
    connect(m_removeButton, &QToolButton::clicked, this, &AdvancedFindRuleRowView::removeClicked);
    connect(m_addButton, &QToolButton::clicked, this, &AdvancedFindRuleRowView::addClicked);
}

AdvancedFindRuleRowView::~AdvancedFindRuleRowView() = default;

void AdvancedFindRuleRowView::fillFieldPopUp()
{
    for (AdvancedFindField field : allAdvancedFindFields()) {
        m_fieldPopUp->addItem(advancedFindFieldTitle(field), int(field));
        if (advancedFindFieldEndsMenuGroup(field))
            m_fieldPopUp->insertSeparator(m_fieldPopUp->count());
    }
}

void AdvancedFindRuleRowView::fillOperatorPopUp()
{
    m_operatorPopUp->clear();
    for (AdvancedFindOperator op : advancedFindOperators(m_rule->field))
        m_operatorPopUp->addItem(advancedFindOperatorTitle(op), int(op));
}

void AdvancedFindRuleRowView::selectRule()
{
    m_fieldPopUp->setCurrentIndex(m_fieldPopUp->findData(int(m_rule->field)));
    m_operatorPopUp->setCurrentIndex(m_operatorPopUp->findData(int(m_rule->ruleOperator)));
}

void AdvancedFindRuleRowView::fieldChanged()
{
    const QVariant tag = m_fieldPopUp->currentData();
    const std::optional<AdvancedFindField> field = tag.isValid() ? advancedFindFieldFromRawValue(tag.toInt()) : std::nullopt;
    if (!field)
        return;
    const bool sameGroup = advancedFindFieldGroup(*field) == advancedFindFieldGroup(m_rule->field);
    // What the user typed for the old field stays for the new one of its group.
    if (sameGroup)
        copyValueIntoRule();
    m_rule->field = *field;
    if (!sameGroup) {
        m_rule->ruleOperator = defaultAdvancedFindOperator(*field);
        m_rule->value = QVariant();
        fillOperatorPopUp();
        selectRule();
    }
    rebuildValueControl(true);
}

void AdvancedFindRuleRowView::operatorChanged()
{
    const QVariant tag = m_operatorPopUp->currentData();
    const std::optional<AdvancedFindOperator> op = tag.isValid() ? advancedFindOperatorFromRawValue(tag.toInt()) : std::nullopt;
    if (!op)
        return;
    m_rule->ruleOperator = *op;
    // Between operators that need the same kind of control, the control
    // keeps what the user has put into it.
    if (advancedFindValueControl(m_rule->field, *op) != m_valueControlKind)
        rebuildValueControl(true);
}

void AdvancedFindRuleRowView::removeClicked()
{
    if (m_delegate)
        m_delegate->removeRuleRow(this);
}

void AdvancedFindRuleRowView::addClicked()
{
    if (m_delegate)
        m_delegate->addRuleRow(this);
}

void AdvancedFindRuleRowView::applySnapshot(const AdvancedFindRuleSnapshot &snapshot)
{
    *m_rule = snapshot.toRule();
    fillOperatorPopUp();
    selectRule();
    rebuildValueControl(false);
}

void AdvancedFindRuleRowView::rebuildValueControl(bool focus)
{
    delete m_valueControl;
    m_valueControlKind = advancedFindValueControl(m_rule->field, m_rule->ruleOperator);
    m_valueControl = makeValueControl(m_valueControlKind);
    if (!m_valueControl)
        return;
    m_valueControl->setFont(smallSystemFont());
    // Text-like controls take the container's width; the others keep their
    // own and sit at its left edge.
    const bool stretches = m_valueControl->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding;
    m_valueLayout->addWidget(m_valueControl, 1, stretches ? Qt::Alignment() : Qt::AlignLeft | Qt::AlignVCenter);
    m_valueControl->show();
    if (focus && isTextLike(m_valueControlKind))
        m_valueControl->setFocus(Qt::OtherFocusReason);
}

QWidget *AdvancedFindRuleRowView::makeValueControl(AdvancedFindValueControl kind)
{
    switch (kind) {
    case AdvancedFindValueControl::none: return nullptr;
    case AdvancedFindValueControl::textField: {
        auto *field = new QLineEdit(m_valueContainer);
        field->setPlaceholderText(QStringLiteral("Value"));
        field->setText(m_rule->stringValue().value_or(QString()));
        return field;
    }
    case AdvancedFindValueControl::daysField: {
        auto *field = new QLineEdit(m_valueContainer);
        field->setPlaceholderText(QStringLiteral("Days"));
        field->setValidator(new QIntValidator(1, std::numeric_limits<int>::max(), field));
        if (const std::optional<qint64> days = m_rule->dayCountValue())
            field->setText(QString::number(*days));
        return field;
    }
    case AdvancedFindValueControl::datePicker: {
        auto *picker = new QDateTimeEdit(m_valueContainer);
        picker->setDisplayFormat(OptionalDateEdit::fullYearDateFormat());
        // The picker keeps the time of day of the date it shows.
        picker->setDateTime(m_rule->dateValue().value_or(QDateTime::currentDateTime()));
        picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        return picker;
    }
    case AdvancedFindValueControl::sexPopUp: {
        auto *popUp = new QComboBox(m_valueContainer);
        for (qsizetype raw = 0; raw < sexTitles.size(); ++raw)
            popUp->addItem(sexTitles.at(raw), int(raw));
        if (const std::optional<qint16> sex = m_rule->sexValue()) {
            const int index = popUp->findData(int(*sex));
            if (index >= 0)
                popUp->setCurrentIndex(index);
        }
        popUp->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        return popUp;
    }
    case AdvancedFindValueControl::tagComboBox: {
        auto *comboBox = new AdvancedFindTagComboBox(m_availableTagLabels, m_valueContainer);
        comboBox->setEditText(m_rule->stringValue().value_or(QString()));
        comboBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        return comboBox;
    }
    }
    return nullptr;
}

QVariant AdvancedFindRuleRowView::valueOfControl() const
{
    switch (m_valueControlKind) {
    case AdvancedFindValueControl::none: return QVariant();
    case AdvancedFindValueControl::textField:
        return AdvancedFindRule::makeStringValue(static_cast<QLineEdit *>(m_valueControl)->text());
    case AdvancedFindValueControl::daysField:
        // An empty or unreadable field counts as 0 days, which finds nothing.
        return AdvancedFindRule::makeDayCountValue(static_cast<QLineEdit *>(m_valueControl)->text().toLongLong());
    case AdvancedFindValueControl::datePicker:
        return AdvancedFindRule::makeDateValue(static_cast<QDateTimeEdit *>(m_valueControl)->dateTime());
    case AdvancedFindValueControl::sexPopUp: {
        const auto *popUp = static_cast<QComboBox *>(m_valueControl);
        return AdvancedFindRule::makeSexValue(popUp->currentIndex() < 0 ? 0 : qint16(popUp->currentData().toInt()));
    }
    case AdvancedFindValueControl::tagComboBox:
        return AdvancedFindRule::makeStringValue(static_cast<QComboBox *>(m_valueControl)->currentText());
    }
    return QVariant();
}

void AdvancedFindRuleRowView::copyValueIntoRule()
{
    m_rule->value = valueOfControl();
}

} // namespace ovalis
