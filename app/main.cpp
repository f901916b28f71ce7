// The program entry: the window, opening the one model its command line may name.

#include <QApplication>

#include <cstring>
#include <iostream>

#include "app/Main.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "0.0.0"
#endif

namespace {

const char* kUsage =
    "Usage: kelvane [MODEL.mdl]\n"
    "Opens the Kelvane window; given MODEL.mdl, opens that model as File > Open MDL5 does.\n"
    "\n"
    "  -h, --help   print this text and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "The options of Qt programs, such as -platform and -style, are taken as well.\n";

}  // namespace

int main(int argc, char** argv)
{
    // Help and version answer before the window system starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "kelvane " KELVANE_VERSION "\n";
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << kUsage;
            return 0;
        }
    }
    QApplication application(argc, argv);
    // The title names the program in the taskbar and captions every error box.
    QApplication::setApplicationName("Kelvane");
    // Qt has taken its own options out; what is left is at most one model.
    const QStringList words = QApplication::arguments().mid(1);
    if (words.size() > 1 || (words.size() == 1 && words[0].startsWith('-'))) {
        std::cerr << "kelvane: " << (words.size() > 1 ? "one model at most" : "unknown option " + words[0].toStdString())
                  << "\n" << kUsage;
        return 2;
    }
    TMainForm form;
    MainForm = &form;
    form.show();
    if (!words.isEmpty()) form.OpenModel(words[0]);
    application.exec();
    MainForm = nullptr;
    return 0;
}
