#include "library/ui/InfoViewController.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include "library/CaseTagTokens.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/TypingUndoCoalescer.h"
#include "library/ValueTransformer.h"
#include "library/ui/ClickableTextField.h"
#include "library/ui/OptionalDateEdit.h"
#include "library/ui/TagTokenField.h"
#include "store/Case.h"
#include "store/LibraryNotifications.h"
#include "store/Sex.h"
#include "util/LocalDate.h"
#include "util/NotificationCenter.h"

namespace ovalis {

namespace {

// An empty field stands for an absent value.
QVariant textValue(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QString sexTitle(Sex sex)
{
    return sex == Sex::unknown ? QStringLiteral("Unknown") : sexString(int(sex));
}

QLabel *caption(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

// Replaces the text only when it differs; a field being edited keeps its
// cursor where it was.
void showText(QLineEdit *field, const QString &text)
{
    if (field->text() == text)
        return;
    const int position = field->cursorPosition();
    field->setText(text);
    // Keeps the cursor of someone typing; otherwise a long text is shown
    // from its beginning, not scrolled to its end.
    field->setCursorPosition(field->hasFocus() ? qMin(position, int(text.size())) : 0);
}

void showText(QPlainTextEdit *field, const QString &text)
{
    if (field->toPlainText() == text)
        return;
    const int position = field->textCursor().position();
    field->setPlainText(text);
    if (!field->hasFocus())
        return;
    QTextCursor cursor = field->textCursor();
    cursor.setPosition(qMin(position, int(field->document()->characterCount()) - 1));
    field->setTextCursor(cursor);
}

QString mediaCountText(const Case *item)
{
    const qsizetype count = item ? item->media().size() : 0;
    if (count == 0)
        return QStringLiteral("No media");
    return count == 1 ? QStringLiteral("1 media file") : QStringLiteral("%1 media files").arg(count);
}

QDate localDate(const QDateTime &instant)
{
    return instant.isValid() ? LocalDate::of(instant) : QDate();
}

} // namespace

InfoViewController::InfoViewController(QWidget *parent)
    : CaseOwningViewController(parent)
    , m_tokenField(new TagTokenField)
    , m_contentStackView(new QWidget)
    , m_patientIDField(new QLineEdit)
    , m_sexField(new QComboBox)
    , m_dateOfBirthField(new OptionalDateEdit)
    , m_dateOfDiagnosisField(new OptionalDateEdit)
    , m_ageField(new QLabel)
    , m_mediaField(new ClickableTextField)
    , m_summaryField(new QLineEdit)
    , m_detailField(new QPlainTextEdit)
    , m_linksButton(new QPushButton(QStringLiteral("Show Links ›")))
    , m_typing(new TypingUndoCoalescer(this))
{
    setObjectName(QStringLiteral("infoView"));
    buildForm();
    connectEdits();
    observeCaseKeys({QStringLiteral("patientID"), QStringLiteral("sex"), QStringLiteral("dateOfBirth"),
                     QStringLiteral("dateOfDiagnosis"), QStringLiteral("summary"), QStringLiteral("detail"),
                     QStringLiteral("tags")},
                    [this] { refreshFromCase(); });
    observeCaseKeys({QStringLiteral("media")}, [this] { m_mediaField->setText(mediaCountText(currentCase())); });
    selectionCountDidChange();
    refreshFromCase();
}

InfoViewController::~InfoViewController() = default;

void InfoViewController::buildForm()
{
    m_tokenField->setObjectName(QStringLiteral("tokenField"));
    m_contentStackView->setObjectName(QStringLiteral("contentStackView"));
    m_patientIDField->setObjectName(QStringLiteral("patientIDField"));
    m_summaryField->setObjectName(QStringLiteral("summaryField"));
    m_detailField->setObjectName(QStringLiteral("detailField"));

    m_patientIDField->setPlaceholderText(QStringLiteral("NHI or other identifier"));
    for (Sex sex : allSexes())
        m_sexField->addItem(sexTitle(sex), int(sex));
    m_ageField->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_mediaField->setObjectName(QStringLiteral("mediaField"));
    m_mediaField->setToolTip(QStringLiteral("Click to preview the media (Ctrl+2); Ctrl+click to open the media window"));
    m_summaryField->setPlaceholderText(QStringLiteral("Diagnosis"));
    m_detailField->setPlaceholderText(QStringLiteral("Findings, references, web links…"));
    m_detailField->setTabChangesFocus(true);
    m_summaryField->setContextMenuPolicy(Qt::CustomContextMenu);
    m_detailField->setContextMenuPolicy(Qt::CustomContextMenu);
    // Reads as a link: accent text, no bevel, a pointing hand.
    m_linksButton->setFlat(true);
    m_linksButton->setCursor(Qt::PointingHandCursor);
    QPalette linkPalette = m_linksButton->palette();
    linkPalette.setColor(QPalette::ButtonText, ValueTransformer::accentColor());
    m_linksButton->setPalette(linkPalette);
    m_linksButton->setToolTip(QStringLiteral("Show the links found in this case (Ctrl+3)"));

    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->addRow(caption(QStringLiteral("Patient ID"), m_patientIDField), m_patientIDField);
    form->addRow(caption(QStringLiteral("Sex"), m_sexField), m_sexField);
    form->addRow(caption(QStringLiteral("Born"), m_dateOfBirthField), m_dateOfBirthField);
    form->addRow(caption(QStringLiteral("Diagnosed"), m_dateOfDiagnosisField), m_dateOfDiagnosisField);
    form->addRow(caption(QStringLiteral("Age"), m_ageField), m_ageField);
    form->addRow(caption(QStringLiteral("Media"), m_mediaField), m_mediaField);

    auto *content = new QVBoxLayout(m_contentStackView);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(6);
    content->addLayout(form);
    content->addSpacing(6);
    content->addWidget(caption(QStringLiteral("Summary"), m_summaryField));
    content->addWidget(m_summaryField);
    content->addSpacing(6);
    content->addWidget(caption(QStringLiteral("Detail"), m_detailField));
    content->addWidget(m_detailField, 1);
    auto *linksRow = new QHBoxLayout;
    linksRow->addStretch(1);
    linksRow->addWidget(m_linksButton);
    content->addLayout(linksRow);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 6);
    layout->setSpacing(6);
    layout->addWidget(caption(QStringLiteral("Tags"), m_tokenField));
    layout->addWidget(m_tokenField);
    layout->addSpacing(6);
    layout->addWidget(m_contentStackView, 1);
}

void InfoViewController::connectEdits()
{
    const auto writeText = [this](int attribute) {
        return [this, attribute](const QString &text) {
            if (Case *item = currentCase()) {
                m_typing->write(item, attribute, textValue(text));
                detailChanged();
            }
        };
    };
    connect(m_patientIDField, &QLineEdit::textEdited, this, writeText(Case::PatientID));
    connect(m_summaryField, &QLineEdit::textEdited, this, writeText(Case::Summary));
    connect(m_detailField, &QPlainTextEdit::textChanged, this, [this, write = writeText(Case::Detail)] {
        if (!m_refreshing)
            write(m_detailField->toPlainText());
    });
    connect(m_patientIDField, &QLineEdit::editingFinished, this, &InfoViewController::editingEnded);
    connect(m_summaryField, &QLineEdit::editingFinished, this, &InfoViewController::editingEnded);
    m_detailField->installEventFilter(this);

    connect(m_sexField, &QComboBox::activated, this, [this](int index) {
        if (Case *item = currentCase()) {
            m_typing->endBurst();
            item->setSex(m_sexField->itemData(index).toInt());
            detailChanged();
        }
    });
    connect(m_dateOfBirthField, &OptionalDateEdit::dateEdited, this,
            [this](const QDate &date) { writeDate(Case::DateOfBirth, date); });
    connect(m_dateOfDiagnosisField, &OptionalDateEdit::dateEdited, this,
            [this](const QDate &date) { writeDate(Case::DateOfDiagnosis, date); });

    connect(m_summaryField, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &position) { showTextMenu(m_summaryField, position); });
    connect(m_detailField, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &position) { showTextMenu(m_detailField, position); });
    connect(m_linksButton, &QPushButton::clicked, this, &InfoViewController::goToLinks);
    connect(m_mediaField, &ClickableTextField::clicked, this,
            [this](Qt::KeyboardModifiers modifiers) { emit mediaFieldClicked(m_mediaField, modifiers); });

