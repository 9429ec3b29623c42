#include "reader/ui/reader_app.h"

#include "core/printable_name.h"
#include "reader/settings.h"
#include "reader/ui/reader_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>

namespace ombri::reader {

ReaderApp::ReaderApp(Prompt* prompt) : m_prompt(prompt) {}

ReaderApp::~ReaderApp() = default;

bool ReaderApp::initInstance(const QStringList& arguments)
{
    QCoreApplication::setOrganizationName(QStringLiteral("OmbriTools"));
    QCoreApplication::setApplicationName(QStringLiteral("OmbriReader"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kReaderVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.ombritools.OmbriReader"));
    initReaderResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.ombritools.OmbriReader.svg")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows pictures and the notes hidden in them."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The image to show."),
                                 QStringLiteral("[file]"));
    parser.process(arguments);

    m_frame = std::make_unique<ReaderWindow>(m_prompt);
    const QStringList files = parser.positionalArguments();
    const bool folder = !files.isEmpty() && QFileInfo(files.constFirst()).isDir();
    if (folder && !m_frame->openFolder(files.constFirst())) {
        m_frame->document().prompt().tell("Could not show the folder " +
                                              printableName(files.constFirst().toStdString()) + ".",
                                          "OmbriReader", Icon::Warning);
        return false;
    }
    if (!files.isEmpty() && !folder && !m_frame->openFile(files.constFirst())) {
        // Opening a picture from the list says nothing when it fails; one named on the command
        // line is what the user asked for, so the user hears why it did not come.
        OpenableReaderDocument& doc = m_frame->document();
        std::string text =
            "Could not open " + printableName(files.constFirst().toStdString()) + ".";
        if (!doc.lastOpenError().empty())
            text += "\n" + doc.lastOpenError();
        doc.prompt().tell(text, "OmbriReader", Icon::Warning);
        return false;
    }
    // Opening a file has made its folder the current one: the settings live there.
    m_frame->setSettingsDirectory(settingsDirectory());
    if (auto colours = loadSettings(settingsFilePath(m_frame->settingsDirectory())))
        m_frame->applyPaneColours(*colours);
    m_frame->show();
    return true;
}

} // namespace ombri::reader
