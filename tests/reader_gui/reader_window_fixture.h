#pragma once

// The reader's whole program on the offscreen screen, started as the user starts it, in a
// folder of three plain pictures (a.bmp, b.bmp, c.bmp).

#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "reader/ui/reader_app.h"
#include "reader/ui/reader_window.h"
#include "support/status.h"
#include "support/test_support.h"

#include <QApplication>
#include <QSettings>
#include <QStringList>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

namespace ombri::reader {

inline Dib solidPicture(int width, int height, uint8_t value)
{
    Dib dib = Dib::create(width, height, 24);
    auto layout = dibGetLayout(dib);
    std::memset(dib.data() + layout->pixelOffset, value, layout->pixelBytes);
    return dib;
}

class ReaderFrameTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        // The recent-file list is stored per user: keep it in a folder of the test's own, apart
        // from the pictures, since the list follows what appears in the folder it shows.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(settingsDir.path()));
        m_oldDirectory = std::filesystem::current_path();
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
            ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file(name), solidPicture(40, 30, 200))));
        }
    }
    void TearDown() override
    {
        app.reset();
        std::filesystem::current_path(m_oldDirectory);
    }
    ReaderWindow& start(QStringList arguments = {})
    {
        app = std::make_unique<ReaderApp>(&prompt);
        arguments.prepend(QStringLiteral("ombri-reader"));
        EXPECT_TRUE(app->initInstance(arguments));
        QApplication::processEvents();
        return *app->window();
    }
    QString file(const char* name) const { return QString::fromStdString(dir.file(name)); }

    test::TempDir dir;
    test::TempDir settingsDir;
    ScriptedPrompt prompt;
    std::unique_ptr<ReaderApp> app;
    std::filesystem::path m_oldDirectory;
};

} // namespace ombri::reader
