#pragma once

#include "platform/prompt.h"

#include <QString>

#include <functional>

class QWidget;

namespace ombri {

// "Name|*.a; *.b|Other|*.c|" as the programs write their file filters, turned into the file
// dialog's "Name (*.a *.A *.b *.B);;Other (*.c *.C)", the same entries in the same order. Each
// pattern comes in capitals too: the dialogs of the desktop match names case by case, and would
// hide "PHOTO.JPG" from a filter of "*.jpg".
QString toQtFileFilter(const std::string& filter);

// The desktop programs' prompt: message boxes, the file and colour dialogs, and the wait cursor
// with a status-bar text while long work runs.
class QtPrompt : public Prompt {
  public:
    explicit QtPrompt(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    // Where the busy status text goes (the status bar); an empty text clears it.
    void setStatusSink(std::function<void(const QString&)> sink) { m_statusSink = std::move(sink); }

    Answer ask(const std::string& text, const std::string& caption, Buttons buttons,
               Icon icon) override;
    void reportOpenFailure(const std::string& path, const std::string& reason) override;
    std::optional<std::string> chooseSavePath(const SaveDialogRequest& request) override;
    std::optional<std::string> chooseOpenPath(const OpenDialogRequest& request) override;
    std::optional<Rgb> chooseColour(Rgb initial) override;
    void beginBusy(const std::string& status) override;
    void endBusy() override;

  private:
    QWidget* m_parent;
    std::function<void(const QString&)> m_statusSink;
    int m_busyDepth = 0;
};

} // namespace ombri
