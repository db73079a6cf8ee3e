#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace print {

// The name of the printed document, and of its job in the print queue.
inline constexpr auto kDocumentTitle = "Six Random Numbers";

// A completed document, the print queue it goes to and its paper.
struct Document {
    QString queue;
    QString media; // the paper's name, as "A4"
    QByteArray pdf;
};

// The print system's answer to a document handed to it.
struct Submission {
    bool accepted = false;
    QString reason; // the print system's words, when it refused
};
using Submit = std::function<Submission(const Document&)>;

// What became of the run's document at the program's end.
struct HandOver {
    enum class Outcome { NoDocument, Accepted, Refused, TimedOut, Interrupted };
    Outcome outcome = Outcome::NoDocument;
    QString queue;
    QString reason; // Refused: why

    // The submission may still run on its thread: the process must end without tearing down.
    [[nodiscard]] bool abandoned() const
    {
        return outcome == Outcome::TimedOut || outcome == Outcome::Interrupted;
    }
};

// Hands the document to the print system on a thread of its own and waits for its answer at
// most timeout, and only until interrupt (a descriptor) becomes readable: a print system that
// stalls cannot hold the program's end, and a signal ends the wait at once.
HandOver handOver(std::optional<Document> document, const Submit& submit,
                  std::chrono::milliseconds timeout, int interrupt);

} // namespace print
