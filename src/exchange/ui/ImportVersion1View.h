#pragma once

#include <QDialog>

class QLabel;
class QListView;
class QPushButton;

namespace ovalis {

class ImportVersion1ViewModel;

// The "Found Ovalis v1 Documents" window: 700 × 600, not resizable and
// without close or minimise buttons; its buttons close it through the model.
// Shown without blocking the library window; deletes itself once closed.
class ImportVersion1View : public QDialog
{
    Q_OBJECT

public:
    // Takes ownership of model and becomes the window the model closes.
    explicit ImportVersion1View(ImportVersion1ViewModel *model, QWidget *parent = nullptr);

    ImportVersion1ViewModel *model() const { return m_model; }
    QLabel *heading() const { return m_heading; }
    QListView *listView() const { return m_list; }
    QPushButton *unselectAllButton() const { return m_unselectAll; }
    QPushButton *selectAllButton() const { return m_selectAll; }
    QPushButton *dismissButton() const { return m_dismiss; }
    QPushButton *defaultButton() const { return m_default; }

public slots:
    // Escape: the same as Dismiss.
    void reject() override;
    void accept() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void updateDefaultButton();

    ImportVersion1ViewModel *m_model; // Owned (child).
    QLabel *m_heading;
    QListView *m_list;
    QPushButton *m_unselectAll;
    QPushButton *m_selectAll;
    QPushButton *m_dismiss;
    QPushButton *m_default;
};

} // namespace ovalis