    connect(m_tokenField, &TagTokenField::textEdited, this, &InfoViewController::tokenTextEdited);
    connect(m_tokenField, &TagTokenField::backwardDeletePressed, this,
            [this] { m_autoSelectFirstSuggestion = TokenAutoSelectStatus::Passive; });
    connect(m_tokenField, &TagTokenField::tokenAdded, this, &InfoViewController::tokensChanged);
    connect(m_tokenField, &TagTokenField::tokenRemoved, this, &InfoViewController::tokensChanged);
    connect(m_tokenField, &TagTokenField::editingFinished, this, &InfoViewController::synchroniseTags);
    m_tokenField->setTokenMenuProvider(
        [this](const QString &label, QWidget *parent) { return tokenMenu(label, parent); });
}

// --- Following the case --------------------------------------------------------

void InfoViewController::selectionCountDidChange()
{
    const bool single = numberOfSelectedCases() == 1;
    m_contentStackView->setVisible(single);
    m_tokenField->setEnabled(single);
}

void InfoViewController::representedObjectDidChange(Case *previous)
{
    // Work left in the fields belongs to the case they showed.
    m_typing->endBurst();
    if (previous)
        CaseTagTokens::synchroniseTags(previous, m_tokenField->tokens());
    m_tokenField->lineEdit()->clear();
    m_tokenField->hideCompletions();
    m_autoSelectFirstSuggestion = TokenAutoSelectStatus::Passive;
    m_dateOfBirthField->discardEdits();
    m_dateOfDiagnosisField->discardEdits();
    refreshFromCase();
    refreshLinksButton();
}

