#include "app/frameextents.h"
#include "app/frmqelvo.h"
#include "app/questionbox.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/terminationsignals.h"
#include "app/texts.h"
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

    const startup::ProgramFolder folder =
        startup::programFolder(QApplication::applicationDirPath());
    SingleInstance instance(folder.bytes);
    SystemRandomSource random;
    DocumentPrinter printer([] { return lookUpWithin(defaultPrinter, kPrinterAnswerTime); });
    MessageQuestionBox questions(nullptr);

    frmQelvo window(
        {[&instance] { return instance.isPreviousInstanceRunning(); }, folder, &random, &questions,
         &printer,
         [](const QString& text) { std::fprintf(stderr, "qelvo: %s\n", qUtf8Printable(text)); },
         [] { QCoreApplication::exit(0); }, frameExtents});
    questions.setParentWindow(&window);
    window.Form_Load();
    if (const std::optional<int> code = window.endCode()) {
        return *code;
    }

    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     &frmQelvo::bringToFront);
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &window, &frmQelvo::endNow);
    // Qt forbids quitting here: the save is done and the session manager ends the program.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.saveForSessionEnd(); });

    window.show();
    QApplication::exec();
    // The printed lines of this run become one job once the program ends.
    printer.finish();
    return window.exitStatus();
}
