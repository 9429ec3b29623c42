#include "writer/ui/writer_app.h"

#include "platform/qt/command_line.h"

#include <QApplication>

int main(int argc, char** argv)
{
    ombri::allowInfoOptionsWithoutDisplay(argc, argv);
    QApplication application(argc, argv);
    ombri::writer::WriterApp writer;
    if (!writer.initInstance(QApplication::arguments()))
        return 1;
    return application.exec();
}
