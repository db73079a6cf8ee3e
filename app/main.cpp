#include "app/frmqelvo.h"
#include "app/questionbox.h"
#include "app/startup.h"
#include "app/texts.h"
#include "desktop/exitguard.h"
#include "desktop/frameextents.h"
#include "desktop/programfolder.h"
#include "desktop/resources.h"
#include "desktop/singleinstance.h"
#include "desktop/standardstreams.h"
#include "desktop/terminationsignals.h"
#include "draw/randomsource.h"
#include "history/journal.h"
#include "posix/files.h"
#include "print/handover.h"
#include "print/lineprinter.h"
#ifdef _WIN32
#include "print/windowsprinter.h"
#else
#include "print/cups.h"
#endif

#include <QApplication>
#include <QFileInfo>
#include <QSessionManager>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

#ifndef _WIN32
// How long a press of the print button waits for the print system to name its printer.
constexpr std::chrono::seconds kPrinterAnswerTime{5};
// How long the end waits for the print system to take the run's document.
constexpr std::chrono::seconds kHandOverTime{20};
#endif
// A run that the display's going away ended.
constexpr int kDisplayLostStatus = 1;

void reportError(const QString& text)
{
    std::fprintf(stderr, "qelvo: %s\n", qUtf8Printable(text));
}

} // namespace

int main(int argc, char* argv[])
{
    desktop::openClosedStandardStreams();
    // Before the toolkit, which hangs for good where it lacks them.
    if (const std::optional<desktop::MissingResource> missing = desktop::missingResource()) {
        reportError(texts::missingResourceMessage(*missing));
        return 1;
    }
    // Before the toolkit: the lock decides whether this program may read the history at all.
    const desktop::ProgramFolder folder =
        desktop::programFolder(QFileInfo(QFile::decodeName(argv[0])).absolutePath());
    // One program per history file: the file that the history's links lead to.
    const QString history = startup::historyFile(startup::dataFolder(folder.path));
    desktop::SingleInstance instance(posix::resolvedFile(posix::encodedName(history)).path);
    const desktop::PreviousInstance previous = instance.previousInstance();
    // Only the program that holds the history reads it, and only from a folder it can name.
    std::optional<startup::EarlyLoad> early;
    if (previous == desktop::PreviousInstance::None && folder.named) {
        early.emplace(history);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qelvo"));
    QApplication::setApplicationDisplayName(texts::text(texts::kTitle));
    QApplication::setFont(layout::windowFont());
    instance.listen();

    draw::SystemRandomSource random;
#ifdef _WIN32
    print::WindowsPrinter printer;
#else
    print::DocumentPrinter printer(
        [] { return print::lookUpWithin(print::defaultDestination, kPrinterAnswerTime); });
#endif
    MessageQuestionBox questions(nullptr);
    history::Journal journal;

    frmQelvo::Services services{[previous] { return previous; },
                                folder,
                                &random,
                                &questions,
                                &printer,
                                reportError,
                                [] { QCoreApplication::exit(0); },
                                desktop::frameExtents};
    services.lockProblem = instance.problem();
    services.journal = &journal;
    if (early) {
        services.loadHistory = [&early](const QString& path) { return early->take(path); };
    }
    frmQelvo window(std::move(services));
    questions.setParentWindow(&window);
    window.Form_Load();
    if (const std::optional<int> code = window.endCode()) {
        return *code;
    }

    QObject::connect(&instance, &desktop::SingleInstance::activationRequested, &window,
                     &frmQelvo::bringToFront);
    desktop::TerminationSignals terminations;
    QObject::connect(&terminations, &desktop::TerminationSignals::received, &window,
                     &frmQelvo::endNow);
    // Qt forbids quitting here: the save is done and the session manager ends the program.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.saveForSessionEnd(); });

    // However the run ends, the history is saved first; then a new start may begin at once,
    // and the printed lines of the run become one job.
    const auto endRun = [&](int status) {
        journal.finish();
        instance.release();
#ifdef _WIN32
        const print::HandOver handed = printer.finish();
#else
        const print::HandOver handed = print::handOver(printer.finish(), print::submitToCups,
                                                       kHandOverTime, terminations.descriptor());
#endif
        if (handed.outcome != print::HandOver::Outcome::Accepted &&
            handed.outcome != print::HandOver::Outcome::NoDocument) {
            reportError(texts::handOverMessage(handed));
            status = 1;
        }
        return std::pair{status, handed.abandoned()};
    };
    desktop::ExitGuard displayLost([&] {
        window.endWithoutDisplay();
        return endRun(kDisplayLostStatus).first;
    });
    printer.setOpened([&displayLost] { displayLost.arm(); });
    QObject::connect(&window, &frmQelvo::runKept, &window, [&displayLost] { displayLost.arm(); });

    window.show();
    QApplication::exec();
    const auto [status, abandoned] = endRun(window.exitStatus());
    if (abandoned) {
        // The print system still holds a thread of ours: nothing is torn down under it.
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}
