// The Qt window under the window contract tests (app/window_contract_test.h)
// and the Qt window's own tests: a MainWindow with a TForm1 over it, made
// and shown as the program does on the offscreen platform, what it
// remembers kept in an INI file in a scratch folder. For window tests only
// (the QApplication comes from qt_test_environment.cc); user-interface
// thread only.
#ifndef LARKSPUR_APP_QT_QT_WINDOW_DRIVER_H_
#define LARKSPUR_APP_QT_QT_WINDOW_DRIVER_H_

#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "app/qt/main_window.h"
#include "app/tform1.h"
#include "app/window_contract_test.h"
#include "testing/scratch_folder.h"

class QAction;

namespace larkspur {

class QtWindowDriver : public WindowDriver {
 public:
  QtWindowDriver();
  ~QtWindowDriver() override;

  MainWindow& main_window() { return *window_; }
  // The action of a menu item, by its object name ("Open1").
  QAction* Action(const char* name);
  // The INI file that holds what the window remembers.
  QString settings_file() const { return QString::fromStdString(settings_.Path("larkspur.ini")); }

  // WindowDriver.
  Window& window() override { return *window_; }
  TForm1& form() override { return *form_; }
  std::string Caption() override;
  std::vector<std::string> LogLines() override;
  std::string StatusText(int panel) override;
  std::vector<std::string> MenuCaptions() override;
  bool CommandEnabled(Command command) override;
  std::vector<std::string> SelectorItems() override;
  bool SelectorEnabled() override;
  std::string DonationText() override;
  void ChooseModel(int index) override;
  void Choose(Command command) override;
  void ClickPicture() override;
  void DropFile(const std::string& path) override;
  void CloseWindow() override;
  void Restart() override;
  void ServeOnce() override;

 private:
  void Start();

  testing::ScratchFolder settings_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<TForm1> form_;
};

std::unique_ptr<WindowDriver> MakeQtWindowDriver();

}  // namespace larkspur

#endif  // LARKSPUR_APP_QT_QT_WINDOW_DRIVER_H_
