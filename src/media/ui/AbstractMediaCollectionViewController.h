#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include "util/ObserverToken.h"

class QListView;

namespace ovalis {

class Case;
class Media;

// A thumbnail grid of one case's media, in display order. Reloads whenever
// "Updated Media" is posted while it is visible. This base is read-only: the
// detail side's preview shows it as it is.
class AbstractMediaCollectionViewController : public QWidget
{
    Q_OBJECT

public:
    explicit AbstractMediaCollectionViewController(QWidget *parent = nullptr);
    ~AbstractMediaCollectionViewController() override;

    QListView *collectionView() const;
    Case *currentCase() const;
    // Sets the case and reloads the grid.
    void setCurrentCase(Case *item);
    // The case's sortedMedia at the last reload; empty without a case.
    const QList<Media *> &mediaArray() const;

public slots:
    virtual void reloadMedia();
};

} // namespace ovalis
