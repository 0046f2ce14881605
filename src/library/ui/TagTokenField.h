#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

class QLineEdit;
class QListWidget;
class QMenu;

namespace ovalis {

// A field of tag labels shown as chips, followed by the text being typed.
// Return or Tab turns the typed text into a token (labels may contain
// spaces); Backspace in empty text removes the last token, or the chip
// selected by a click. Focus leaving the field turns leftover text into a
// token too. The field does not decide what to complete: its owner answers
// textEdited with showCompletions(), and the list below the field is then
// driven with Up, Down, Return, Tab, Escape or a click.
class TagTokenField : public QWidget
{
    Q_OBJECT

public:
    // Makes the menu of a token's chip; the field deletes it after use.
    using TokenMenuProvider = std::function<QMenu *(const QString &label, QWidget *parent)>;

    explicit TagTokenField(QWidget *parent = nullptr);
    ~TagTokenField() override;

    QStringList tokens() const { return m_tokens; }
    // Replaces the tokens without signals; the typed text stays.
    void setTokens(const QStringList &tokens);
    QString text() const;
    QLineEdit *lineEdit() const { return m_lineEdit; }

    // Lists completions under the field, the first one selected when asked;
    // an empty list hides the list.
    void showCompletions(const QStringList &completions, bool selectFirst);
    void hideCompletions();
    bool completionsVisible() const;
    QStringList completions() const;
    // The selected completion's row, -1 when none is selected.
    int selectedCompletion() const;
    QListWidget *completionList() const { return m_completionList; }

    void setTokenMenuProvider(TokenMenuProvider provider) { m_tokenMenuProvider = std::move(provider); }
    // The chip of the token at index in the field's coordinates.
    QRect tokenRect(int index) const;
    int selectedToken() const { return m_selectedToken; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The typed text changed by the user.
    void textEdited(const QString &text);
    // Backspace was pressed, before anything is deleted.
    void backwardDeletePressed();
    void tokenAdded(const QString &label);
    void tokenRemoved(const QString &label);
    // The keyboard focus left the field (after any leftover text became a token).
    void editingFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    struct Layout {
        QList<QRect> chips;
        QRect lineEdit;
        int height = 0;
    };

    Layout layoutFor(int width) const;
    void relayout();
    bool handleKey(QKeyEvent *event);
    // Makes a token of the selected completion, else of the typed text;
    // false when there was nothing to commit.
    bool commit();
    void addToken(const QString &label);
    void removeToken(int index);
    void moveCompletionSelection(int step);
    void placeCompletionList();
    int tokenAt(const QPoint &position) const;
    int chipHeight() const;
    int lineHeight() const;
    int completionRowHeight() const;

    QStringList m_tokens;
    QLineEdit *m_lineEdit;           // Owned (child).
    QListWidget *m_completionList;   // Owned (child window).
    TokenMenuProvider m_tokenMenuProvider;
    int m_selectedToken = -1;
    Layout m_layout;
};

} // namespace ovalis
