#include "platform/qt/info_dialogs.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#ifndef OMBRI_INSTALLED_SAMPLES_DIR
#define OMBRI_INSTALLED_SAMPLES_DIR "/usr/local/share/ombritools/samples"
#endif

namespace ombri {

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

QString helpText(HelpProgram program, const QString& samplesFolder)
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
    text += program == HelpProgram::Writer
                ? QStringLiteral("      OmbriTools includes the OmbriReader and the OmbriWriter.")
                : QStringLiteral("      OmbriTools include an OmbriReader and an OmbriWriter.");
    text += QStringLiteral(
        " The OmbriReader is a browser-like software, using to view images. If the image is an "
        "Ombri image, the OmbriReader can display the messages which are hidden in the image by "
        "clicking the button with 'Eyes'..\n\n");
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

std::unique_ptr<QDialog> createAboutDialog(QWidget* parent, const QString& caption,
                                           const QIcon& icon, const QStringList& lines)
{
    auto dialog = std::make_unique<QDialog>(parent);
    dialog->setWindowTitle(caption);
    dialog->setFont(QFont(QStringLiteral("Times New Roman"), 12));

    auto* iconLabel = new QLabel(dialog.get());
    iconLabel->setPixmap(icon.pixmap(48, 48));
    iconLabel->setAlignment(Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    for (const QString& line : lines) {
        auto* label = new QLabel(line, dialog.get());
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        texts->addWidget(label);
    }
    texts->addStretch();

    auto* layout = new QHBoxLayout(dialog.get());
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setSpacing(16);
    layout->addWidget(iconLabel);
    layout->addLayout(texts);
    layout->addWidget(okButton(dialog.get()), 0, Qt::AlignTop);
    return dialog;
}

std::unique_ptr<QDialog> createHelpDialog(QWidget* parent, const QString& text)
{
    auto dialog = std::make_unique<QDialog>(parent);
    dialog->setWindowTitle(QStringLiteral("Dialog"));

    auto* label = new QLabel(dialog.get());
    label->setObjectName(QStringLiteral("helpText"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setText(text);

    auto* layout = new QVBoxLayout(dialog.get());
    layout->addWidget(label, 1);
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

} // namespace ombri
