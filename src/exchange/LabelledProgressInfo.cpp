#include "exchange/LabelledProgressInfo.h"

#include "util/NotificationCenter.h"

namespace ovalis::LabelledProgressInfo {

QVariantMap userInfo(int countValue, int totalValue, const std::optional<QString> &labelValue)
{
    QVariantMap info{{count, countValue}, {total, totalValue}};
    if (labelValue)
        info.insert(label, *labelValue);
    return info;
}

void post(int countValue, int totalValue, const std::optional<QString> &labelValue)
{
    NotificationCenter::defaultCenter().post(notificationName, nullptr, userInfo(countValue, totalValue, labelValue));
}

void postEnd()
{
    post(0, 0);
}

} // namespace ovalis::LabelledProgressInfo
