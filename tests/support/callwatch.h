#pragma once

#include <QByteArray>
#include <QList>

// Watches every call through the system layer's table while it lives: names them in order, and
// makes calls fail or ends the process at one, as kill -9 would. One watch at a time.
class CallWatch {
public:
    static constexpr int kStop = -1;
    CallWatch();
    ~CallWatch();
    CallWatch(const CallWatch&) = delete;
    CallWatch& operator=(const CallWatch&) = delete;

    // The nth call from now on (counted from 1) of this thread fails with error, or ends the
    // process with error 0; nth 0: every call. Only calls of that name count when one is given.
    // Plans add up.
    void failAt(int nth, int error, const QByteArray& name = {});
    void endAt(int nth) { failAt(nth, 0); }
    // The process stops (SIGSTOP) before the nth call, which goes on once it is continued.
    void stopAt(int nth) { failAt(nth, kStop); }
    // The names of the calls seen since the last plan was made, in order.
    [[nodiscard]] QList<QByteArray> calls() const;
    // Whether a call that was to fail once or end the process was reached.
    [[nodiscard]] bool reached() const;
};
