#include "app/ui/MainWindow.h"

#include <QPlainTextEdit>

#include "app/GlobalObject.h"
#include "engine/MediaLibLoader.h"
#include "platform/Paths.h"

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName("frmMain");
    mmoLog = new QPlainTextEdit(this);
    mmoLog->setObjectName("mmoLog");
    mmoLog->setReadOnly(true);
    mmoLog->hide();
    FormCreate();
}

void TfrmMain::FormCreate() {
    TGlobalObject global;
    setWindowTitle(global.AppTitle() + FileVersionText());
    resize(786, 522);
    TMediaLibLoader& loader = MediaLibLoader();
    loader.SetLibraryPath(Paths::LibAVFolder().toStdString());
    if (!loader.LibsLoaded(PlayerLibs) && !loader.LoadLibs(PlayerLibs))
        mmoLog->appendPlainText(QString::fromStdString(loader.LastErrMsg()));
}
