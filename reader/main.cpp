#include "reader/ui/reader_app.h"

#include "platform/qt/command_line.h"

#include <QApplication>

int main(int argc, char** argv)
{
    ombri::allowInfoOptionsWithoutDisplay(argc, argv);
    QApplication application(argc, argv);
    ombri::reader::ReaderApp app;
    if (!app.initInstance(QApplication::arguments()))
        return 1;
    return application.exec();
}
