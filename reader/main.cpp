#include "reader/ui/lanter_app.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    ombri::reader::CLanterApp app;
    if (!app.InitInstance(QApplication::arguments()))
        return 1;
    return application.exec();
}
