#pragma once

#include "print/lineprinter.h"

#include <QString>
#include <QStringList>
#include <functional>

// Keeps the printed lines; fails the lines listed in failing.
class RecordingPrinter final : public print::LinePrinter {
public:
    bool open() override { return available; }
    bool printLine(const QString& text) override
    {
        if (onLine) {
            onLine();
        }
        if (failing.contains(text)) {
            return false;
        }
        printed << text;
        return true;
    }

    bool available = true;
    // Runs as each line is printed.
    std::function<void()> onLine;
    QStringList printed;
    QStringList failing;
};
