#include "print/cups.h"

#include <QLibrary>
#include <type_traits>

namespace print {

namespace {
constexpr int kCupsVersion = 2;
} // namespace

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

} // namespace print
