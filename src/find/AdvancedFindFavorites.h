#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

#include "find/AdvancedFindCompoundType.h"
#include "find/AdvancedFindFavorite.h"

namespace ovalis {

class Settings;

// The list of favourites, stored as one JSON array under
// "AdvancedFindFavorites" in the settings. Not thread-safe; the window uses it
// on the main thread.
class AdvancedFindFavorites
{
public:
    static QString settingsKey() { return QStringLiteral("AdvancedFindFavorites"); }

    // The settings are not owned and must outlive this object.
    explicit AdvancedFindFavorites(Settings &settings);

    // Replaces the list with the stored one. No stored data, or data that is
    // not a JSON array of favourites, gives an empty list and leaves the
    // stored value as it is until the next save or removal.
    void load();
    const QList<AdvancedFindFavorite> &favorites() const { return m_favorites; }

    // Writes the list to the settings; false, with the stored value left as it
    // is, when it cannot be encoded.
    bool save();

    // Keeps the rule set under the label, trimmed of white space at both ends,
    // and stores the list. A favourite whose label equals it ignoring case (in
    // the user's locale) is replaced where it stands, keeping its id; otherwise
    // a new favourite with a fresh id is added and the list sorted by label.
    // Nothing, with no change, when the trimmed label is empty. The list
    // changes even when it cannot be stored (see save).
    std::optional<AdvancedFindFavorite> saveCurrent(const QString &label, const QList<AdvancedFindRuleSnapshot> &rules,
                                                    AdvancedFindCompoundType compoundType);
    // Removes the favourite with this id string and stores the list; false
    // when there is none.
    bool remove(const QString &idString);
    // The favourite with this id string (a menu item's represented object).
    std::optional<AdvancedFindFavorite> favorite(const QString &idString) const;

    // The position of the favourite whose label equals this one ignoring case
    // in the user's locale (the comparison saveCurrent replaces by); -1 for none.
    static qsizetype indexOfLabel(const QList<AdvancedFindFavorite> &favorites, const QString &label);

    // The stored form of a list: a JSON array.
    // Nothing when a rule holds a date that has no encoded form (an invalid one).
    static std::optional<QByteArray> encode(const QList<AdvancedFindFavorite> &favorites);
    // Nothing when the data is not a JSON array of favourites.
    static std::optional<QList<AdvancedFindFavorite>> decode(const QByteArray &data, QString *error = nullptr);

private:
    Settings &m_settings;
    QList<AdvancedFindFavorite> m_favorites;
};

} // namespace ovalis
