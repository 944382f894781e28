// Dialogs: the scripted fake used by tests, the console default and the current instance.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/ScriptedDialogs.h"

namespace {

using TKind = ScriptedDialogs::TKind;

TEST(ScriptedDialogs, AnswersFromTheQueueThenTheDefault) {
    ScriptedDialogs dialogs;
    dialogs.QueueAnswers({TMsgResult::No, TMsgResult::Cancel});
    dialogs.QueueAnswer(TMsgResult::Yes);
    EXPECT_EQ(dialogs.MessageBox("Overwrite a.avi?", "Confirm", TMsgButtons::YesNo, TMsgIcon::Question),
              TMsgResult::No);
    EXPECT_EQ(dialogs.MessageBox("Stop?", "", TMsgButtons::YesNoCancel, TMsgIcon::Warning), TMsgResult::Cancel);
    EXPECT_EQ(dialogs.PendingAnswers(), 1);
    EXPECT_EQ(dialogs.MessageBox("Again?", "", TMsgButtons::YesNo, TMsgIcon::Question), TMsgResult::Yes);
    EXPECT_EQ(dialogs.PendingAnswers(), 0);

    // With the queue empty and no default set: the first button, as Enter would pick.
    struct Case {
        TMsgButtons buttons;
        TMsgResult expected;
    } cases[] = {{TMsgButtons::OK, TMsgResult::OK},
                 {TMsgButtons::OKCancel, TMsgResult::OK},
                 {TMsgButtons::YesNo, TMsgResult::Yes},
                 {TMsgButtons::YesNoCancel, TMsgResult::Yes}};
    for (const Case& c : cases) EXPECT_EQ(dialogs.MessageBox("t", "c", c.buttons, TMsgIcon::None), c.expected);

    dialogs.SetDefaultAnswer(TMsgResult::No);
    EXPECT_EQ(dialogs.MessageBox("t", "c", TMsgButtons::YesNo, TMsgIcon::None), TMsgResult::No);
    dialogs.QueueAnswer(TMsgResult::Yes);  // a queued answer still comes first
    EXPECT_EQ(dialogs.MessageBox("t", "c", TMsgButtons::YesNo, TMsgIcon::None), TMsgResult::Yes);
    dialogs.SetDefaultAnswer(std::nullopt);
    EXPECT_EQ(dialogs.MessageBox("t", "c", TMsgButtons::OKCancel, TMsgIcon::None), TMsgResult::OK);
}

TEST(ScriptedDialogs, RecordsEveryCallWithItsDetails) {
    ScriptedDialogs dialogs;
    dialogs.QueueAnswer(TMsgResult::Cancel);
    dialogs.MessageBox("Cannot open file!", "Error", TMsgButtons::OKCancel, TMsgIcon::Error);
    dialogs.ShowMessage("Done.");
    dialogs.OpenFiles("Add files", "/home/ann", "Video (*.avi);;All (*)");
    const QList<ScriptedDialogs::TCall> messages = dialogs.Messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0].text, "Cannot open file!");
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].buttons, TMsgButtons::OKCancel);
    EXPECT_EQ(messages[0].icon, TMsgIcon::Error);
    EXPECT_EQ(messages[0].answer, TMsgResult::Cancel);
    EXPECT_EQ(messages[1].text, "Done.");
    EXPECT_EQ(messages[1].buttons, TMsgButtons::OK);
    EXPECT_EQ(messages[1].icon, TMsgIcon::None);
    EXPECT_EQ(dialogs.MessageTexts(), (QStringList{"Cannot open file!", "Done."}));

    const QList<ScriptedDialogs::TCall> calls = dialogs.Calls();
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[2].kind, TKind::OpenFiles);
    EXPECT_EQ(calls[2].caption, "Add files");
    EXPECT_EQ(calls[2].folder, "/home/ann");
    EXPECT_EQ(calls[2].filter, "Video (*.avi);;All (*)");
    EXPECT_FALSE(calls[2].accepted);

    dialogs.QueueAnswer(TMsgResult::Yes);
    dialogs.Clear();
    EXPECT_TRUE(dialogs.Calls().isEmpty());
    EXPECT_EQ(dialogs.PendingAnswers(), 0);
}

