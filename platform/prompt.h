#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri {

struct Rgb {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb& other) const
    {
        return red == other.red && green == other.green && blue == other.blue;
    }
    bool operator!=(const Rgb& other) const { return !(*this == other); }
};

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Icon { Information, Warning, Question, Error };
enum class Answer { Ok, Yes, No, Cancel };

// What the Save As dialog is asked to show.
struct SaveDialogRequest {
    std::string defaultName;      // "beach", the picture's own name
    std::string defaultExtension; // "png"
    std::string filter;           // "Name|*.a; *.b|..." as the programs write them
    bool overwritePrompt = true;
    std::string folder; // where the dialog starts; empty: where the dialog chooses
};

// What an Open dialog for one existing file is asked to show.
struct OpenDialogRequest {
    std::string title;  // "Import Notes"
    std::string filter; // "Name|*.a; *.b|..." as the programs write them
    std::string folder; // where the dialog starts; empty: where the dialog chooses
};

// The only way a document reaches the user: message boxes and the save dialog. The desktop
// programs show real dialogs, the tests answer from a script, the command line prints.
class Prompt {
  public:
    virtual ~Prompt() = default;

    // A modal message; texts and captions as the programs give them, "\n" a line break.
    virtual Answer ask(const std::string& text, const std::string& caption, Buttons buttons,
                       Icon icon) = 0;
    void tell(const std::string& text, const std::string& caption, Icon icon)
    {
        ask(text, caption, Buttons::Ok, icon);
    }

    // A file that could not be opened as an image, with the reason.
    virtual void reportOpenFailure(const std::string& path, const std::string& reason) = 0;

    // The chosen path, or nothing when the user cancels.
    virtual std::optional<std::string> chooseSavePath(const SaveDialogRequest& request) = 0;

    // The existing file chosen, or nothing when the user cancels. Only the desktop programs open
    // a dialog; elsewhere nothing is chosen.
    virtual std::optional<std::string> chooseOpenPath(const OpenDialogRequest& request)
    {
        (void)request;
        return std::nullopt;
    }

    // The colour dialog opened on a colour; nothing when the user cancels.
    virtual std::optional<Rgb> chooseColour(Rgb initial)
    {
        (void)initial;
        return std::nullopt;
    }

    // Long work (opening or saving a large picture): the desktop programs show the wait cursor
    // and the status text while it runs; elsewhere nothing is shown.
    virtual void beginBusy(const std::string& status) { (void)status; }
    virtual void endBusy() {}
};

// Shows the prompt busy for the lifetime of the object.
class BusyScope {
  public:
    BusyScope(Prompt& prompt, const std::string& status) : m_prompt(prompt)
    {
        m_prompt.beginBusy(status);
    }
    ~BusyScope() { m_prompt.endBusy(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    Prompt& m_prompt;
};

} // namespace ombri
