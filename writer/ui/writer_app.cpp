#include "writer/ui/writer_app.h"

#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

// Resource initialisers live in the global namespace.
static void initWriterResourceFile()
{
    Q_INIT_RESOURCE(writer);
}

namespace ombri::writer {

void initWriterResources()
{
    static const bool initialised = (initWriterResourceFile(), true);
    (void)initialised;
}

WriterApp::WriterApp(Prompt* prompt) : m_prompt(prompt) {}

WriterApp::~WriterApp() = default;

bool WriterApp::initInstance(const QStringList& arguments)
{
    QCoreApplication::setOrganizationName(QStringLiteral("OmbriTools"));
    QCoreApplication::setApplicationName(QStringLiteral("OmbriWriter"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(kWriterVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.ombritools.OmbriWriter"));
    initWriterResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.ombritools.OmbriWriter.svg")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws and types notes hidden in pictures."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The image to open."),
                                 QStringLiteral("[file]"));
    parser.process(arguments);

    m_frame = std::make_unique<WriterWindow>(m_prompt);
    const QStringList files = parser.positionalArguments();
    // As the program always has: a file that cannot be opened ends the start, after its report.
    if (!files.isEmpty() && !m_frame->openFile(files.constFirst()))
        return false;
    m_frame->show();
    return true;
}

} // namespace ombri::writer
