#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "util/Log.h"

// Every test executable runs inside a Qt application so that queued calls,
// timers and the main-thread notification delivery behave as in the program.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    ::testing::InitGoogleMock(&argc, argv);
    QGuiApplication app(argc, argv);
    ovalis::Log::install();
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    return RUN_ALL_TESTS();
}
