#include "print/handover.h"

#include "posix/clock.h"
#include "posix/descriptor.h"
#include "posix/systemcalls.h"

#include <QtGlobal>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <system_error>
#include <thread>

namespace print {

namespace {

// How soon a signal ends the wait.
constexpr std::chrono::milliseconds kPollTime{10};

// The answer, shared by the waiting end and the thread that submits, which may outlive it.
struct Answer {
    std::mutex lock;
    Submission submission;
    std::array<posix::Descriptor, 2> done; // written to once the submission has its answer

    Answer()
    {
        std::array<int, 2> ends{-1, -1};
        if (posix::calls().pipe2(ends.data(), O_CLOEXEC) == 0) {
            done = {posix::Descriptor(ends[0]), posix::Descriptor(ends[1])};
        }
    }
};

} // namespace

HandOver handOver(std::optional<Document> document, const Submit& submit,
                  std::chrono::milliseconds timeout, int interrupt)
{
    if (!document) {
        return {};
    }
    HandOver result{HandOver::Outcome::TimedOut, document->queue, {}};
    auto answer = std::make_shared<Answer>();
    if (!answer->done[0].isOpen()) {
        return {HandOver::Outcome::Refused, document->queue,
                QString::fromUtf8(std::strerror(errno))};
    }
    try {
        std::thread([answer, submit, job = std::move(*document)] {
            Submission submission = submit(job);
            const std::lock_guard guard(answer->lock);
            answer->submission = std::move(submission);
            // An empty pipe takes the one byte.
            posix::calls().write(answer->done[1].get(), "d", 1);
        }).detach();
    } catch (const std::system_error& error) {
        return {HandOver::Outcome::Refused, result.queue, QString::fromUtf8(error.what())};
    }

    // Either descriptor readable ends the wait: the answer, or a signal (poll passes over a
    // descriptor of -1).
    std::array<pollfd, 2> watched{{{answer->done[0].get(), POLLIN, 0}, {interrupt, POLLIN, 0}}};
    if (!posix::waitFor(timeout, kPollTime, [&] {
            return posix::calls().poll(watched.data(), watched.size(), 0) > 0;
        })) {
        return result;
    }
    if ((watched[0].revents & POLLIN) != 0) {
        const std::lock_guard guard(answer->lock);
        result.outcome =
            answer->submission.accepted ? HandOver::Outcome::Accepted : HandOver::Outcome::Refused;
        result.reason = answer->submission.reason;
        return result;
    }
    result.outcome = HandOver::Outcome::Interrupted;
    return result;
}

} // namespace print
