// The program entry: the window, and nothing taken from the command line.

#include <QApplication>

#include "app/Main.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // The title names the program in the taskbar and captions every error box.
    QApplication::setApplicationName("Kelvane");
    TMainForm form;
    MainForm = &form;
    form.show();
    application.exec();
    MainForm = nullptr;
    return 0;
}
