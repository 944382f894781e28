#include <QApplication>

#include "app/GlobalObject.h"
#include "app/ui/MainWindow.h"
#include "platform/MainThread.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppTitle);
    MainThread::Init();
    TfrmMain window;
    window.show();
    const int result = QApplication::exec();
    MainThread::Shutdown();
    return result;
}
