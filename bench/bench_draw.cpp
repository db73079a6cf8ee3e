// The draw button with a full history: every draw repeats all 32,766 earlier lines, is counted
// against them, asked about and discarded, and recorded in the journal each time, so each click
// runs the whole path at its longest.
#include "app/frmqelvo.h"
#include "draw/historyline.h"
#include "draw/randomsource.h"
#include "draw/sixnumbers.h"
#include "support/samples.h"
#include "support/scriptedquestionbox.h"
#include "support/scriptedsource.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

frmQelvo::Services servicesIn(const QTemporaryDir& folder, draw::RandomSource& random,
                              QuestionBox& questions, history::Journal& journal)
{
    frmQelvo::Services services{[] { return desktop::PreviousInstance::None; },
                                {QFile::encodeName(folder.path()), folder.path(), true},
                                &random,
                                &questions,
                                nullptr,
                                [](const QString& /*text*/) {},
                                [] {}};
    services.journal = &journal;
    return services;
}

// Always the same six numbers, so that every draw repeats the loaded lines; every repeat is
// answered No.
void sameDrawAnsweredNo(ScriptedSource& random, ScriptedQuestionBox& questions)
{
    random.feed({23, 7, 41, 2, 15, 30});
    random.cycle = true;
    questions.otherwise = QuestionBox::kNo;
}

// A history file of count lines, all equal to the line of the draw of sameDrawAnsweredNo().
bool writeHistory(const QString& folder, int count)
{
    return samples::writeFile(folder + QStringLiteral("/qelvo.ini"),
                              samples::historyFile(QStringList(count, samples::exampleLine())));
}

// The window's load with a full history, up to its first paint.
void loadFullHistory(benchmark::State& state)
{
    QTemporaryDir folder;
    if (!writeHistory(folder.path(), history::kMaxLines)) {
        state.SkipWithError("cannot write the history");
        return;
    }
    ScriptedSource random;
    ScriptedQuestionBox questions;
    sameDrawAnsweredNo(random, questions);
    for (auto _ : state) {
        history::Journal journal;
        frmQelvo window(servicesIn(folder, random, questions, journal));
        window.Form_Load();
        window.show();
        QCoreApplication::processEvents();
        journal.finish();
    }
}
BENCHMARK(loadFullHistory)->Unit(benchmark::kMillisecond);

void clickWithFullHistory(benchmark::State& state)
{
    QTemporaryDir folder;
    if (!writeHistory(folder.path(), history::kMaxLines - 1)) {
        state.SkipWithError("cannot write the history");
        return;
    }
    ScriptedSource random;
    ScriptedQuestionBox questions;
    sameDrawAnsweredNo(random, questions);
    // Every line drawn goes into the journal, and its taking back too.
    history::Journal journal;
    frmQelvo window(servicesIn(folder, random, questions, journal));
    window.Form_Load();
    window.show();
    auto* draw = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    for (auto _ : state) {
        draw->click();
    }
}
BENCHMARK(clickWithFullHistory)->Unit(benchmark::kMicrosecond);

void drawAndRepeatCount(benchmark::State& state)
{
    draw::SystemRandomSource random;
    history::HistoryLines lines = samples::numberedLines(history::kMaxLines - 1);
    for (auto _ : state) {
        const draw::Numbers numbers = draw::drawSix(random);
        QStringList texts;
        for (const int n : numbers) {
            texts << draw::twoDigitText(n);
        }
        texts.sort();
        lines.append(draw::joinHistoryLine(texts).toLatin1());
        benchmark::DoNotOptimize(draw::repeatCount(lines));
        lines.removeLast();
    }
}
BENCHMARK(drawAndRepeatCount)->Unit(benchmark::kMicrosecond);

} // namespace
