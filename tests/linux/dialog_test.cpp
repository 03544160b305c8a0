// Dialogs on the terminal, driven through standard input in a child.

#include <gtest/gtest.h>

#include <string>

#include "linux_test_support.h"
#include "platform/platform.h"

namespace {

const char Question[] = "Quellstormをバージョン1.04\nにアップデートします。";
const char Caption[] = "Quellstorm update 1.04";
const std::string Box = std::string(Caption) + "\n" + Question + "\n";
const std::string Prompt = "OK or Cancel? [OK] ";

struct AnswerCase {
    std::string input;
    DialogAnswer answer;
    int prompts; // how often the question was put
};

class QuestionOnTheTerminal : public testing::TestWithParam<AnswerCase> {};

TEST_P(QuestionOnTheTerminal, ReadsItsAnswerFromStandardInput) {
    const AnswerCase& c = GetParam();
    const ChildResult child =
        RunInChild([] { return int(PlatformShowDialog(Question, Caption, DialogQuestion)); }, {.input = c.input});
    EXPECT_EQ(child.exit_code, int(c.answer));
    std::string expected = Box;
    for (int i = 0; i < c.prompts; ++i) expected += Prompt;
    expected += c.answer == DialogNoAnswer ? "\n\n" : "\n";
    EXPECT_EQ(child.output, expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, QuestionOnTheTerminal,
                         testing::Values(AnswerCase{"\n", DialogAnswerOk, 1}, AnswerCase{"ok\n", DialogAnswerOk, 1},
                                         AnswerCase{"OK\r\n", DialogAnswerOk, 1},
                                         AnswerCase{" Y \n", DialogAnswerOk, 1},
                                         AnswerCase{"cancel\n", DialogAnswerCancel, 1},
                                         AnswerCase{"C\n", DialogAnswerCancel, 1},
                                         AnswerCase{"n", DialogAnswerCancel, 1},
                                         AnswerCase{"yes\nmaybe\nN\n", DialogAnswerCancel, 3},
                                         AnswerCase{std::string(200, 'y') + "\nok\n", DialogAnswerOk, 2},
                                         AnswerCase{"", DialogNoAnswer, 1},
                                         AnswerCase{"later\n", DialogNoAnswer, 2}));

TEST(MessageOnTheTerminal, PrintsCaptionAndTextAndWaitsForNoOneOffATerminal) {
    const ChildResult child =
        RunInChild([] { return int(PlatformShowDialog(Question, Caption, DialogMessage)); }, {.input = ""});
    EXPECT_EQ(child.exit_code, int(DialogAnswerOk));
    EXPECT_EQ(child.output, Box + "\n");
}

} // namespace
