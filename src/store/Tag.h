#pragma once

#include <QList>

#include "store/ManagedObject.h"
#include "store/Predicate.h"

namespace ovalis {

class Case;

// A label that groups cases; also a filter of the library when active.
class Tag : public ManagedObject
{
public:
    enum Attribute { Label, Active, HasActiveCases, Uuid };
    enum Relationship { Cases };

    Tag(const EntityDescription &entity, int entityIndex);
    static QString entityName() { return QStringLiteral("Tag"); }

    // The same tag on every machine of a mirrored library; made when the tag is.
    QString uuid() const { return stringAttribute(Uuid); }
    void setUuid(const QString &value) { setAttribute(Uuid, value); }
    QString label() const { return stringAttribute(Label); }
    void setLabel(const QString &value) { setAttribute(Label, value); }
    bool active() const { return attribute(Active).toBool(); }
    void setActive(bool value) { setAttribute(Active, value); }
    bool hasActiveCases() const { return attribute(HasActiveCases).toBool(); }
    void setHasActiveCases(bool value) { setAttribute(HasActiveCases, value); }

    QList<Case *> cases() const;
    void addToCases(Case *item);
    void removeFromCases(Case *item);

    bool hasCases() const;
    // The cases carrying this tag and every active tag.
    QList<Case *> casesTaggedWithThisAndActiveTags();
    // "%ld%@": the count, or the count in thousands with "K" above 1000.
    QString numberOfCasesTaggedWithThisAndActiveTagsString();
    QString description() const override;
    QVariant derivedValue(const QString &key) const override;

    // Every tag whose active flag is set, in fetch order.
    static QList<Tag *> activeTags(ManagedObjectContext *context);
    // The count text for a number of cases.
    static QString countText(qint64 count);

protected:
    void awakeFromInsert() override;

private:
    Predicate casesTaggedWithThisAndActiveTagsPredicate(const QList<Tag *> &activeTags) const;
};

} // namespace ovalis
