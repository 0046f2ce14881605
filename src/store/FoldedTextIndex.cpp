#include "store/FoldedTextIndex.h"

#include <algorithm>
#include <cstring>
#include <string.h>

namespace ovalis {

FoldedTextIndex::FoldedTextIndex(QList<int> attributes)
    : m_attributes(std::move(attributes))
    , m_columns(size_t(m_attributes.size()))
{
}

void FoldedTextIndex::append(qint64 key, const QList<QByteArray> &texts)
{
    m_keys.push_back(key);
    for (size_t c = 0; c < m_columns.size(); ++c) {
        Column &column = m_columns[c];
        column.starts.push_back(quint32(column.text.size()));
        column.text.append(texts.value(qsizetype(c)));
        column.text.append('\0');
    }
}

void FoldedTextIndex::update(qint64 key, const QList<QByteArray> &texts)
{
    m_overlay.insert(key, texts);
}

void FoldedTextIndex::remove(qint64 key)
{
    m_overlay.insert(key, std::nullopt);
}

QVector<qint64> FoldedTextIndex::keysContaining(const QList<int> &attributes, const QByteArray &needle) const
{
    QVector<qint64> result;
    if (needle.isEmpty() || needle.contains('\0'))
        return result;
    std::vector<qsizetype> columns;
    for (int attribute : attributes)
        if (const qsizetype c = m_attributes.indexOf(attribute); c >= 0)
            columns.push_back(c);

    std::vector<bool> found(m_keys.size(), false);
    for (qsizetype c : columns) {
        const Column &column = m_columns[size_t(c)];
        const char *begin = column.text.constData();
        const char *end = begin + column.text.size();
        const char *from = begin;
        while (from < end) {
            const void *hit = memmem(from, size_t(end - from), needle.constData(), size_t(needle.size()));
            if (!hit)
                break;
            const quint32 offset = quint32(static_cast<const char *>(hit) - begin);
            // The record holding the hit; the search goes on after its end.
            const auto next = std::upper_bound(column.starts.cbegin(), column.starts.cend(), offset);
            const size_t record = size_t(next - column.starts.cbegin()) - 1;
            found[record] = true;
            from = next == column.starts.cend() ? end : begin + *next;
        }
    }

    for (size_t record = 0; record < m_keys.size(); ++record)
        if (found[record] && !m_overlay.contains(m_keys[record]))
            result.append(m_keys[record]);
    if (m_overlay.isEmpty())
        return result;
    const qsizetype fromIndex = result.size();
    for (auto it = m_overlay.cbegin(); it != m_overlay.cend(); ++it) {
        if (!it.value())
            continue;
        for (qsizetype c : columns)
            if (it.value()->value(c).contains(needle)) {
                result.append(it.key());
                break;
            }
    }
    std::sort(result.begin() + fromIndex, result.end());
    std::inplace_merge(result.begin(), result.begin() + fromIndex, result.end());
    return result;
}

} // namespace ovalis
