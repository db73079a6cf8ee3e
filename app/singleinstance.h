#pragma once

#include <QLockFile>
#include <QObject>

class QSocketNotifier;

// Whether another instance of the same executable file runs, through a lock that a crashed
// instance never leaves blocking; the running instance is asked to come to the front.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // key: names the lock and the socket; instanceKey() makes it from the executable's path.
    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // The previous-instance flag. The first call takes the lock when it is free; when another
    // instance holds it, that instance is asked to bring its window to the front.
    bool isPreviousInstanceRunning();

signals:
    void activationRequested();

private:
    void listen();

    QLockFile mLock;
    QByteArray mSocketPath;
    int mListener = -1;
    QSocketNotifier* mNotifier = nullptr;
};

// The key of an executable: its canonical path, and the user, hashed into a short name.
QString instanceKey(const QString& executablePath);
