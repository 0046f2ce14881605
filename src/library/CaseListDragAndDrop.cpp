#include "library/CaseListDragAndDrop.h"

#include <QMimeData>
#include <algorithm>

#include "media/MediaDragAndDrop.h"
#include "util/KeyedArchive.h"
#include "util/Log.h"

namespace ovalis {

QString CaseListDragAndDrop::caseDragType()
{
    return QStringLiteral("nz.org.vantor.ovalis.CaseDrag");
}

QString CaseListDragAndDrop::doiDragType()
{
    return QStringLiteral("nz.vantor.scrolla.DOIDrag");
}

QMimeData *CaseListDragAndDrop::mimeDataForRows(const IndexSet &rows)
{
    Log::info(LogArea::UI, QStringLiteral("Write rows at ") + rows.description());
    QString error;
    const std::optional<QByteArray> archive = KeyedArchive::archive(QVariant::fromValue(rows), &error);
    if (!archive) {
        Log::error(LogArea::UI, QStringLiteral("Unable to archive row index data for drag: ") + error);
        return nullptr;
    }
    auto *data = new QMimeData;
    data->setData(caseDragType(), *archive);
    return data;
}

std::optional<IndexSet> CaseListDragAndDrop::draggedRows(const QMimeData *data)
{
    if (!data || !data->hasFormat(caseDragType()))
        return std::nullopt;
    const std::optional<QVariant> value = KeyedArchive::unarchive(data->data(caseDragType()));
    if (!value || value->typeId() != qMetaTypeId<IndexSet>())
        return std::nullopt;
    return value->value<IndexSet>();
}

std::optional<QString> CaseListDragAndDrop::droppedDOI(const QMimeData *data)
{
    if (!data || !data->hasFormat(doiDragType()))
        return std::nullopt;
    return QString::fromUtf8(data->data(doiDragType()));
}

QList<QUrl> CaseListDragAndDrop::droppedFiles(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    const QList<QUrl> urls = data->urls();
    if (!std::all_of(urls.cbegin(), urls.cend(), [](const QUrl &url) { return url.isLocalFile(); }))
        return {};
    return urls;
}

CaseListDragAndDrop::DropPosition CaseListDragAndDrop::positionInRow(int y, int top, int height)
{
    if (height <= 0 || y < top || y >= top + height)
        return DropPosition::OutsideRows;
    // The margin the item views use for their drop indicator.
    const int margin = std::clamp(int(height / 5.5), 2, 12);
    if (y - top < margin || top + height - 1 - y < margin)
        return DropPosition::BetweenRows;
    return DropPosition::OnRow;
}

CaseListDragAndDrop::DropOperation CaseListDragAndDrop::validateTagListDrop(const QMimeData *data, DropPosition position)
{
    if (position != DropPosition::OnRow || !data || !data->hasFormat(caseDragType()))
        return DropOperation::None;
    return DropOperation::Copy;
}

CaseListDragAndDrop::DropOperation CaseListDragAndDrop::validateCaseListDrop(const QMimeData *data, DropPosition position)
{
    if (!data)
        return DropOperation::None;
    // DICOM goes to the import's review, which makes cases or adds to the one dropped on.
    if (!MediaDragAndDrop::dicomDropPaths(data).isEmpty())
        return DropOperation::Copy;
    if (position != DropPosition::OnRow)
        return DropOperation::None;
    if (data->hasFormat(doiDragType()))
        return DropOperation::Link;
    if (data->hasUrls()) {
        const QList<QUrl> files = droppedFiles(data);
        const bool accepted = !files.isEmpty() && std::all_of(files.cbegin(), files.cend(), MediaDragAndDrop::isAcceptedDropFile);
        return accepted ? DropOperation::Copy : DropOperation::None;
    }
    if (const std::optional<IndexSet> rows = draggedRows(data); rows && rows->count() == 1)
        return DropOperation::Any;
    return DropOperation::None;
}

} // namespace ovalis
