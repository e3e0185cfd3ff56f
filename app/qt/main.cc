// larkspur: the window program. Only wiring lives here: the application,
// the window, TForm1 over it, and the message loop.
#include <cstdio>
#include <exception>

#include <QApplication>
#include <QMessageBox>

#include "app/qt/main_window.h"
#include "app/tform1.h"
#include "port/files.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The name only; a display name would be added to the window caption.
  QApplication::setApplicationName(QString::fromUtf8(larkspur::kApplicationTitle));
  QApplication::setApplicationVersion(QString::fromUtf8(larkspur::kVersion));
  try {
    larkspur::MainWindow window;
    // Declared after the window, so it is gone before the window is.
    larkspur::TForm1 form(window, larkspur::port::ExecutableFolder());
    window.AttachForm(form);
    form.FormCreate();
    window.CenterOnScreen();
    window.show();
    const int status = app.exec();
    // Closing the window does not stop a running Extract or Repack: this
    // waits for it, serving its log lines meanwhile.
    form.FormDestroy();
    return status;
  } catch (const std::exception& error) {
    // Only start-up or teardown can get here; commands report their own
    // errors in the error box.
    std::fprintf(stderr, "larkspur: %s\n", error.what());
    QMessageBox::critical(nullptr, QString::fromUtf8(larkspur::kApplicationTitle),
                          QString::fromLocal8Bit(error.what()));
    return 1;
  }
}
