#include "library/TagTableModel.h"

#include <QFont>

#include "library/ValueTransformer.h"
#include "store/Tag.h"

namespace ovalis {

TagTableModel::TagTableModel(QObject *parent)
    : ResultTableModel(parent)
{
    ValueTransformer::registerStandardTransformers();
    // A count depends on the cases and on which tags are active; any change
    // of the list may have changed it.
    const auto forgetCounts = [this] {
        m_countTexts.clear();
        m_activeTags.reset();
    };
    connect(this, &QAbstractItemModel::modelAboutToBeReset, this, forgetCounts);
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

QString TagTableModel::countText(Tag *tag) const
{
    auto it = m_countTexts.constFind(tag);
    if (it == m_countTexts.cend()) {
        if (!m_activeTags)
            m_activeTags = Tag::activeTags(tag->managedObjectContext());
        it = m_countTexts.insert(tag, tag->numberOfCasesTaggedWithThisAndActiveTagsString(*m_activeTags));
    }
    return it.value();
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
