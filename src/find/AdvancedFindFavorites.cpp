#include "find/AdvancedFindFavorites.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <numeric>

#include "find/JsonFields.h"
#include "store/SortDescriptor.h"
#include "util/Settings.h"

namespace ovalis {

AdvancedFindFavorites::AdvancedFindFavorites(Settings &settings)
    : m_settings(settings)
{
}

void AdvancedFindFavorites::load()
{
    const QByteArray data = m_settings.dataValue(settingsKey());
    m_favorites = data.isEmpty() ? QList<AdvancedFindFavorite>() : decode(data).value_or(QList<AdvancedFindFavorite>());
}

bool AdvancedFindFavorites::save()
{
    const std::optional<QByteArray> data = encode(m_favorites);
    if (!data)
        return false;
    m_settings.setValue(settingsKey(), *data);
    return true;
}

std::optional<AdvancedFindFavorite> AdvancedFindFavorites::saveCurrent(const QString &label,
                                                                       const QList<AdvancedFindRuleSnapshot> &rules,
                                                                       AdvancedFindCompoundType compoundType)
{
    const QString trimmed = label.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    AdvancedFindFavorite favorite{QUuid(), trimmed, int(compoundType), rules};
    const qsizetype same = indexOfLabel(m_favorites, trimmed);
    if (same >= 0) {
        favorite.id = m_favorites[same].id;
        m_favorites[same] = favorite;
    } else {
        favorite.id = QUuid::createUuid();
        m_favorites << favorite;
        QList<QCollatorSortKey> keys;
        for (const AdvancedFindFavorite &stored : std::as_const(m_favorites))
            keys << localizedCaseInsensitiveSortKey(stored.label);
        QList<qsizetype> order(m_favorites.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) { return keys[a].compare(keys[b]) < 0; });
        QList<AdvancedFindFavorite> sorted;
        for (qsizetype i : order)
            sorted << m_favorites[i];
        m_favorites = sorted;
    }
    save();
    return favorite;
}

bool AdvancedFindFavorites::remove(const QString &idString)
{
    const qsizetype removed = m_favorites.removeIf([&](const AdvancedFindFavorite &f) { return f.idString() == idString; });
    if (removed == 0)
        return false;
    save();
    return true;
}

qsizetype AdvancedFindFavorites::indexOfLabel(const QList<AdvancedFindFavorite> &favorites, const QString &label)
{
    const QCollatorSortKey key = localizedCaseInsensitiveSortKey(label);
    for (qsizetype i = 0; i < favorites.size(); ++i)
        if (localizedCaseInsensitiveSortKey(favorites[i].label).compare(key) == 0)
            return i;
    return -1;
}

std::optional<AdvancedFindFavorite> AdvancedFindFavorites::favorite(const QString &idString) const
{
    for (const AdvancedFindFavorite &f : m_favorites)
        if (f.idString() == idString)
            return f;
    return std::nullopt;
}

std::optional<QByteArray> AdvancedFindFavorites::encode(const QList<AdvancedFindFavorite> &favorites)
{
    QByteArray data = "[";
    for (const AdvancedFindFavorite &favorite : favorites) {
        for (const AdvancedFindRuleSnapshot &rule : favorite.rules)
            if (rule.dateValue && !rule.dateValue->isValid())
                return std::nullopt;
        if (data.size() > 1)
            data += ',';
        data += favorite.toOrderedJson();
    }
    return data + ']';
}

std::optional<QList<AdvancedFindFavorite>> AdvancedFindFavorites::decode(const QByteArray &data, QString *error)
{
    const std::optional<QJsonArray> array = JsonFields::parseArray(data, error);
    if (!array)
        return std::nullopt;
    return JsonFields::decodeObjects<AdvancedFindFavorite>(*array, QStringLiteral("favourite"),
                                                           &AdvancedFindFavorite::fromJson, error);
}

} // namespace ovalis
