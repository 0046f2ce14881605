#pragma once

#include <QCoreApplication>
#include <QItemSelectionModel>
#include <memory>
#include <random>

#include "library/CaseTableModel.h"
#include "library/LibraryQuery.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/TagTableModel.h"
#include "support/StoreFixture.h"

namespace ovalis::test {

// A library with the library view's controller over its main context.
class LibraryViewFixture : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_controller = std::make_unique<LibraryWithTagsViewController>(context());
    }

    void TearDown() override
    {
        m_controller.reset();
        StoreFixture::TearDown();
    }

    LibraryWithTagsViewController &controller() { return *m_controller; }

    // Loads the view as the window does: set-up, then the first search.
    void load(const QList<SortDescriptor> &sort = {})
    {
        settle();
        m_controller->viewDidLoad(sort);
        m_controller->refreshFilters();
    }

    // Delivers pending store changes and queued calls.
    void settle()
    {
        context()->processPendingChanges();
        QCoreApplication::processEvents();
        context()->processPendingChanges();
    }

    Case *taggedCase(const QString &patientID, const QList<Tag *> &tags, const QString &summary = QString())
    {
        Case *item = newCase(patientID, summary);
        for (Tag *tag : tags)
            item->addToTags(tag);
        return item;
    }

    // Tags with awkward labels: a duplicate, none at all and an empty one.
    QList<Tag *> tagsWithAwkwardLabels(const QStringList &plainLabels)
    {
        QList<Tag *> tags;
        for (const QString &label : plainLabels + QStringList{plainLabels.first(), QString(), QStringLiteral("")})
            tags.append(newTag(label));
        return tags;
    }

    // Cases each carrying each tag with a chance of one in oneIn, saved.
    QList<Case *> savedRandomlyTaggedCases(int count, const QList<Tag *> &tags, std::mt19937 &random, unsigned oneIn)
    {
        QList<Case *> cases;
        for (int i = 0; i < count; ++i) {
            QList<Tag *> carried;
            for (Tag *tag : tags)
                if (random() % oneIn == 0)
                    carried.append(tag);
            cases.append(taggedCase(QStringLiteral("P%1").arg(i), carried));
        }
        context()->saveWithParent(false);
        return cases;
    }

    void search(const QString &text, LibraryQuery::SearchScope scope = LibraryQuery::SearchScope::All)
    {
        m_controller->setSearchPredicate(LibraryQuery::searchPredicate(text, scope));
        m_controller->refreshFilters();
    }

    static QStringList identifiers(const QList<Case *> &cases)
    {
        QStringList ids;
        for (const Case *item : cases)
            ids.append(item->patientID());
        return ids;
    }

    QStringList displayedIDs() const { return identifiers(m_controller->displayedCases()); }
    QStringList selectedIDs() const { return identifiers(m_controller->selectedCases()); }

    QStringList listedTagLabels() const
    {
        QStringList labels;
        for (int row = 0; row < m_controller->tagsModel()->rowCount(); ++row)
            labels.append(m_controller->tagsModel()->tagAtRow(row)->label());
        return labels;
    }

    int tagRow(const Tag *tag) const { return m_controller->tagsModel()->rowOfObject(tag); }

    void select(const QList<Case *> &cases)
    {
        QList<int> rows;
        for (Case *item : cases)
            rows.append(m_controller->rowOfCase(item));
        m_controller->selectCaseRows(rows);
    }

    std::unique_ptr<LibraryWithTagsViewController> m_controller;
};

} // namespace ovalis::test