void InfoViewController::refreshFromCase()
{
    Case *item = currentCase();
    m_refreshing = true;
    showText(m_patientIDField, item ? item->patientID() : QString());
    QPalette palette = m_patientIDField->palette();
    const bool valid = !item || item->patientIDisValid();
    palette.setColor(QPalette::Text, valid ? this->palette().color(QPalette::Text) : ValueTransformer::systemRed());
    m_patientIDField->setPalette(palette);
    m_patientIDField->setToolTip(valid ? QString() : QStringLiteral("Not a valid NHI"));
    m_sexField->setCurrentIndex(item ? m_sexField->findData(item->sex()) : -1);
    m_dateOfBirthField->setDate(localDate(item ? item->dateOfBirth() : QDateTime()));
    m_dateOfDiagnosisField->setDate(localDate(item ? item->dateOfDiagnosis() : QDateTime()));
    flagImplausibleDates();
    const QString age = item ? item->ageString() : QString();
    m_ageField->setText(age.isEmpty() ? QStringLiteral("—") : age);
    m_mediaField->setText(mediaCountText(item));
    showText(m_summaryField, item ? item->summary() : QString());
    showText(m_detailField, item ? item->detail() : QString());
    m_tokenField->setTokens(LibraryWithTagsViewController::tagLabelsSorted(item));
    m_refreshing = false;
}

void InfoViewController::flagImplausibleDates()
{
    const Case *item = currentCase();
    const QDate born = localDate(item ? item->dateOfBirth() : QDateTime());
    const QDate diagnosed = localDate(item ? item->dateOfDiagnosis() : QDateTime());
    const bool bornInFuture = born.isValid() && born > QDate::currentDate();
    const bool diagnosedBeforeBirth = born.isValid() && diagnosed.isValid() && diagnosed < born;
    m_dateOfBirthField->setWarning(bornInFuture ? QStringLiteral("The date of birth is in the future.") : QString());
    m_dateOfDiagnosisField->setWarning(diagnosedBeforeBirth ? QStringLiteral("The diagnosis is dated before the birth.")
                                                            : QString());
}

