#include "app/frmqelvo.h"
#include "app/questionbox.h"
#include "app/texts.h"
#include "desktop/frameextents.h"
#include "desktop/programfolder.h"
#include "desktop/singleinstance.h"
#include "desktop/terminationsignals.h"
#include "draw/randomsource.h"
#include "print/lineprinter.h"

#include <QApplication>
#include <QSessionManager>
#include <QTranslator>
#include <chrono>
#include <cstdio>

namespace {
// How long a press of the print button waits for the print system to name its printer.
constexpr std::chrono::seconds kPrinterAnswerTime{5};
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qelvo"));
    QApplication::setApplicationDisplayName(texts::text(texts::kTitle));
    QApplication::setFont(layout::windowFont());

    QTranslator toolkitTexts;
    installToolkitTranslation(toolkitTexts);

    const desktop::ProgramFolder folder =
        desktop::programFolder(QApplication::applicationDirPath());
    desktop::SingleInstance instance(folder.bytes);
    draw::SystemRandomSource random;
    print::DocumentPrinter printer(
        [] { return print::lookUpWithin(print::defaultPrinter, kPrinterAnswerTime); });
    MessageQuestionBox questions(nullptr);

    frmQelvo window(
        {[&instance] { return instance.isPreviousInstanceRunning(); }, folder, &random, &questions,
         &printer,
         [](const QString& text) { std::fprintf(stderr, "qelvo: %s\n", qUtf8Printable(text)); },
         [] { QCoreApplication::exit(0); }, desktop::frameExtents});
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

    window.show();
    QApplication::exec();
    // The printed lines of this run become one job once the program ends.
    printer.finish();
    return window.exitStatus();
}
