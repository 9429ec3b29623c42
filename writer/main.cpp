#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OmbriWriter"));
    QApplication::setOrganizationName(QStringLiteral("OmbriTools"));
    ombri::WriterWindow window;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        window.move((area.width() - 800) / 2, (area.height() - 600) / 2);
    }
    window.show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1)
        window.openFile(arguments.at(1));
    return app.exec();
}
