#include "reader/ui/lanter_app.h"

#include "platform/command_line.h"

#include <QApplication>

int main(int argc, char** argv)
{
    ombri::allowInfoOptionsWithoutDisplay(argc, argv);
    QApplication application(argc, argv);
    ombri::reader::CLanterApp app;
    if (!app.InitInstance(QApplication::arguments()))
        return 1;
    return application.exec();
}
