// Feeds arbitrary bytes to the profile-file reader and writer: no crash, no hang, no leak, and
// the history's own writes always read back as written, with every other byte kept.
#include "history/historyfile.h"
#include "history/profiledocument.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ProfileDocument document(bytes);
    if (document.toBytes() != bytes) {
        std::abort(); // reading alone changes nothing
    }
    const QByteArray count = document.value("History", "Data", "0", 256);
    history::parseCount(count);
    for (qint32 k = 1; k <= 3; ++k) {
        if (document.value("history", history::lineKey(k), "", 256).size() > 255) {
            std::abort();
        }
    }
    document.setValue("History", "Data", "2");
    document.setValue("History", "His2", "02  ;  07  ;  15  ;  23  ;  30  ;  41");
    const ProfileDocument reread(document.toBytes());
    if (reread.value("HISTORY", "his2", "", 256) != "02  ;  07  ;  15  ;  23  ;  30  ;  41") {
        std::abort();
    }
    return 0;
}
