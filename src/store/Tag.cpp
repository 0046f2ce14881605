#include "store/Tag.h"

#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/MediaUuid.h"
#include "util/NotificationCenter.h"

namespace ovalis {

Tag::Tag(const EntityDescription &entity, int entityIndex)
    : ManagedObject(entity, entityIndex)
{
}

QList<Case *> Tag::cases() const
{
    return toManyAs<Case>(Cases);
}

void Tag::addToCases(Case *item) { addToMany(Cases, item); }
void Tag::removeFromCases(Case *item) { removeFromMany(Cases, item); }

bool Tag::hasCases() const
{
    return !toMany(Cases).isEmpty();
}

QList<Tag *> Tag::activeTags(ManagedObjectContext *context)
{
    QList<Tag *> result;
    if (!context)
        return result;
    for (ManagedObject *object : context->arrayOfObjects(entityName(), Predicate::fromFormat(QStringLiteral("active == YES"))))
        result.append(static_cast<Tag *>(object));
    return result;
}

Predicate Tag::casesTaggedWithThisAndActiveTagsPredicate(const QList<Tag *> &active) const
{
    const QString term = QStringLiteral("ANY tags.label == %@");
    const QString ownLabel = label();
    QList<Predicate> terms{Predicate::fromFormat(term, {ownLabel.isNull() ? QStringLiteral("") : ownLabel})};
    for (const Tag *tag : active) {
        const QString activeLabel = tag->label();
        terms.append(Predicate::fromFormat(term, {activeLabel.isNull() ? QStringLiteral("") : activeLabel}));
    }
    return Predicate::andPredicate(terms);
}

QList<Case *> Tag::casesTaggedWithThisAndActiveTags()
{
    ManagedObjectContext *context = managedObjectContext();
    if (!context)
        return {};
    QList<Case *> result;
    for (ManagedObject *object :
         context->arrayOfObjects(Case::entityName(), casesTaggedWithThisAndActiveTagsPredicate(activeTags(context))))
        result.append(static_cast<Case *>(object));
    return result;
}

QString Tag::countText(qint64 count)
{
    if (count <= 1000)
        return QString::number(count);
    return QString::number(count / 1000) + QStringLiteral("K");
}

QString Tag::numberOfCasesTaggedWithThisAndActiveTagsString()
{
    ManagedObjectContext *context = managedObjectContext();
    if (!context)
        return countText(0);
    // Counted, not fetched.
    const int count = context->executeCount(
        {Case::entityName(), casesTaggedWithThisAndActiveTagsPredicate(activeTags(context)), {}, std::nullopt, false});
    return countText(count >= 0 ? count : casesTaggedWithThisAndActiveTags().size());
}

QString Tag::description() const
{
    const QString text = label();
    return QStringLiteral("%1 - %2/%3")
        .arg(text.isNull() ? QStringLiteral("?") : text, active() ? QStringLiteral("1\u00B0 Active") : QString(),
             hasActiveCases() ? QStringLiteral("2\u00B0 Active") : QString());
}

QVariant Tag::derivedValue(const QString &key) const
{
    if (key == QLatin1String("hasCases"))
        return hasCases();
    if (key == QLatin1String("description"))
        return description();
    return {};
}

void Tag::awakeFromInsert()
{
    setUuid(MediaUuid::generate());
    NotificationCenter::defaultCenter().post(QStringLiteral("Updated Tag"));
}

} // namespace ovalis
