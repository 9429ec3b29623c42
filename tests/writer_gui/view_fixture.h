#pragma once

#include "core/dib.h"
#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "support/status.h"
#include "support/test_support.h"
#include "support/view_events.h"
#include "writer/ui/writer_view.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <utility>

namespace ombri::writer {
using namespace ombri::test;

// A picture of one colour, with an optional pure-black rectangle [x0, x1) x [y0, y1) (rows
// counted from the top).
inline Dib makeSolidPicture(int width, int height, uint16_t bitCount, uint8_t value,
                            QRect black = QRect())
{
    Dib dib = Dib::create(width, height, bitCount);
    auto layout = dibGetLayout(dib);
    const size_t step = bitCount / 8;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = dib.data() + layout->pixelOffset + (height - 1 - y) * layout->stride;
        for (int x = 0; x < width; ++x)
            std::memset(row + x * step, black.contains(x, y) ? 0 : value, step);
    }
    return dib;
}

// A writer document and its canvas on the offscreen screen, the client area exactly the size
// asked for (no frame; scroll bars appear only for pictures larger than the view).
class ViewFixture : public ::testing::Test {
  protected:
    void SetUp() override
    {
        doc = std::make_unique<SavableWriterDocument>(prompt);
        view = std::make_unique<WriterView>(*doc);
        view->resize(400, 400);
        view->show();
        QApplication::processEvents();
    }

    void TearDown() override
    {
        view.reset();
        doc.reset();
    }

    // A file dropped on the canvas; each opened picture is a new one, even under the same name.
    void dropAndExpectOpened(const std::string& path)
    {
        const uint64_t before = doc->pictureGeneration();
        dropFile(*view, path);
        ASSERT_NE(doc->pictureGeneration(), before) << path;
        ASSERT_EQ(doc->getPathName(), path);
    }

    // Opens a picture written as a BMP file, as a drop on the canvas would.
    void openPicture(const Dib& picture, const std::string& name = "picture.bmp")
    {
        const std::string path = dir.file(name);
        ASSERT_TRUE(test::succeeded(WriteBmpFile(path, picture)));
        dropAndExpectOpened(path);
    }

    // Pictures of other depths are written as they are, file header in front of the block.
    void openRawBmp(const Dib& picture, const std::string& name)
    {
        auto layout = dibGetLayout(picture);
        ASSERT_TRUE(layout);
        std::vector<uint8_t> file(14 + picture.size());
        const uint32_t size = static_cast<uint32_t>(file.size());
        const uint32_t offset = static_cast<uint32_t>(14 + layout->pixelOffset);
        file[0] = 'B';
        file[1] = 'M';
        std::memcpy(&file[2], &size, 4);
        std::memcpy(&file[10], &offset, 4);
        std::memcpy(&file[14], picture.data(), picture.size());
        writeFileBytes(dir.file(name), file);
        dropAndExpectOpened(dir.file(name));
    }

    void openWhite(int width = 100, int height = 80, QRect black = QRect())
    {
        openPicture(makeSolidPicture(width, height, 24, 255, black));
    }

    // The image pixels (column, row from the top) set in the pending layer.
    std::set<std::pair<int, int>> pendingPixels() const
    {
        std::set<std::pair<int, int>> pixels;
        const auto& pending = (*view->inspect().pending);
        if (!pending)
            return pixels;
        const int width = doc->width();
        const int height = doc->height();
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                if ((*pending)[static_cast<size_t>(height - 1 - row) * width + column] == 1)
                    pixels.insert({column, row});
        return pixels;
    }

    void drag(QPoint from, QPoint to, unsigned keyState = kLeftButton)
    {
        view->onLButtonDown(from);
        view->onMouseMove(to, keyState);
        view->onLButtonUp(to);
    }

    TempDir dir;
    ScriptedPrompt prompt;
    std::unique_ptr<SavableWriterDocument> doc;
    std::unique_ptr<WriterView> view;
};

} // namespace ombri::writer
