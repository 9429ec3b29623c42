#include "platform/qt/qt_prompt.h"

#include "support/test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace ombri {
namespace {

// What a message box showed: its text and the height of the label that shows it.
struct ShownMessage {
    QString text;
    int labelHeight = 0;
};

// Runs the call, reads the message box it opens and closes the box. A box that cannot be found
// within five seconds fails the test instead of leaving it waiting for a click.
ShownMessage shownMessage(const std::function<void()>& call)
{
    ShownMessage shown;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            shown.text = box->text();
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
                shown.labelHeight = label->sizeHint().height();
            box->done(QMessageBox::Ok);
            return;
        }
        if (clock.elapsed() > 5000) {
            ADD_FAILURE() << "no message box appeared";
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(widget))
                    dialog->reject();
        }
    });
    poll.start(10);
    call();
    return shown;
}

TEST(QtPromptTest, AnOpenFailureShowsTheNameEscapedAndAsPlainText)
{
    QtPrompt prompt;
    const ShownMessage escaped = shownMessage(
        [&] { prompt.reportOpenFailure("/tmp/line\nbreak \x1b[2J.png", "bad header"); });
    EXPECT_EQ(escaped.text.toStdString(),
              "Could not open /tmp/line\\nbreak \\x1b[2J.png.\nbad header");

    // A name that looks like markup is no reason to read the message as rich text, where the
    // line break before the reason would be lost.
    const ShownMessage markup =
        shownMessage([&] { prompt.reportOpenFailure("/tmp/<b>bold</b>.png", "bad header"); });
    const ShownMessage plain =
        shownMessage([&] { prompt.reportOpenFailure("/tmp/bbbbbbbbbbbbb.png", "bad header"); });
    EXPECT_EQ(markup.text.toStdString(), "Could not open /tmp/<b>bold</b>.png.\nbad header");
    EXPECT_GT(plain.labelHeight, 0);
    EXPECT_EQ(markup.labelHeight, plain.labelHeight);
}

// What a file dialog showed once its folder was read: the folder, the file it offered, its
// filters and the names listed under the first of them.
struct ShownFileDialog {
    QString folder;
    QString chosen;
    QStringList filters;
    QStringList listed;
};

// Runs the call, reads the file dialog it opens and cancels it. A dialog that cannot be found
// within five seconds fails the test instead of leaving it waiting.
ShownFileDialog shownFileDialog(const std::function<void()>& call, int expectedFiles)
{
    ShownFileDialog shown;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog) {
            // The folder is read in the background: wait for its files, or give up and report
            // what is there.
            const auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
            const QAbstractItemModel* model = list ? list->model() : nullptr;
            const int rows = model ? model->rowCount(list->rootIndex()) : 0;
            if (rows < expectedFiles && clock.elapsed() < 5000)
                return;
            shown.folder = dialog->directory().absolutePath();
            shown.chosen = dialog->selectedFiles().value(0);
            shown.filters = dialog->nameFilters();
            for (int row = 0; row < rows; ++row)
                shown.listed << model->index(row, 0, list->rootIndex()).data().toString();
            shown.listed.sort();
            dialog->reject();
            return;
        }
        if (clock.elapsed() > 5000) {
            ADD_FAILURE() << "no file dialog appeared";
            if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                other->reject();
        }
    });
    poll.start(10);
    call();
    return shown;
}

// The dialogs start in the folder asked for, the save dialog on the name asked for, and their
// filters take every extension in capitals too, as cameras and other systems write them.
TEST(QtPromptTest, FileDialogsStartInTheFolderAndShowEveryCase)
{
    test::TempDir dir;
    for (const char* name : {"a.png", "B.PNG", "c.Jpeg", "D.JPG", "e.bmp"}) {
        QFile file(QString::fromStdString(dir.file(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QtPrompt prompt;
    std::optional<std::string> chosen = "x";
    const ShownFileDialog saving = shownFileDialog(
        [&] {
            chosen = prompt.chooseSavePath(SaveDialogRequest{
                "beach", "png", "PNG|*.png|JPEG|*.jpg; *.jpeg|", true, dir.path()});
        },
        2);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(saving.folder.toStdString(), dir.path());
    // The dialog adds the extension of the filter it starts with.
    EXPECT_EQ(saving.chosen.toStdString(), dir.file("beach.png"));
    EXPECT_EQ(saving.filters,
              QStringList({"PNG (*.png *.PNG)", "JPEG (*.jpg *.JPG *.jpeg *.JPEG)"}));
    EXPECT_EQ(saving.listed, QStringList({"B.PNG", "a.png"}));

    const ShownFileDialog opening = shownFileDialog(
        [&] {
            chosen = prompt.chooseOpenPath(
                OpenDialogRequest{"Import Notes", "JPEG|*.jpg; *.jpeg|", dir.path()});
        },
        2);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(opening.folder.toStdString(), dir.path());
    EXPECT_EQ(opening.listed, QStringList({"D.JPG", "c.Jpeg"}));
}

} // namespace
} // namespace ombri
