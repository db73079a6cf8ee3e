// A bare Qt window with the same controls as the program's, in the same places, and nothing else:
// the yardstick that the program's start is measured against.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.setFixedSize(305, 207);
    const std::array<int, 6> tileLefts{14, 64, 112, 160, 208, 256};
    for (const int left : tileLefts) {
        auto* tile = new QLabel(QStringLiteral("00"), &window);
        tile->setGeometry(left, 16, 41, 31);
    }
    (new QPushButton(QStringLiteral("Draw"), &window))->setGeometry(8, 56, 289, 33);
    (new QLabel(QStringLiteral("Sort"), &window))->setGeometry(8, 104, 28, 12);
    (new QLabel(QStringLiteral("History"), &window))->setGeometry(80, 104, 28, 12);
    (new QListWidget(&window))->setGeometry(8, 120, 33, 76);
    (new QPushButton(QStringLiteral("P"), &window))->setGeometry(51, 120, 25, 77);
    (new QListWidget(&window))->setGeometry(80, 120, 185, 76);
    (new QPushButton(QStringLiteral("C"), &window))->setGeometry(272, 120, 25, 77);
    window.show();
    return QApplication::exec();
}
