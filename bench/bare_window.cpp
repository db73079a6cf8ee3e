// A bare Qt window with the same controls as the program's, in the same places and with the same
// Japanese captions, and nothing else: the yardstick that the program's start is measured
// against. It loads the same fonts as the program, so that only the program's own work differs.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <array>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Six Random Numbers"));
    window.setFixedSize(305, 207);
    const std::array<int, 6> tileLefts{14, 64, 112, 160, 208, 256};
    for (std::size_t i = 0; i < tileLefts.size(); ++i) {
        auto* tile = new QLabel(i % 2 == 0 ? QStringLiteral("★") : QStringLiteral("☆"), &window);
        tile->setGeometry(tileLefts.at(i), 16, 41, 31);
    }
    (new QPushButton(QStringLiteral("乱数発生"), &window))->setGeometry(8, 56, 289, 33);
    (new QLabel(QStringLiteral("並 替"), &window))->setGeometry(8, 104, 28, 12);
    (new QLabel(QStringLiteral("履 歴"), &window))->setGeometry(80, 104, 28, 12);
    (new QListWidget(&window))->setGeometry(8, 120, 33, 76);
    (new QPushButton(QStringLiteral("履\n歴\n印\n刷"), &window))->setGeometry(51, 120, 25, 77);
    (new QListWidget(&window))->setGeometry(80, 120, 185, 76);
    (new QPushButton(QStringLiteral("履\n歴\n全\n消\n去"), &window))->setGeometry(272, 120, 25, 77);
    window.show();
    return QApplication::exec();
}
