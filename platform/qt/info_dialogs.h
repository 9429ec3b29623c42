#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

#include <memory>

class QDialog;
class QWidget;

namespace ombri {

constexpr const char* kSupportAddress = "support@ombritools.example";
// Where the Home Page commands take the web browser.
constexpr const char* kHomePage = "https://ombritools.example/";

// The folder of the sample Ombri images: the installed one, or the source tree's when the
// program runs from its build folder.
QString samplesFolder();

// The Help text both programs show; they word the sentence about OmbriTools differently.
enum class HelpProgram { Writer, Reader };
QString helpText(HelpProgram program, const QString& samplesFolder);

// The About box: the program's icon, its text lines and an OK button.
std::unique_ptr<QDialog> createAboutDialog(QWidget* parent, const QString& caption,
                                           const QIcon& icon, const QStringList& lines);
// The Help dialog, captioned "Dialog", with the help text.
std::unique_ptr<QDialog> createHelpDialog(QWidget* parent, const QString& text);

} // namespace ombri
