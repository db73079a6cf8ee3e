#pragma once

#include "print/lineprinter.h"

#include <optional>

// The print system, CUPS: every call that the program makes into libcups. The library is loaded
// when the print button is first pressed: linked at start, it and the libraries it needs (GnuTLS,
// Kerberos, Avahi) would cost every start of the program about 8 ms and 3 MB. Its functions may
// be called from any thread.
namespace print {

// The system's default print queue and its paper, or nothing when there is no default queue.
std::optional<Destination> defaultDestination();

// Submits a PDF document to its CUPS queue, as the job "Six Random Numbers".
Submission submitToCups(const Document& document);

} // namespace print
