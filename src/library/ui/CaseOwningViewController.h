#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

#include "util/ObserverToken.h"

namespace ovalis {

class Case;
class NoSelectionView;

// A tab of the detail side that shows one case. While not exactly one case
// is selected in the case list, a NoSelectionView lies over the whole tab
// saying "No Selection" or "Multiple Selection"; a new view starts with none
// selected. The case shown is the represented object; subclasses watch its
// keys through observeCaseKeys and are told when it changes.
class CaseOwningViewController : public QWidget
{
    Q_OBJECT

public:
    explicit CaseOwningViewController(QWidget *parent = nullptr);
    ~CaseOwningViewController() override;

    int numberOfSelectedCases() const { return m_numberOfSelectedCases; }
    // Stores the count and lays the NoSelectionView over the tab, or takes it away.
    void setNumberOfSelectedCases(int count);
    // Created on first use.
    NoSelectionView *noSelectionView();
    // "No Selection", "Multiple Selection", or empty while exactly one case is selected.
    QString overlayText() const;

    Case *currentCase() const { return m_case; }
    // Shows item (nullptr: nothing). The case must belong to a context that
    // outlives it here or is destroyed first (then the view forgets it).
    void setRepresentedObject(Case *item);

protected:
    // After every setNumberOfSelectedCases.
    virtual void selectionCountDidChange() {}
    // The represented object is now currentCase(); previous is nullptr when
    // there was none or its context has gone.
    virtual void representedObjectDidChange(Case *previous) = 0;
    // Runs callback whenever one of keys (stored or derived) of the current
    // case changes, on the case's thread. Set up once; follows the case.
    void observeCaseKeys(const QStringList &keys, std::function<void()> callback);

private:
    struct CaseObservation {
        QStringList keys;
        std::function<void()> callback;
    };

    void startObservingCase();

    int m_numberOfSelectedCases = 0;
    NoSelectionView *m_noSelectionView = nullptr; // Owned (child).
    Case *m_case = nullptr;                       // Not owned.
    QList<CaseObservation> m_caseObservations;
    std::vector<ObserverToken> m_caseKeysTokens;
    QMetaObject::Connection m_contextDestroyed;
};

} // namespace ovalis
