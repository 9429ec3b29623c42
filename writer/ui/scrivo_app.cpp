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

#ifndef OMBRI_INSTALLED_SAMPLES_DIR
#define OMBRI_INSTALLED_SAMPLES_DIR "/usr/local/share/ombritools/samples"
#endif

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

QString samplesFolder()
{
    const QString installed = QStringLiteral(OMBRI_INSTALLED_SAMPLES_DIR);
#if defined(OMBRI_BUILD_DIR) && defined(OMBRI_SOURCE_SAMPLES_DIR)
    const QString buildDir = QStringLiteral(OMBRI_BUILD_DIR);
    const QString programDir = QCoreApplication::applicationDirPath();
    const bool inBuildTree =
        programDir == buildDir || programDir.startsWith(buildDir + QLatin1Char('/'));
    if (inBuildTree && QFileInfo(QStringLiteral(OMBRI_SOURCE_SAMPLES_DIR)).isDir())
        return QStringLiteral(OMBRI_SOURCE_SAMPLES_DIR);
#endif
    return installed;
}

QString writerHelpText(const QString& samplesFolder)
{
    QString text;
    text += QStringLiteral("What's Ombri image?\n\n");
    text += QStringLiteral(
        "      The Ombri images are images in which some messages are hidden, such as the title, "
        "the names of people, location, time, explanation or simply drawing etc.. The Ombri "
        "images use popular formats (PNG. TIFF etc..). The Ombri images almost keep same size as "
        "the normal image files, that is, the messages do not take extra space.\n\n");
    text += QStringLiteral(
        "      A button with 'Eyes' of the OmbriReader can controls the messages appear or "
        "disappear. When printing, the users can choose the images with or without the "
        "messages. \n\n");
    text += QStringLiteral("      There are some samples at your installation folder, such as, ");
    text += samplesFolder;
    text += QStringLiteral("\n\n\nOmbriTools:\n\n");
    text += QStringLiteral(
        "      OmbriTools includes the OmbriReader and the OmbriWriter. The OmbriReader is a "
        "browser-like software, using to view images. If the image is an Ombri image, the "
        "OmbriReader can display the messages which are hidden in the image by clicking the "
        "button with 'Eyes'..\n\n");
    text += QStringLiteral(
        "      The OmbriWriter is used to make Ombri images, which can edit text or draw "
        "something, such as, lines, rectangles, circles, etc..\n\n\n");
    text += QStringLiteral("Contact:\n\n");
    text += QStringLiteral("      Please feel free to send any comments or suggestions to:\n");
    text += QStringLiteral("      ") + QString::fromUtf8(kSupportAddress);
    return text;
}

namespace {

// A plain OK button: the dialogs are text and one button, no pictures on it.
QPushButton* okButton(QDialog* dialog)
{
    auto* button = new QPushButton(QStringLiteral("OK"), dialog);
    button->setDefault(true);
    QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::accept);
    return button;
}

} // namespace

std::unique_ptr<QDialog> createAboutDialog(QWidget* parent)
{
    initWriterResources();
    auto dialog = std::make_unique<QDialog>(parent);
    dialog->setWindowTitle(QStringLiteral("About OmbriWriter"));
    dialog->setFont(QFont(QStringLiteral("Times New Roman"), 12));

    auto* icon = new QLabel(dialog.get());
    icon->setPixmap(QIcon(QStringLiteral(":/icons/ombri-writer.svg")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    for (const QString& line :
         {QStringLiteral("OmbriWriter (Version %1)").arg(QString::fromUtf8(kWriterVersion)),
          QStringLiteral("Notes hidden in the pixels of your pictures"),
          QStringLiteral("E-mail: ") + QString::fromUtf8(kSupportAddress)}) {
        auto* label = new QLabel(line, dialog.get());
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        texts->addWidget(label);
    }
    texts->addStretch();

    QPushButton* ok = okButton(dialog.get());

    auto* layout = new QHBoxLayout(dialog.get());
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setSpacing(16);
    layout->addWidget(icon);
    layout->addLayout(texts);
    layout->addWidget(ok, 0, Qt::AlignTop);
    return dialog;
}

std::unique_ptr<QDialog> createHelpDialog(QWidget* parent)
{
    auto dialog = std::make_unique<QDialog>(parent);
    dialog->setWindowTitle(QStringLiteral("Dialog"));

    auto* text = new QLabel(dialog.get());
    text->setObjectName(QStringLiteral("helpText"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setText(writerHelpText(samplesFolder()));

    auto* layout = new QVBoxLayout(dialog.get());
    layout->addWidget(text, 1);
    layout->addWidget(okButton(dialog.get()), 0, Qt::AlignRight);

    // The dialog was laid out in dialog units: a quarter of the average character width
    // across, an eighth of the line height down.
    const QFontMetrics metrics(dialog->font());
    const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const double averageWidth = metrics.horizontalAdvance(alphabet) / 52.0;
    dialog->resize(static_cast<int>(369 * averageWidth / 4),
                   static_cast<int>(266 * metrics.height() / 8));
    return dialog;
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
