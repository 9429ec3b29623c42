#include "platform/qt/qt_prompt.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
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

} // namespace
} // namespace ombri
