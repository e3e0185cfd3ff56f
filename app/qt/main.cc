// larkspur: the window program. Only wiring lives here: the application,
// the window, TForm1 over it, and the message loop.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

#include "app/qt/main_window.h"
#include "app/texts.h"
#include "app/tform1.h"
#include "port/files.h"

namespace {

constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: larkspur [--home DIR] [--lang zh|en]\n"
    "\n"
    "  --home  the folder that plays the program folder (exebat, temp, rofs2,\n"
    "          fat16, and where REB- files go); default: this program's folder\n"
    "  --lang  the language of the window: zh (Chinese) or en (English);\n"
    "          default: the system's (Chinese for zh*, C/POSIX or none)";

struct Options {
  std::string program_folder;  // empty: the command line was wrong
  bool home_given = false;
  std::optional<larkspur::Language> language;
};

// The program folder, ending in a separator: DIR of "--home DIR" (or
// "--home=DIR"), made absolute, or else the executable's folder. Returns
// an empty text after telling the user what is wrong with the command line.
Options ParseOptions(const QStringList& arguments) {
  Options options;
  QString home;
  bool home_given = false;
  QString problem;
  for (qsizetype i = 1; i < arguments.size() && problem.isEmpty(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QLatin1String("--home")) {
      if (i + 1 >= arguments.size()) {
        problem = QStringLiteral("--home needs a folder");
      } else {
        home = arguments[++i];
        home_given = true;
      }
    } else if (argument.startsWith(QLatin1String("--home="))) {
      home = argument.mid(7);
      home_given = true;
    } else if (argument == QLatin1String("--lang") || argument.startsWith(QLatin1String("--lang="))) {
      const QString lang = argument == QLatin1String("--lang") ? (i + 1 < arguments.size() ? arguments[++i] : QString())
                                                               : argument.mid(7);
      options.language = larkspur::ParseLanguageOption(lang.toStdString());
      if (!options.language) problem = QStringLiteral("--lang takes zh or en");
    } else {
      problem = QStringLiteral("unknown argument ") + argument;
    }
  }
  if (problem.isEmpty() && home_given && home.isEmpty()) problem = QStringLiteral("--home needs a folder");
  options.home_given = home_given;
  if (problem.isEmpty() && !home_given) {
    options.program_folder = larkspur::port::ExecutableFolder();
    return options;
  }
  if (problem.isEmpty() && !QFileInfo(home).isDir()) {
    problem = QStringLiteral("The program folder \"") + QDir::toNativeSeparators(QFileInfo(home).absoluteFilePath()) +
              QStringLiteral("\" given with --home is not a folder");
  }
  if (!problem.isEmpty()) {
    const QString text = QStringLiteral("larkspur: ") + problem + QStringLiteral("\n\n") + QString::fromUtf8(kUsage);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    QMessageBox::critical(nullptr, QString::fromUtf8(larkspur::kApplicationTitle), text);
    return {};
  }
  const QString absolute = QDir::toNativeSeparators(QDir(home).absolutePath() + QLatin1Char('/'));
  options.program_folder = QFile::encodeName(absolute).toStdString();
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The name only; a display name would be added to the window caption.
  QApplication::setApplicationName(QString::fromUtf8(larkspur::kApplicationTitle));
  QApplication::setApplicationVersion(QString::fromUtf8(larkspur::kVersion));
  const Options options = ParseOptions(QApplication::arguments());
  if (options.program_folder.empty()) return kExitUsage;
  larkspur::SetLanguage(options.language.value_or(larkspur::SystemLanguage()));
  try {
    larkspur::MainWindow window;
    // Declared after the window, so it is gone before the window is.
    larkspur::TForm1 form(window, options.program_folder);
    form.ProgramFolderGiven = options.home_given;
    window.StartForm(form);
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
