#include "platform/Dialogs.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<Dialogs*> gCurrent{nullptr};

const char* IconLabel(TMsgIcon icon) {
    switch (icon) {
        case TMsgIcon::Information: return "Information";
        case TMsgIcon::Warning: return "Warning";
        case TMsgIcon::Error: return "Error";
        case TMsgIcon::Question: return "Question";
        case TMsgIcon::None: break;
    }
    return nullptr;
}

}  // namespace

TMsgResult SafeAnswer(TMsgButtons buttons) {
    switch (buttons) {
        case TMsgButtons::OK: return TMsgResult::OK;
        case TMsgButtons::YesNo: return TMsgResult::No;
        case TMsgButtons::OKCancel: return TMsgResult::Cancel;
        case TMsgButtons::YesNoCancel: return TMsgResult::Cancel;
    }
    return TMsgResult::Cancel;
}

TMsgResult FirstButton(TMsgButtons buttons) {
    switch (buttons) {
        case TMsgButtons::OK:
        case TMsgButtons::OKCancel: return TMsgResult::OK;
        case TMsgButtons::YesNo:
        case TMsgButtons::YesNoCancel: return TMsgResult::Yes;
    }
    return TMsgResult::OK;
}

bool HasButton(TMsgButtons buttons, TMsgResult answer) {
    switch (buttons) {
        case TMsgButtons::OK: return answer == TMsgResult::OK;
        case TMsgButtons::YesNo: return answer == TMsgResult::Yes || answer == TMsgResult::No;
        case TMsgButtons::OKCancel: return answer == TMsgResult::OK || answer == TMsgResult::Cancel;
        case TMsgButtons::YesNoCancel: return answer != TMsgResult::OK;
    }
    return false;
}

const char* ToString(TMsgResult answer) {
    switch (answer) {
        case TMsgResult::OK: return "OK";
        case TMsgResult::Cancel: return "Cancel";
        case TMsgResult::Yes: return "Yes";
        case TMsgResult::No: return "No";
    }
    return "?";
}

TMsgResult ConsoleDialogs::MessageBox(const QString& text, const QString& caption, TMsgButtons buttons,
                                      TMsgIcon icon) {
    const TMsgResult answer = SafeAnswer(buttons);
    QString line;
    if (const char* label = IconLabel(icon)) line += QStringLiteral("[%1] ").arg(QLatin1String(label));
    if (!caption.isEmpty()) line += caption + QStringLiteral(": ");
    line += text;
    if (buttons != TMsgButtons::OK) line += QStringLiteral(" -> %1").arg(QLatin1String(ToString(answer)));
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    return answer;
}

QStringList ConsoleDialogs::OpenFiles(const QString&, const QString&, const QString&) { return {}; }

QString ConsoleDialogs::ChooseFolder(const QString&, const QString&) { return {}; }

bool ConsoleDialogs::ChooseColor(QColor&) { return false; }

bool ConsoleDialogs::ChooseFont(QFont&) { return false; }

Dialogs& CurrentDialogs() {
    static ConsoleDialogs console;
    Dialogs* current = gCurrent.load();
    return current ? *current : console;
}

void SetCurrentDialogs(Dialogs* dialogs) { gCurrent.store(dialogs); }

ScopedCurrentDialogs::ScopedCurrentDialogs(Dialogs& dialogs) : m_previous(gCurrent.exchange(&dialogs)) {}

ScopedCurrentDialogs::~ScopedCurrentDialogs() { gCurrent.store(m_previous); }
