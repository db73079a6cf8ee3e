#include "draw/randomsource.h"
#include "draw/sixnumbers.h"
#include "support/scriptedsource.h"

#include <QTest>
#include <cmath>
#include <limits>
#include <set>

// The real generator with a fixed seed that the draw's reseed leaves alone.
class FixedSeedSource final : public draw::RandomSource {
public:
    explicit FixedSeedSource(std::uint64_t seed)
        : mSource(seed)
    {
    }
    void seedFromClock() override {}
    double next() override { return mSource.next(); }

private:
    draw::SystemRandomSource mSource;
};

class TestSixNumbers : public QObject {
    Q_OBJECT

private slots:
    void numberFromUnit_data();
    void numberFromUnit();
    void realSourceStaysBelowOne();
    void allDifferent_data();
    void allDifferent();
    void repeatedNumberRedrawsWholePass();
    void uniformPerTile();
};

void TestSixNumbers::numberFromUnit_data()
{
    QTest::addColumn<double>("r");
    QTest::addColumn<int>("n");
    QTest::newRow("zero gives 1") << 0.0 << 1;
    QTest::newRow("0.02 gives 1") << 0.02 << 1;
    QTest::newRow("one half gives 22") << 0.5 << 22;
    QTest::newRow("largest double below 1 gives 43") << std::nextafter(1.0, 0.0) << 43;
    QTest::newRow("largest float below 1 gives 43")
        << static_cast<double>(std::nextafter(1.0F, 0.0F)) << 43;
    QTest::newRow("42/43 gives 43") << 42.5 / 43.0 << 43;
}

void TestSixNumbers::numberFromUnit()
{
    QFETCH(double, r);
    QFETCH(int, n);
    QCOMPARE(draw::numberFromUnit(r), n);
}

void TestSixNumbers::realSourceStaysBelowOne()
{
    draw::SystemRandomSource source;
    for (int i = 0; i < 100000; ++i) {
        const double r = source.next();
        QVERIFY(r >= 0.0 && r < 1.0);
    }
    // Two reseeds in quick succession start different sequences.
    source.seedFromClock();
    const double first = source.next();
    source.seedFromClock();
    QVERIFY(source.next() != first);
}

void TestSixNumbers::allDifferent_data()
{
    QTest::addColumn<draw::Numbers>("numbers");
    QTest::addColumn<bool>("different");
    QTest::newRow("six different") << draw::Numbers{23, 7, 41, 2, 15, 30} << true;
    // Every one of the fifteen pairs of tiles, neighbours and far apart.
    for (std::size_t i = 0; i < draw::kTileCount; ++i) {
        for (std::size_t j = i + 1; j < draw::kTileCount; ++j) {
            draw::Numbers numbers{1, 2, 3, 4, 5, 6};
            numbers[j] = numbers[i];
            QTest::addRow("tiles %zu and %zu equal", i, j) << numbers << false;
        }
    }
}

void TestSixNumbers::allDifferent()
{
    QFETCH(draw::Numbers, numbers);
    QFETCH(bool, different);
    QCOMPARE(draw::allDifferent(numbers), different);
}

void TestSixNumbers::repeatedNumberRedrawsWholePass()
{
    // The first pass repeats 5 on its last tile; the second pass is kept whole, from tile 0.
    ScriptedSource source(ScriptedSource::valuesFor({5, 9, 13, 17, 21, 5, 23, 7, 41, 2, 15, 30}));
    const draw::Numbers numbers = draw::drawSix(source);
    QCOMPARE(numbers, (draw::Numbers{23, 7, 41, 2, 15, 30}));
    QCOMPARE(source.taken, 12);
}

void TestSixNumbers::uniformPerTile()
{
    // A chi-square test per tile over 43 cells (42 degrees of freedom). 85 lies far above
    // the 0.01 % quantile (about 80) yet far below what a draw of 0..42, 2..44 or a biased
    // scale gives at this many draws.
    constexpr int kDraws = 200000;
    constexpr double kBound = 85.0;
    FixedSeedSource source(20261207);
    std::array<std::array<int, draw::kHighestNumber + 2>, draw::kTileCount> counts{};
    for (int i = 0; i < kDraws; ++i) {
        const draw::Numbers numbers = draw::drawSix(source);
        QCOMPARE(std::set<int>(numbers.begin(), numbers.end()).size(), numbers.size());
        for (std::size_t tile = 0; tile < numbers.size(); ++tile) {
            const int n = numbers[tile];
            QVERIFY2(n >= draw::kLowestNumber && n <= draw::kHighestNumber, "number out of range");
            ++counts[tile][static_cast<std::size_t>(n)];
        }
    }
    const double expected = double{kDraws} / draw::kHighestNumber;
    for (std::size_t tile = 0; tile < counts.size(); ++tile) {
        double chiSquare = 0;
        for (int n = draw::kLowestNumber; n <= draw::kHighestNumber; ++n) {
            const double difference = counts[tile][static_cast<std::size_t>(n)] - expected;
            chiSquare += difference * difference / expected;
        }
        QVERIFY2(chiSquare < kBound,
                 qPrintable(QStringLiteral("tile %1: chi-square %2").arg(tile).arg(chiSquare)));
    }
}

QTEST_APPLESS_MAIN(TestSixNumbers)
#include "tst_sixnumbers.moc"
