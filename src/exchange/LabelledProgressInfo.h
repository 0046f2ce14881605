#pragma once

#include <QString>
#include <QVariantMap>
#include <optional>

namespace ovalis {

// The progress channel of long imports and exports: the notification
// "Update Labelled Progress" (no sender) whose user info holds these keys.
// The progress display sets its bar from count and total, shows the label when
// one is present and hides itself when count is 0.
namespace LabelledProgressInfo {
inline const QString notificationName = QStringLiteral("Update Labelled Progress");
inline const QString count = QStringLiteral("count");
inline const QString total = QStringLiteral("total");
inline const QString label = QStringLiteral("label");

QVariantMap userInfo(int count, int total, const std::optional<QString> &label = std::nullopt);

// Posts the notification on the default centre from whatever thread calls.
void post(int count, int total, const std::optional<QString> &label = std::nullopt);

// Ends a progress display: count 0, total 0, no label.
void postEnd();
} // namespace LabelledProgressInfo

} // namespace ovalis
