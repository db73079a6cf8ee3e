// Renders the icon source as a PNG file: icon_png SOURCE.xpm TARGET.png [SIZE]
#include <QImage>
#include <QString>
#include <cstdio>

int main(int argc, char* argv[])
{
    constexpr int kArguments = 3;
    if (argc < kArguments) {
        std::fputs("usage: icon_png SOURCE.xpm TARGET.png [SIZE]\n", stderr);
        return 2;
    }
    QImage image(QString::fromLocal8Bit(argv[1]));
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    if (argc > kArguments) {
        const int size = QString::fromLocal8Bit(argv[3]).toInt();
        // Blocky letters stay blocky: every pixel becomes a square.
        image = image.scaled(size, size, Qt::KeepAspectRatio, Qt::FastTransformation);
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
