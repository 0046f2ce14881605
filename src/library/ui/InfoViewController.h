#pragma once

#include <QStringList>

#include "library/TokenAutoSelectStatus.h"
#include "library/ui/CaseOwningViewController.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace ovalis {

class ClickableTextField;
class OptionalDateEdit;
class TagTokenField;
class TypingUndoCoalescer;

// The Info tab: the shown case's tags as tokens above its fields (patient
// identifier, sex, dates, summary, detail). Every edit goes straight into the
// case in its context, undoable through the context's undo manager; a burst
// of typing in one field is one undo step. The fields follow the case when
// it changes underneath (undo, another window, a merge). While not exactly
// one case is selected the fields are hidden and the token field disabled.
class InfoViewController : public CaseOwningViewController
{
    Q_OBJECT

public:
    explicit InfoViewController(QWidget *parent = nullptr);
    ~InfoViewController() override;

    TagTokenField *tokenField() const { return m_tokenField; }
    QWidget *contentStackView() const { return m_contentStackView; }
    QLineEdit *patientIDField() const { return m_patientIDField; }
    QComboBox *sexField() const { return m_sexField; }
    OptionalDateEdit *dateOfBirthField() const { return m_dateOfBirthField; }
    OptionalDateEdit *dateOfDiagnosisField() const { return m_dateOfDiagnosisField; }
    QLabel *ageField() const { return m_ageField; }
    // How many media the case has; a click asks for them (mediaFieldClicked).
    ClickableTextField *mediaField() const { return m_mediaField; }
    QLineEdit *summaryField() const { return m_summaryField; }
    QPlainTextEdit *detailField() const { return m_detailField; }
    QPushButton *linksButton() const { return m_linksButton; }

    TokenAutoSelectStatus autoSelectFirstSuggestion() const { return m_autoSelectFirstSuggestion; }

    // The context menu of the summary or detail field: the field's own menu,
    // with "Search All" and a separator on top while text is selected. The
    // caller owns it.
    QMenu *textMenu(QWidget *field);
    // A token's menu: "Filter to <label>". The caller owns it.
    QMenu *tokenMenu(const QString &label, QWidget *parent);

public slots:
    void goToLinks();
    // Posts "Search All" with the text as "SearchText".
    void searchSummarySelection(const QString &text);
    // Switches the first tag with this label on as a filter and posts
    // "Updated Tag Activity"; nothing when no tag has the label.
    void filterToTag(const QString &label);
    // Posts "Updated Case Detail".
    void detailChanged();
    // Shows these labels as the tokens (the library's answer to "Updated Tag").
    void showTagLabels(const QStringList &labels);
    // Brings the case's tags in line with the tokens now.
    void synchroniseTags();

signals:
    void goToLinksRequested();
    // The media field was clicked with these modifier keys held.
    void mediaFieldClicked(QWidget *field, Qt::KeyboardModifiers modifiers);
    // A tag's active flag was set; "Updated Tag Activity" follows at once.
    void tagActivityChanged();

protected:
    void selectionCountDidChange() override;
    void representedObjectDidChange(Case *previous) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildForm();
    void connectEdits();
    void refreshFromCase();
    void refreshLinksButton();
    // Warns of a date of birth in the future and of a diagnosis before birth.
    void flagImplausibleDates();
    void tokenTextEdited(const QString &text);
    void tokensChanged();
    void editingEnded();
    void writeDate(int attribute, const QDate &date);
    void showTextMenu(QWidget *field, const QPoint &position);

    TagTokenField *m_tokenField;
    QWidget *m_contentStackView;
    QLineEdit *m_patientIDField;
    QComboBox *m_sexField;
    OptionalDateEdit *m_dateOfBirthField;
    OptionalDateEdit *m_dateOfDiagnosisField;
    QLabel *m_ageField;
    ClickableTextField *m_mediaField;
    QLineEdit *m_summaryField;
    QPlainTextEdit *m_detailField;
    QPushButton *m_linksButton;
    TypingUndoCoalescer *m_typing;
    TokenAutoSelectStatus m_autoSelectFirstSuggestion = TokenAutoSelectStatus::Passive;
    bool m_synchronisationQueued = false;
    bool m_refreshing = false;
};

} // namespace ovalis
