#include <QApplication>

#include <clocale>

#include "app/GlobalObject.h"
#include "app/ui/MainWindow.h"
#include "platform/MainThread.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The media libraries read and write decimal numbers with the C library's locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(kAppTitle);
    MainThread::Init();
    TfrmMain window;
    window.show();
    const int result = QApplication::exec();
    MainThread::Shutdown();
    return result;
}
