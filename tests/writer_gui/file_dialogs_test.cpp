// The file dialogs of the writer's window: where they start, the name Save As offers, and
// extensions written in any case, driven through the real window.
#include "window_fixture.h"

#include "formats/dispatch.h"
#include "formats/jpeg.h"
#include "formats/png.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QTimer>

#include <filesystem>

namespace ombri::writer {
using namespace ombri::test;
namespace {

class FileDialogsTest : public WindowFixture {
  protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        std::filesystem::create_directories(dir.file("album"));
        std::filesystem::create_directories(dir.file("other"));
    }
    const SaveDialogRequest& lastSaveDialog() const { return prompt.saveDialogs().back(); }
};

// Every dialog about the picture starts in its folder; Save As offers its own name, and after
// a Save As elsewhere the new file's folder and name.
TEST_F(FileDialogsTest, DialogsStartWhereThePictureIs)
{
    ASSERT_TRUE(frame->openFile(writePicture("album/beach.bmp")));
    drawPendingLine();
    const std::string album = dir.file("album");
    // The script cancels every dialog.
    for (int id : {cmd::SaveAsLossless, cmd::SaveAsCompressed}) {
        commands().trigger(id);
        EXPECT_EQ(lastSaveDialog().defaultName, "beach") << id;
        EXPECT_EQ(lastSaveDialog().defaultExtension, "png") << id;
        EXPECT_EQ(lastSaveDialog().folder, album) << id;
    }
    commands().trigger(cmd::SaveCleanCopy);
    EXPECT_EQ(lastSaveDialog().defaultName, "beach-clean");
    EXPECT_EQ(lastSaveDialog().folder, album);
    commands().trigger(cmd::ExportNotes);
    EXPECT_EQ(lastSaveDialog().defaultName, "beach-notes");
    EXPECT_EQ(lastSaveDialog().folder, album);
    commands().trigger(cmd::ImportNotes);
    ASSERT_EQ(prompt.openDialogs().size(), 1u);
    EXPECT_EQ(prompt.openDialogs()[0].folder, album);
    EXPECT_EQ(prompt.saveDialogs().size(), 4u);
    EXPECT_TRUE(prompt.messages().empty());

    prompt.queueSavePath(dir.file("other/kept.png"));
    ASSERT_TRUE(commands().trigger(cmd::SaveAsLossless));
    commands().trigger(cmd::SaveAsLossless);
    EXPECT_EQ(lastSaveDialog().defaultName, "kept");
    EXPECT_EQ(lastSaveDialog().folder, dir.file("other"));
}

// A picture whose extension is in capitals or spelt the long way opens, and Save As to such a
// name writes the format the extension names.
TEST_F(FileDialogsTest, ExtensionsInAnyCaseOpenAndSave)
{
    const Dib picture = makePatternImage(40, 30, 24, 3);
    ASSERT_TRUE(succeeded(WritePngFile(dir.file("album/UP.PNG"), picture)));
    ASSERT_TRUE(succeeded(WriteJpegFile(dir.file("album/photo.JPEG"), picture)));
    ASSERT_TRUE(frame->openFile(QString::fromStdString(dir.file("album/photo.JPEG"))));
    ASSERT_TRUE(frame->openFile(QString::fromStdString(dir.file("album/UP.PNG"))));
    EXPECT_TRUE(prompt.openFailures().empty());
    drawPendingLine();
    commands().trigger(cmd::LineTool);
    const NoteLayer notes = doc().noteLayer().value();

    struct Case {
        const char* name;
        const ImageFormat* format;
    };
    const Case cases[] = {{"x.PNG", &kPngFormat},
                          {"x.Bmp", &kBmpFormat},
                          {"x.TIFF", &kTiffFormat},
                          {"x.jpeg", &kJpegFormat}};
    for (const Case& c : cases) {
        const std::string path = dir.file(std::string("other/") + c.name);
        // The notes cannot go into a JPEG file: Yes saves the picture without them.
        if (c.format == &kJpegFormat)
            prompt.queueAnswer(Answer::Yes);
        prompt.queueSavePath(path);
        ASSERT_TRUE(commands().trigger(cmd::SaveAsLossless)) << c.name;
        const LoadedImage saved = loadCheckedImage(path);
        ASSERT_FALSE(saved.image.isNull()) << c.name << ": " << saved.error;
        EXPECT_EQ(saved.format, c.format) << c.name;
        if (c.format == &kJpegFormat)
            continue;
        ASSERT_TRUE(frame->openFile(QString::fromStdString(path))) << c.name;
        EXPECT_EQ(doc().noteLayer(), notes) << c.name;
    }
    // Only the JPEG name asked.
    EXPECT_EQ(prompt.messages().size(), 1u);
}

// The Open dialog lists the pictures however their extensions are written: its filters carry
// each extension in capitals too.
TEST_F(FileDialogsTest, OpenDialogTakesCapitalExtensions)
{
    QStringList filters;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            filters = dialog->nameFilters();
            dialog->reject();
        } else if (clock.elapsed() > 5000) {
            ADD_FAILURE() << "no file dialog appeared";
            if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                other->reject();
        }
    });
    poll.start(10);
    commands().trigger(cmd::FileOpen);
    ASSERT_FALSE(filters.isEmpty());
    for (const char* pattern : {"*.png", "*.PNG", "*.jpeg", "*.JPEG", "*.jpg", "*.JPG", "*.TIFF"})
        EXPECT_TRUE(filters.front().contains(QString::fromLatin1(pattern) + ' ') ||
                    filters.front().contains(QString::fromLatin1(pattern) + ')'))
            << pattern << " in " << filters.front().toStdString();
    EXPECT_TRUE(filters.contains("JPEG (*.jpg *.JPG *.jpeg *.JPEG)"))
        << filters.join(";;").toStdString();
}

} // namespace
} // namespace ombri::writer
