#include <QApplication>

#include "MainForm.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(PROG_TITLE);
    QApplication::setApplicationVersion(PROG_VER);
    TMainForm window;
    window.show();
    return QApplication::exec();
}
