#pragma once

#include <cups/cups.h>

namespace print {

// The functions of libcups that printing uses. The library is loaded when the print button is
// first pressed: linked at start, it and the libraries it needs (GnuTLS, Kerberos, Avahi) would
// cost every start of the program about 8 ms and 3 MB.
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

// libcups, loaded on the first call; safe from any thread.
const Cups& cups();

} // namespace print
