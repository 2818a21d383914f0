// Draws the start window's picture once; the JPEG it writes is kept in app/resources.
// Build with the target qm-make-splash and run: qm-make-splash app/resources/splash.jpg
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) return 2;
  QImage img(510, 255, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 510, 255);
  sky.setColorAt(0, QColor(18, 52, 86));
  sky.setColorAt(1, QColor(40, 110, 140));
  p.fillRect(img.rect(), sky);

  // A price list sheet, tilted, with its grid.
  p.save();
  p.translate(70, 40);
  p.rotate(-6);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(250, 250, 245));
  p.drawRoundedRect(0, 0, 190, 170, 6, 6);
  p.setPen(QPen(QColor(170, 190, 200), 1));
  for (int y = 28; y < 170; y += 18) p.drawLine(8, y, 182, y);
  for (int x : {70, 130}) p.drawLine(x, 10, x, 162);
  p.setPen(QColor(60, 60, 60));
  QFont small("Sans", 8);
  p.setFont(small);
  const char* parts[] = {"PART", "AB-100", "AB-220", "CX-310", "CX-315", "DZ-400", "DZ-410"};
  const char* prices[] = {"LIST", "12.50", "19.95", "104.00", "98.40", "7.25", "8.10"};
  for (int i = 0; i < 7; ++i) {
    p.drawText(12, 22 + i * 18, parts[i]);
    p.drawText(136, 22 + i * 18, prices[i]);
  }
  p.restore();

  // An arrow into a table drum: the import.
  p.setPen(QPen(QColor(255, 196, 64), 7, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(285, 125, 345, 125);
  QPainterPath head;
  head.moveTo(360, 125);
  head.lineTo(340, 110);
  head.lineTo(340, 140);
  head.closeSubpath();
  p.fillPath(head, QColor(255, 196, 64));
  p.setPen(QPen(QColor(230, 235, 240), 2));
  p.setBrush(QColor(90, 150, 180));
  for (int i = 2; i >= 0; --i) p.drawEllipse(QRectF(380, 70 + i * 38, 90, 30));
  p.drawRect(QRectF(380, 85, 90, 76));
  p.drawEllipse(QRectF(380, 70, 90, 30));

  QFont title("Serif", 28, QFont::Bold);
  p.setFont(title);
  p.setPen(QColor(255, 255, 255));
  p.drawText(QRect(0, 200, 430, 50), Qt::AlignLeft | Qt::AlignVCenter, "  Quillmere");
  p.end();

  QImageWriter w(QString::fromLocal8Bit(argv[1]), "jpeg");
  w.setQuality(88);
  w.setProgressiveScanWrite(false);
  return w.write(img) ? 0 : 1;
}
