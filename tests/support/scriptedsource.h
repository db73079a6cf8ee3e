#pragma once

#include "draw/randomsource.h"

#include <QList>

// Gives a fixed list of values in order and counts the reseeds.
class ScriptedSource final : public draw::RandomSource {
public:
    explicit ScriptedSource(QList<double> values = {})
        : mValues(std::move(values))
    {
    }

    void feed(std::initializer_list<int> numbers) { mValues << valuesFor(numbers); }

    void seedFromClock() override { ++seeds; }
    double next() override { return mValues.at(cycle ? taken++ % mValues.size() : taken++); }

    // A value that draws the number n.
    static double valueFor(int n) { return (n - 0.5) / 43.0; }
    static QList<double> valuesFor(std::initializer_list<int> numbers)
    {
        QList<double> values;
        for (const int n : numbers) {
            values << valueFor(n);
        }
        return values;
    }

    int seeds = 0;
    qsizetype taken = 0;
    // The values start again from the first once all are taken.
    bool cycle = false;

private:
    QList<double> mValues;
};
