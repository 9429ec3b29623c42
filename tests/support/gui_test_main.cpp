#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

// Widget tests need an application object; without a display they use the offscreen platform.
// The programs keep choices and thumbnails in the user's folders: the tests get folders of their
// own, so that neither the user's choices steer a test nor a test leaves anything behind.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir home;
    if (home.isValid()) {
        setenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit().constData(), 1);
        setenv("XDG_CACHE_HOME", (home.path() + "/cache").toLocal8Bit().constData(), 1);
    }
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
