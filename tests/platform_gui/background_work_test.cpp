#include "platform/qt/background_work.h"

#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace ombri {
namespace {

// A failure in the work (memory running out while a picture is prepared, say) reaches the code
// that asked for the work, as it did when the work ran in place, and the window takes input
// again at once.
TEST(BackgroundWorkTest, WhatTheWorkThrowsIsThrownWhereItWasAskedFor)
{
    QWidget window;
    QLineEdit edit(&window);
    window.show();
    BackgroundWork work(&window);
    std::thread::id ranOn;
    EXPECT_THROW(work.run(QStringLiteral("Saving..."),
                          [&] {
                              ranOn = std::this_thread::get_id();
                              throw std::runtime_error("out of memory");
                          }),
                 std::runtime_error);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(work.running());
    QTest::keyClicks(&edit, QStringLiteral("yes"));
    EXPECT_EQ(edit.text(), QStringLiteral("yes"));
}

// Keys typed while the work runs are dropped, never delivered once it is over.
TEST(BackgroundWorkTest, KeysTypedWhileTheWorkRunsAreDropped)
{
    QWidget window;
    QLineEdit edit(&window);
    window.show();
    BackgroundWork work(&window);
    QTimer typing;
    typing.setSingleShot(true);
    QObject::connect(&typing, &QTimer::timeout, [&] { QTest::keyClicks(&edit, "lost"); });
    typing.start(0);
    work.run(QStringLiteral("Saving..."),
             [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); });
    QCoreApplication::processEvents();
    EXPECT_TRUE(edit.text().isEmpty());
    EXPECT_EQ(work.progressShownCount(), 0);
}

} // namespace
} // namespace ombri
