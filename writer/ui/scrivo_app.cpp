#include "writer/ui/scrivo_app.h"

#include "writer/ui/main_frame.h"

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

namespace ombri {

void initWriterResources()
{
    static const bool initialised = (initWriterResourceFile(), true);
    (void)initialised;
}

CScrivoApp::CScrivoApp(Prompt* prompt) : m_prompt(prompt) {}

CScrivoApp::~CScrivoApp() = default;

bool CScrivoApp::InitInstance(const QStringList& arguments)
{
    QCoreApplication::setOrganizationName(QStringLiteral("OmbriTools"));
    QCoreApplication::setApplicationName(QStringLiteral("OmbriWriter"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(kWriterVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("ombri-writer"));
    initWriterResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ombri-writer.svg")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws and types notes hidden in pictures."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The image to open."),
                                 QStringLiteral("[file]"));
    parser.process(arguments);

    m_frame = std::make_unique<CMainFrame>(m_prompt);
    const QStringList files = parser.positionalArguments();
    // As the program always has: a file that cannot be opened ends the start, after its report.
    if (!files.isEmpty() && !m_frame->openFile(files.constFirst()))
        return false;
    m_frame->show();
    return true;
}

} // namespace ombri
