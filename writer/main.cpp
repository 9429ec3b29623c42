#include "writer/ui/scrivo_app.h"

#include "platform/command_line.h"

#include <QApplication>

int main(int argc, char** argv)
{
    ombri::allowInfoOptionsWithoutDisplay(argc, argv);
    QApplication app(argc, argv);
    ombri::CScrivoApp scrivo;
    if (!scrivo.InitInstance(QApplication::arguments()))
        return 1;
    return app.exec();
}
