#include "platform/qt/qt_prompt.h"

#include "core/printable_name.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace ombri {

QString toQtFileFilter(const std::string& filter)
{
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString name = parts[i].simplified();
        if (name.isEmpty())
            continue;
        QStringList patterns;
        for (const QString& written : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            const QString pattern = written.trimmed();
            patterns << pattern;
            if (pattern.toUpper() != pattern)
                patterns << pattern.toUpper();
        }
        // The dialog reads the patterns from the parentheses, so a name that already shows some
        // gets the full list in their place.
        QString shown = name;
        if (name.endsWith(')') && name.contains('('))
            shown = name.left(name.lastIndexOf('(')).trimmed();
        entries << QStringLiteral("%1 (%2)").arg(shown, patterns.join(' '));
    }
    return entries.join(QStringLiteral(";;"));
}

namespace {

QMessageBox::Icon toQtIcon(Icon icon)
{
    switch (icon) {
    case Icon::Warning:
        return QMessageBox::Warning;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Error:
        return QMessageBox::Critical;
    case Icon::Information:
        break;
    }
    return QMessageBox::Information;
}

QMessageBox::StandardButtons toQtButtons(Buttons buttons)
{
    switch (buttons) {
    case Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

} // namespace

Answer QtPrompt::ask(const std::string& text, const std::string& caption, Buttons buttons,
                     Icon icon)
{
    // A message must never appear behind the wait cursor of the work that caused it.
    const int busy = m_busyDepth;
    for (int i = 0; i < busy; ++i)
        QApplication::restoreOverrideCursor();
    QMessageBox box(toQtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    toQtButtons(buttons), m_parent);
    // Messages are plain text: a file name such as "<b>x</b>.png" would otherwise turn the
    // whole message into rich text, shown in bold and with its line breaks lost.
    box.setTextFormat(Qt::PlainText);
    const int result = box.exec();
    for (int i = 0; i < busy; ++i)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    switch (result) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        return buttons == Buttons::YesNoCancel ? Answer::Cancel
               : buttons == Buttons::YesNo     ? Answer::No
                                               : Answer::Ok;
    }
}

void QtPrompt::reportOpenFailure(const std::string& path, const std::string& reason)
{
    std::string text = "Could not open " + printableName(path) + ".";
    if (!reason.empty())
        text += "\n" + reason;
    tell(text, QApplication::applicationDisplayName().toStdString(), Icon::Warning);
}

std::optional<std::string> QtPrompt::chooseSavePath(const SaveDialogRequest& request)
{
    QFileDialog dialog(m_parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(toQtFileFilter(request.filter));
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (!request.folder.empty())
        dialog.setDirectory(QString::fromStdString(request.folder));
    dialog.selectFile(QString::fromStdString(request.defaultName));
    if (!request.overwritePrompt)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtPrompt::chooseOpenPath(const OpenDialogRequest& request)
{
    QFileDialog dialog(m_parent, QString::fromStdString(request.title));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Only an existing file can be chosen, so no extension is ever added to a typed name.
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(toQtFileFilter(request.filter).split(QStringLiteral(";;")));
    if (!request.folder.empty())
        dialog.setDirectory(QString::fromStdString(request.folder));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst().toStdString();
}

std::optional<Rgb> QtPrompt::chooseColour(Rgb initial)
{
    const QColor chosen =
        QColorDialog::getColor(QColor(initial.red, initial.green, initial.blue), m_parent);
    if (!chosen.isValid())
        return std::nullopt;
    return Rgb{static_cast<uint8_t>(chosen.red()), static_cast<uint8_t>(chosen.green()),
               static_cast<uint8_t>(chosen.blue())};
}

void QtPrompt::beginBusy(const std::string& status)
{
    ++m_busyDepth;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_statusSink)
        m_statusSink(QString::fromStdString(status));
}

void QtPrompt::endBusy()
{
    if (m_busyDepth == 0)
        return;
    --m_busyDepth;
    QApplication::restoreOverrideCursor();
    if (m_statusSink && m_busyDepth == 0)
        m_statusSink(QString());
}

} // namespace ombri
