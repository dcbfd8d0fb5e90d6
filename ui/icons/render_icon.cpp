// Build tool: renders the program's icon from its SVG source to square PNG
// images, one per size, named quarn-<size>.png.
//   quarn-render-icon SOURCE.svg OUTPUT_DIRECTORY SIZE...
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s SOURCE.svg OUTPUT_DIRECTORY SIZE...\n", argv[0]);
    return 2;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid()) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  const QDir output(QString::fromLocal8Bit(argv[2]));
  if (!output.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "%s: cannot create %s\n", argv[0], argv[2]);
    return 1;
  }
  for (int k = 3; k < argc; ++k) {
    const int sizePx = QString::fromLatin1(argv[k]).toInt();
    if (sizePx <= 0) {
      std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[k]);
      return 2;
    }
    QImage image(sizePx, sizePx, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    const QString path = output.filePath(QStringLiteral("quarn-%1.png").arg(sizePx));
    if (!image.save(path, "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(path));
      return 1;
    }
  }
  return 0;
}