TEST(ScriptedDialogs, PickersTakeScriptedPicksAndAreCancelledWithoutThem) {
    ScriptedDialogs dialogs;
    dialogs.QueueFiles({"/v/a.avi", "/v/b.mpg"});
    dialogs.QueueFolder("/out");
    dialogs.QueueFolder("");  // cancelled
    dialogs.QueueColor(QColor(1, 2, 3));
    dialogs.QueueColor(std::nullopt);
    QFont pick("DejaVu Serif", 20);
    dialogs.QueueFont(pick);

    EXPECT_EQ(dialogs.OpenFiles("c", "/v", "*"), (QStringList{"/v/a.avi", "/v/b.mpg"}));
    EXPECT_TRUE(dialogs.OpenFiles("c", "/v", "*").isEmpty());
    EXPECT_EQ(dialogs.ChooseFolder("Output", "/start"), "/out");
    EXPECT_EQ(dialogs.ChooseFolder("Output", "/start"), "");
    EXPECT_EQ(dialogs.ChooseFolder("Output", "/start"), "");

    QColor color(9, 9, 9);
    EXPECT_TRUE(dialogs.ChooseColor(color));
    EXPECT_EQ(color, QColor(1, 2, 3));
    color = QColor(9, 9, 9);
    EXPECT_FALSE(dialogs.ChooseColor(color));
    EXPECT_EQ(color, QColor(9, 9, 9));
    EXPECT_FALSE(dialogs.ChooseColor(color));

    QFont font("DejaVu Sans", 8);
    EXPECT_TRUE(dialogs.ChooseFont(font));
    EXPECT_EQ(font, pick);
    EXPECT_FALSE(dialogs.ChooseFont(font));
    EXPECT_EQ(font, pick);

    const QList<ScriptedDialogs::TCall> calls = dialogs.Calls();
    ASSERT_EQ(calls.size(), 10);
    EXPECT_EQ(calls[2].kind, TKind::ChooseFolder);
    EXPECT_EQ(calls[2].caption, "Output");
    EXPECT_EQ(calls[2].folder, "/start");
    EXPECT_TRUE(calls[2].accepted);
    EXPECT_FALSE(calls[3].accepted);
    EXPECT_EQ(calls[5].kind, TKind::ChooseColor);
    EXPECT_TRUE(calls[5].accepted);
    EXPECT_EQ(calls[8].kind, TKind::ChooseFont);
    EXPECT_EQ(dialogs.MessageCount(), 0);
}

TEST(ScriptedDialogs, CallsFromSeveralThreadsAreAllRecorded) {
    ScriptedDialogs dialogs;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) dialogs.MessageBox("m", "c", TMsgButtons::OK, TMsgIcon::None);
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(dialogs.MessageCount(), 400);
}

TEST(ConsoleDialogs, PrintsTheMessageAndGivesTheSafeAnswer) {
    struct Case {
        TMsgButtons buttons;
        TMsgResult expected;
    } cases[] = {{TMsgButtons::OK, TMsgResult::OK},
                 {TMsgButtons::YesNo, TMsgResult::No},
                 {TMsgButtons::OKCancel, TMsgResult::Cancel},
                 {TMsgButtons::YesNoCancel, TMsgResult::Cancel}};
    ConsoleDialogs console;
    for (const Case& c : cases) {
        ::testing::internal::CaptureStderr();
        const TMsgResult answer = console.MessageBox("Delete the file?", "Question", c.buttons, TMsgIcon::Warning);
        const std::string printed = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(SafeAnswer(c.buttons), c.expected);
        EXPECT_TRUE(HasButton(c.buttons, answer));
        EXPECT_NE(printed.find("Question: Delete the file?"), std::string::npos) << printed;
        EXPECT_NE(printed.find("Warning"), std::string::npos) << printed;
    }
    QColor color(Qt::red);
    QFont font("DejaVu Sans", 9);
    EXPECT_FALSE(console.ChooseColor(color));
    EXPECT_EQ(color, QColor(Qt::red));
    EXPECT_FALSE(console.ChooseFont(font));
    EXPECT_TRUE(console.OpenFiles("c", "/", "*").isEmpty());
    EXPECT_TRUE(console.ChooseFolder("c", "/").isEmpty());
}

TEST(CurrentDialogs, DefaultsToTheConsoleAndCanBeReplacedAndRestored) {
    EXPECT_NE(dynamic_cast<ConsoleDialogs*>(&CurrentDialogs()), nullptr);
    ScriptedDialogs outer, inner;
    {
        ScopedCurrentDialogs useOuter(outer);
        EXPECT_EQ(&CurrentDialogs(), &outer);
        {
            ScopedCurrentDialogs useInner(inner);
            CurrentDialogs().ShowMessage("to inner");
        }
        EXPECT_EQ(&CurrentDialogs(), &outer);
    }
    EXPECT_EQ(inner.MessageTexts(), QStringList{"to inner"});
    EXPECT_TRUE(outer.Calls().isEmpty());
    EXPECT_NE(dynamic_cast<ConsoleDialogs*>(&CurrentDialogs()), nullptr);

    SetCurrentDialogs(&outer);
    EXPECT_EQ(&CurrentDialogs(), &outer);
    SetCurrentDialogs(nullptr);
    EXPECT_NE(dynamic_cast<ConsoleDialogs*>(&CurrentDialogs()), nullptr);
}

}  // namespace
