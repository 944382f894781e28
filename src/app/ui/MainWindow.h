#pragma once
#include <QMainWindow>

class QPlainTextEdit;

// The converter's main window.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);

    // The hidden log memo: library load failures and log lines.
    QPlainTextEdit* mmoLog = nullptr;

private:
    void FormCreate();
};
