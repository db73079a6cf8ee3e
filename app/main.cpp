#include "app/frmqelvo.h"
#include "app/layout.h"
#include "app/questionbox.h"
#include "app/singleinstance.h"
#include "app/terminationsignals.h"
#include "draw/randomsource.h"
#include "print/lineprinter.h"

#include <QApplication>
#include <QSessionManager>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qelvo"));
    QApplication::setApplicationDisplayName(QString::fromUtf16(layout::kTitle));
    QApplication::setFont(layout::windowFont());

    installToolkitTranslation();

    SingleInstance instance(instanceKey(QApplication::applicationFilePath()));
    SystemRandomSource random;
    DocumentPrinter printer(defaultPrinter);
    MessageQuestionBox questions(nullptr);

    frmQelvo window({[&instance] { return instance.isPreviousInstanceRunning(); },
                     QApplication::applicationDirPath(), &random, &questions, &printer});
    window.Form_Load();
    if (const std::optional<int> code = window.endCode()) {
        return *code;
    }

    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     &frmQelvo::bringToFront);
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &window,
                     &frmQelvo::closeUnrefusably);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.closeUnrefusably(); });

    window.show();
    const int status = QApplication::exec();
    // The printed lines of this run become one job once the program ends.
    printer.finish();
    return status;
}