void InfoViewController::refreshLinksButton()
{
    // hasLinks looks for the patient's other cases: asked when editing ends,
    // not on every keystroke.
    const Case *item = currentCase();
    m_linksButton->setVisible(item && item->hasLinks());
}

void InfoViewController::editingEnded()
{
    m_typing->endBurst();
    refreshLinksButton();
}

void InfoViewController::writeDate(int attribute, const QDate &date)
{
    Case *item = currentCase();
    if (!item)
        return;
    m_typing->endBurst();
    // A new day keeps the time of day the date had.
    const QDateTime previous = item->attribute(attribute).toDateTime();
    const QTime time = previous.isValid() ? previous.toLocalTime().time() : QTime(0, 0);
    item->setAttribute(attribute, date.isValid() ? QVariant(QDateTime(date, time)) : QVariant());
    detailChanged();
}

bool InfoViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_detailField && event->type() == QEvent::FocusOut)
        editingEnded();
    return CaseOwningViewController::eventFilter(watched, event);
}

// --- Tags -------------------------------------------------------------------------

void InfoViewController::tokenTextEdited(const QString &text)
{
    m_autoSelectFirstSuggestion = advanced(m_autoSelectFirstSuggestion);
    m_tokenField->showCompletions(CaseTagTokens::completions(currentCase(), text, m_tokenField->tokens()),
                                  m_autoSelectFirstSuggestion == TokenAutoSelectStatus::Active);
}

void InfoViewController::tokensChanged()
{
    // Once the field has finished with the key that changed it.
    if (m_synchronisationQueued)
        return;
    m_synchronisationQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_synchronisationQueued = false;
            synchroniseTags();
        },
        Qt::QueuedConnection);
}

void InfoViewController::synchroniseTags()
{
    CaseTagTokens::synchroniseTags(currentCase(), m_tokenField->tokens());
}

void InfoViewController::showTagLabels(const QStringList &labels)
{
    m_tokenField->setTokens(labels);
}

QMenu *InfoViewController::tokenMenu(const QString &label, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    QAction *filter = menu->addAction(QStringLiteral("Filter to %1").arg(label));
    filter->setData(label);
    connect(filter, &QAction::triggered, this, [this, label] { filterToTag(label); });
    return menu;
}

void InfoViewController::filterToTag(const QString &label)
{
    Case *item = currentCase();
    if (!item || !CaseTagTokens::activateTag(item->managedObjectContext(), label))
        return;
    emit tagActivityChanged();
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity);
}

// --- Commands ---------------------------------------------------------------------

void InfoViewController::goToLinks()
{
    emit goToLinksRequested();
}

void InfoViewController::detailChanged()
{
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedCaseDetail);
}

void InfoViewController::searchSummarySelection(const QString &text)
{
    NotificationCenter::defaultCenter().post(LibraryNotifications::searchAll, nullptr, {{QStringLiteral("SearchText"), text}});
}

QMenu *InfoViewController::textMenu(QWidget *field)
{
    QMenu *menu = nullptr;
    QString selection;
    if (auto *line = qobject_cast<QLineEdit *>(field)) {
        menu = line->createStandardContextMenu();
        selection = line->selectedText();
    } else if (auto *text = qobject_cast<QPlainTextEdit *>(field)) {
        menu = text->createStandardContextMenu();
        selection = text->textCursor().selectedText();
        selection.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        selection.replace(QChar::LineSeparator, QLatin1Char('\n'));
    }
    if (!menu || selection.isEmpty())
        return menu;
    QAction *first = menu->actions().value(0);
    auto *search = new QAction(QStringLiteral("Search All"), menu);
    search->setData(selection);
    connect(search, &QAction::triggered, this, [this, selection] { searchSummarySelection(selection); });
    menu->insertAction(first, search);
    menu->insertSeparator(first);
    return menu;
}

void InfoViewController::showTextMenu(QWidget *field, const QPoint &position)
{
    QMenu *menu = textMenu(field);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QWidget *anchor = qobject_cast<QPlainTextEdit *>(field) ? static_cast<QPlainTextEdit *>(field)->viewport() : field;
    menu->popup(anchor->mapToGlobal(position));
}

} // namespace ovalis
