// The QApplication of the window tests, made once for the whole program on
// the offscreen platform, so no display is needed. The platform is set here
// and not only by ctest, because test discovery starts the program outside
// ctest's environment.
#include <memory>

#include <QApplication>
#include <QtGlobal>
#include <gtest/gtest.h>

namespace {

class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  // QApplication keeps references to these for its whole life.
  int argc_ = 1;
  char program_name_[16] = "qt_window_test";
  char* argv_[2] = {program_name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

// gtest takes ownership of the environment.
testing::Environment* const kQtEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
