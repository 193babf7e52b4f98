// Saves a PNG of the primary screen: grab_screen OUTPUT.png [DELAY_MS]. Used to look at
// the window under a virtual X server.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [DELAY_MS]\n", argv[0]);
    return 2;
  }
  if (argc > 2) {
    const long delay = std::strtol(argv[2], nullptr, 10);
    if (delay > 0 && delay < 60000)
      QThread::msleep(static_cast<unsigned long>(delay));
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "no screen\n");
    return 1;
  }
  const QPixmap shot = screen->grabWindow(0);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "could not save %s\n", argv[1]);
    return 1;
  }
  return 0;
}
