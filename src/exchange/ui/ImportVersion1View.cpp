#include "exchange/ui/ImportVersion1View.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

#include "exchange/ImportVersion1ViewModel.h"
#include "exchange/ui/ImportableURLDelegate.h"

namespace ovalis {

ImportVersion1View::ImportVersion1View(ImportVersion1ViewModel *model, QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_model(model)
{
    setObjectName(QStringLiteral("importVersion1Window"));
    setWindowTitle(QStringLiteral("Found Ovalis v1 Documents"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(700, 600);
    m_model->setParent(this);

    m_heading = new QLabel(m_model->heading(), this);
    QFont headingFont = m_heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.5);
    headingFont.setBold(true);
    m_heading->setFont(headingFont);
    auto *later = new QLabel(QStringLiteral("You can import documents later via the File menu"), this);

    m_list = new QListView(this);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new ImportableURLDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setMouseTracking(true);
    m_list->setUniformItemSizes(true);
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex &index) { m_model->toggleRow(index.row()); });

    m_unselectAll = new QPushButton(QStringLiteral("Unselect All"), this);
    m_selectAll = new QPushButton(QStringLiteral("Select All"), this);
    m_dismiss = new QPushButton(QStringLiteral("Dismiss"), this);
    m_default = new QPushButton(this);
    for (QPushButton *button : {m_unselectAll, m_selectAll, m_dismiss})
        button->setAutoDefault(false);
    m_default->setDefault(true);
    connect(m_unselectAll, &QPushButton::clicked, this, [this] { m_model->setAll(false); });
    connect(m_selectAll, &QPushButton::clicked, this, [this] { m_model->setAll(true); });
    connect(m_dismiss, &QPushButton::clicked, this, &ImportVersion1View::reject);
    connect(m_default, &QPushButton::clicked, this, &ImportVersion1View::accept);
    connect(m_model, &ImportVersion1ViewModel::scheduleChanged, this, &ImportVersion1View::updateDefaultButton);
    updateDefaultButton();

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_unselectAll);
    buttons->addWidget(m_selectAll);
    buttons->addStretch();
    buttons->addWidget(m_dismiss);
    buttons->addWidget(m_default);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(m_heading);
    layout->addWidget(later);
    layout->addSpacing(8);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    // done() closes without a close event, so closeEvent() refuses only
    // the closes asked for from outside.
    m_model->setWindowCloser([this] { done(QDialog::Accepted); });
}

void ImportVersion1View::updateDefaultButton()
{
    m_default->setText(m_model->defaultButtonTitle());
}

void ImportVersion1View::reject()
{
    m_model->dismiss();
}

void ImportVersion1View::accept()
{
    m_model->performDefaultAction();
}

void ImportVersion1View::closeEvent(QCloseEvent *event)
{
    // Only the buttons close the window; the frame has no close button, and
    // a close asked for by the window manager is refused.
    event->ignore();
}

} // namespace ovalis
