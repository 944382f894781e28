#pragma once
// Runs kelto-cli (built beside the test program) as a separate process and collects what
// it printed.

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <string>

struct TCliRun {
    int status = -1;  // -1 when the program did not start or crashed
    std::string out;
    std::string err;
};

inline TCliRun RunCli(const QStringList& args, const QString& program = QString()) {
    QProcess p;
    p.setProgram(program.isEmpty() ? QCoreApplication::applicationDirPath() + "/kelto-cli" : program);
    p.setArguments(args);
    p.start();
    TCliRun r;
    if (!p.waitForStarted(10000)) {
        r.err = "could not start " + p.program().toStdString();
        return r;
    }
    p.waitForFinished(60000);
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}
