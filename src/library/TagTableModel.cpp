#include "library/TagTableModel.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QSet>
#include <optional>

#include "library/LibraryQuery.h"
#include "library/ValueTransformer.h"
#include "store/Case.h"
#include "store/FetchRequest.h"
#include "store/ManagedObjectContext.h"
#include "store/Tag.h"
#include "util/Log.h"

namespace ovalis {

TagTableModel::TagTableModel(QObject *parent)
    : ResultTableModel(parent)
{
    ValueTransformer::registerStandardTransformers();
    // A count depends on the tags' cases and on which tags are active. A
    // batch of the list (a tag or its cases changed) forgets every count; a
    // re-query (every search re-queries the tag list) only when the active
    // tags are others now.
    const auto forgetCounts = [this] {
        if (m_inBatch)
            m_countsStale = true;
        else
            m_countTexts.clear();
    };
    connect(this, &QAbstractItemModel::modelReset, this, [this] {
        if (!m_countTexts.isEmpty() && activeLabels() != m_countedActiveLabels)
            m_countTexts.clear();
    });
    connect(this, &QAbstractItemModel::rowsInserted, this, forgetCounts);
    connect(this, &QAbstractItemModel::rowsRemoved, this, forgetCounts);
    connect(this, &QAbstractItemModel::dataChanged, this, forgetCounts);
}

Tag *TagTableModel::tagAtRow(int row) const
{
    return static_cast<Tag *>(objectAtRow(row));
}

int TagTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

void TagTableModel::beginUpdates()
{
    ResultTableModel::beginUpdates();
    m_inBatch = true;
}

void TagTableModel::endUpdates()
{
    ResultTableModel::endUpdates();
    m_inBatch = false;
    if (!m_countsStale)
        return;
    m_countsStale = false;
    m_countTexts.clear();
    if (rowCount() > 0)
        emit dataChanged(index(0, CountColumn), index(rowCount() - 1, CountColumn), {Qt::DisplayRole});
}

void TagTableModel::refreshCountsForActiveTags()
{
    if (m_countTexts.isEmpty() || activeLabels() == m_countedActiveLabels)
        return;
    m_countTexts.clear();
    if (rowCount() > 0)
        emit dataChanged(index(0, CountColumn), index(rowCount() - 1, CountColumn), {Qt::DisplayRole});
}

QString TagTableModel::countText(Tag *tag) const
{
    if (!m_countTexts.contains(tag))
        countListedTags();
    return m_countTexts.value(tag, Tag::countText(0));
}

QStringList TagTableModel::activeLabels() const
{
    // Read from the listed tags rather than fetched: an active tag is always
    // listed (it has active cases, or no case carries every active tag and
    // then no tag is filtered out), and a fetch asked for while a background
    // import saves would wait for the end of its save.
    QStringList labels;
    for (const ManagedObject *object : rows()) {
        const auto *tag = static_cast<const Tag *>(object);
        if (!tag->active())
            continue;
        const QString label = tag->label();
        labels.append(label.isNull() ? QStringLiteral("") : label);
    }
    return labels;
}

void TagTableModel::countListedTags() const
{
    // What numberOfCasesTaggedWithThisAndActiveTagsString answers for each
    // tag, for every listed tag at once: a view may ask for every row (to
    // size a column), and one query per tag is far too slow for that. The
    // tags' cases are read from memory, where they stay once faulted in.
    const QList<ManagedObject *> &listed = rows();
    if (listed.isEmpty())
        return;
    ManagedObjectContext *context = listed.first()->managedObjectContext();
    if (!context)
        return;
    // The cases that carry every active tag; none active: every case counts.
    ++m_countingPasses;
    m_countTexts.clear();
    m_countedActiveLabels = activeLabels();
    // With active tags, a label counts the qualifying cases that carry it,
    // found from those (few) cases' own tags.
    std::optional<QHash<QString, int>> qualifyingCounts;
    if (!m_countedActiveLabels.isEmpty()) {
        qualifyingCounts.emplace();
        // Counted, not listed: the cases may come in any order.
        FetchRequest request{Case::entityName(), LibraryQuery::casePredicate(m_countedActiveLabels, {})};
        request.unordered = true;
        QString error;
        const QList<ManagedObject *> carriers = context->executeFetch(request, &error);
        if (!error.isEmpty())
            Log::error(LogArea::CoreData, QStringLiteral("Failed to count the cases of the active tags: ") + error);
        QSet<QString> labels;
        for (ManagedObject *item : carriers) {
            labels.clear();
            for (const Tag *tag : static_cast<Case *>(item)->tags())
                if (const QString label = tag->label(); !label.isNull())
                    labels.insert(label);
            for (const QString &label : std::as_const(labels))
                ++(*qualifyingCounts)[label];
        }
    }
    // A tag counts the cases carrying any tag with its label ("ANY tags.label").
    QHash<QString, QList<const Tag *>> tagsByLabel;
    if (!qualifyingCounts)
        for (ManagedObject *object : context->arrayOfObjects(Tag::entityName()))
            if (const QString label = static_cast<Tag *>(object)->label(); !label.isNull())
                tagsByLabel[label].append(static_cast<Tag *>(object));
    QHash<QString, QString> textsByLabel;
    for (ManagedObject *object : listed) {
        const QString label = static_cast<Tag *>(object)->label();
        const QString key = label.isNull() ? QStringLiteral("") : label;
        auto text = textsByLabel.constFind(key);
        if (text == textsByLabel.cend()) {
            qsizetype count = 0;
            if (qualifyingCounts) {
                count = qualifyingCounts->value(key);
            } else if (const QList<const Tag *> carriers = tagsByLabel.value(key); carriers.size() == 1) {
                count = carriers.first()->toMany(Tag::Cases).size();
            } else {
                QSet<const ManagedObject *> counted;
                for (const Tag *carrier : carriers)
                    for (const ManagedObject *item : carrier->toMany(Tag::Cases))
                        counted.insert(item);
                count = counted.size();
            }
            text = textsByLabel.insert(key, Tag::countText(int(count)));
        }
        m_countTexts.insert(static_cast<const Tag *>(object), text.value());
    }
}

namespace {

QPixmap checkMark(int size, const QColor &colour)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(colour, size / 7.0);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    QPainterPath tick;
    tick.moveTo(size * 0.18, size * 0.52);
    tick.lineTo(size * 0.42, size * 0.76);
    tick.lineTo(size * 0.84, size * 0.26);
    painter.drawPath(tick);
    return pixmap;
}

bool hasGraphicalApplication()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

QIcon TagTableModel::activeMark() const
{
    if (!hasGraphicalApplication())
        return {};
    const QColor normal = ValueTransformer::accentLabelColor();
    const QColor selected = QGuiApplication::palette().color(QPalette::Active, QPalette::HighlightedText);
    if (m_activeMark.isNull() || m_activeMarkColours[0] != normal.rgba() || m_activeMarkColours[1] != selected.rgba()) {
        QIcon icon;
        icon.addPixmap(checkMark(markSize, normal), QIcon::Normal);
        icon.addPixmap(checkMark(markSize, normal), QIcon::Active);
        icon.addPixmap(checkMark(markSize, selected), QIcon::Selected);
        m_activeMark = icon;
        m_activeMarkColours[0] = normal.rgba();
        m_activeMarkColours[1] = selected.rgba();
    }
    return m_activeMark;
}

QIcon TagTableModel::blankMark() const
{
    if (!hasGraphicalApplication())
        return {};
    if (m_blankMark.isNull()) {
        QPixmap blank(markSize, markSize);
        blank.fill(Qt::transparent);
        m_blankMark = QIcon(blank);
    }
    return m_blankMark;
}

QVariant TagTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.parent().isValid())
        return {};
    Tag *tag = tagAtRow(index.row());
    if (!tag)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == LabelColumn ? QVariant(tag->label()) : QVariant(countText(tag));
    case Qt::DecorationRole:
        if (index.column() != LabelColumn)
            return {};
        return tag->active() ? activeMark() : blankMark();
    case Qt::ForegroundRole:
        if (tag->active())
            return ValueTransformer::transform(QStringLiteral("BooleanToTagColorTransformer"), true);
        if (!tag->hasActiveCases())
            return ValueTransformer::transform(QStringLiteral("BooleanToTagColorTransformer"), false);
        return {};
    case Qt::FontRole:
        if (tag->active()) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == CountColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant TagTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case LabelColumn: return QStringLiteral("Tag");
    case CountColumn: return QStringLiteral("Cases");
    default: return QAbstractTableModel::headerData(section, orientation, role);
    }
}

} // namespace ovalis
