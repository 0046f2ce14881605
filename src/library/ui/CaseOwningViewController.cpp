#include "library/ui/CaseOwningViewController.h"

#include "library/ui/NoSelectionView.h"
#include "store/Case.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

CaseOwningViewController::CaseOwningViewController(QWidget *parent)
    : QWidget(parent)
{
    setNumberOfSelectedCases(0);
}

CaseOwningViewController::~CaseOwningViewController()
{
    disconnect(m_contextDestroyed);
    m_caseKeysTokens.clear();
}

void CaseOwningViewController::setNumberOfSelectedCases(int count)
{
    m_numberOfSelectedCases = count;
    const QString text = overlayText();
    if (text.isEmpty()) {
        if (m_noSelectionView)
            m_noSelectionView->hide();
    } else {
        NoSelectionView *overlay = noSelectionView();
        overlay->setText(text);
        overlay->raise();
        overlay->show();
    }
    selectionCountDidChange();
}

NoSelectionView *CaseOwningViewController::noSelectionView()
{
    if (!m_noSelectionView) {
        m_noSelectionView = new NoSelectionView(this);
        m_noSelectionView->hide();
    }
    return m_noSelectionView;
}

QString CaseOwningViewController::overlayText() const
{
    if (m_numberOfSelectedCases == 1)
        return QString();
    return m_numberOfSelectedCases == 0 ? QStringLiteral("No Selection") : QStringLiteral("Multiple Selection");
}

void CaseOwningViewController::setRepresentedObject(Case *item)
{
    if (item == m_case)
        return;
    Case *previous = m_case;
    m_caseKeysTokens.clear();
    disconnect(m_contextDestroyed);
    m_case = item;
    if (ManagedObjectContext *context = item ? item->managedObjectContext() : nullptr) {
        // The context owns its objects: once it goes, the case is gone too
        // and its observers with it.
        m_contextDestroyed = connect(context, &QObject::destroyed, this, [this] {
            m_case = nullptr;
            m_caseKeysTokens.clear();
            representedObjectDidChange(nullptr);
        });
    }
    startObservingCase();
    representedObjectDidChange(previous);
}

void CaseOwningViewController::observeCaseKeys(const QStringList &keys, std::function<void()> callback)
{
    m_caseObservations.append({keys, std::move(callback)});
    if (m_case)
        startObservingCase();
}

void CaseOwningViewController::startObservingCase()
{
    m_caseKeysTokens.clear();
    if (!m_case)
        return;
    Case *item = m_case;
    for (const CaseObservation &observation : std::as_const(m_caseObservations)) {
        for (const QString &key : observation.keys) {
            const int id = item->addObserver(key, observation.callback);
            m_caseKeysTokens.emplace_back([this, item, id] {
                if (item == m_case)
                    item->removeObserver(id);
            });
        }
    }
}

} // namespace ovalis
