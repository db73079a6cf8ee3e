#include "print/cups.h"

#include <QLibrary>
#include <QLocale>
#include <cups/cups.h>
#include <type_traits>

namespace print {

namespace {

constexpr int kCupsVersion = 2;
constexpr auto kDocumentName = "history.pdf";
constexpr auto kNoCups = "libcups.so.2 cannot be loaded";
// The print system gives paper sizes in hundredths of a millimetre.
constexpr qreal kHundredthsPerMillimetre = 100;

// The functions of libcups that printing uses, found in the library when it is first loaded.
struct Cups {
    decltype(&::cupsGetNamedDest) getNamedDest = nullptr;
    decltype(&::cupsFreeDests) freeDests = nullptr;
    decltype(&::cupsCopyDestInfo) copyDestInfo = nullptr;
    decltype(&::cupsFreeDestInfo) freeDestInfo = nullptr;
    decltype(&::cupsGetDestMediaDefault) getDestMediaDefault = nullptr;
    decltype(&::cupsAddOption) addOption = nullptr;
    decltype(&::cupsFreeOptions) freeOptions = nullptr;
    decltype(&::cupsCreateJob) createJob = nullptr;
    decltype(&::cupsStartDocument) startDocument = nullptr;
    decltype(&::cupsWriteRequestData) writeRequestData = nullptr;
    decltype(&::cupsFinishDocument) finishDocument = nullptr;
    decltype(&::cupsCancelJob2) cancelJob = nullptr;
    decltype(&::cupsLastErrorString) lastErrorString = nullptr;
    bool loaded = false; // every function was found
};

const Cups& cups()
{
    static const Cups loaded = [] {
        Cups functions;
        QLibrary library(QStringLiteral("cups"), kCupsVersion);
        const auto resolve = [&library](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                library.resolve(name));
            return function != nullptr;
        };
        functions.loaded = library.load() && resolve(functions.getNamedDest, "cupsGetNamedDest") &&
                           resolve(functions.freeDests, "cupsFreeDests") &&
                           resolve(functions.copyDestInfo, "cupsCopyDestInfo") &&
                           resolve(functions.freeDestInfo, "cupsFreeDestInfo") &&
                           resolve(functions.getDestMediaDefault, "cupsGetDestMediaDefault") &&
                           resolve(functions.addOption, "cupsAddOption") &&
                           resolve(functions.freeOptions, "cupsFreeOptions") &&
                           resolve(functions.createJob, "cupsCreateJob") &&
                           resolve(functions.startDocument, "cupsStartDocument") &&
                           resolve(functions.writeRequestData, "cupsWriteRequestData") &&
                           resolve(functions.finishDocument, "cupsFinishDocument") &&
                           resolve(functions.cancelJob, "cupsCancelJob2") &&
                           resolve(functions.lastErrorString, "cupsLastErrorString");
        return functions;
    }();
    return loaded;
}

Submission refused(const char* reason)
{
    return {false, QString::fromUtf8(reason)};
}

// The paper of a queue that does not tell its own: Letter where the system's locale measures in
// the US system, else A4.
QPageSize::PageSizeId defaultPageSize()
{
    return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                              : QPageSize::A4;
}

} // namespace

std::optional<Destination> defaultDestination()
{
    const Cups& cups = print::cups();
    // Without a default queue nothing is printed at all, not even on another queue.
    cups_dest_t* queue =
        cups.loaded ? cups.getNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr) : nullptr;
    if (queue == nullptr) {
        return std::nullopt;
    }
    Destination destination{QString::fromUtf8(queue->name), QPageSize(defaultPageSize()), {}};
    cups_size_t paper{};
    if (cups_dinfo_t* info = cups.copyDestInfo(CUPS_HTTP_DEFAULT, queue)) {
        if (cups.getDestMediaDefault(CUPS_HTTP_DEFAULT, queue, info, 0, &paper) != 0) {
            destination.media = QString::fromUtf8(paper.media);
            destination.pageSize =
                QPageSize(QSizeF(paper.width, paper.length) / kHundredthsPerMillimetre,
                          QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch);
        }
        cups.freeDestInfo(info);
    }
    cups.freeDests(1, queue);
    return destination;
}

Submission submitToCups(const Document& document)
{
    const Cups& cups = print::cups();
    if (!cups.loaded) {
        return refused(kNoCups);
    }
    const QByteArray queue = document.queue.toUtf8();
    const QByteArray media = document.media.toUtf8();
    cups_option_t* options = nullptr;
    const int count = media.isEmpty() ? 0 : cups.addOption("media", media.constData(), 0, &options);
    const int job =
        cups.createJob(CUPS_HTTP_DEFAULT, queue.constData(), kDocumentTitle, count, options);
    cups.freeOptions(count, options);
    if (job == 0) {
        Submission failed = refused(cups.lastErrorString());
        // For a queue that is gone, the job's creation tells only of an internal error; asking
        // for the queue gives the print system's own words.
        if (cups_dest_t* destination =
                cups.getNamedDest(CUPS_HTTP_DEFAULT, queue.constData(), nullptr)) {
            cups.freeDests(1, destination);
        } else {
            failed = refused(cups.lastErrorString());
        }
        return failed;
    }
    if (cups.startDocument(CUPS_HTTP_DEFAULT, queue.constData(), job, kDocumentName,
                           CUPS_FORMAT_PDF, 1) != HTTP_STATUS_CONTINUE ||
        cups.writeRequestData(CUPS_HTTP_DEFAULT, document.pdf.constData(),
                              static_cast<std::size_t>(document.pdf.size())) !=
            HTTP_STATUS_CONTINUE ||
        cups.finishDocument(CUPS_HTTP_DEFAULT, queue.constData()) != IPP_STATUS_OK) {
        Submission failed = refused(cups.lastErrorString());
        cups.cancelJob(CUPS_HTTP_DEFAULT, queue.constData(), job, 0);
        return failed;
    }
    return {true, {}};
}

} // namespace print
