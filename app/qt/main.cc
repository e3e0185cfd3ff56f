// larkspur: the window program. Only wiring lives here: the command line,
// the application, the window, TForm1 over it, and the message loop.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <QtGlobal>

#include "app/qt/main_window.h"
#include "app/qt/qt_translation.h"
#include "app/texts.h"
#include "app/tform1.h"
#include "port/files.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: larkspur [--home DIR] [--lang zh|en]\n"
    "       larkspur --help | --version\n"
    "\n"
    "  --home  the folder that plays the program folder (exebat, temp, rofs2,\n"
    "          fat16, and where REB- files go); default: this program's folder\n"
    "  --lang  the language of the window: zh (Chinese) or en (English);\n"
    "          default: the system's (Chinese for zh*, C/POSIX or none)\n"
    "\n"
    "Exit status: 0 the window was closed, 1 no display or the start failed,\n"
    "2 usage error.\n";

struct Options {
  bool help = false;
  bool version = false;
  std::optional<std::string> home;  // DIR of --home, as given
  std::optional<larkspur::Language> language;
  std::string problem;  // the first thing wrong with the command line; empty: none
};

// Reads the arguments after the program name. --help and --version win
// wherever they stand, so they answer even beside arguments that only
// Qt's own parsing removes (-platform NAME, -display NAME).
Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  const auto refuse = [&](std::string problem) {
    if (options.problem.empty()) options.problem = std::move(problem);
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "--home" || argument.starts_with("--home=")) {
      if (argument == "--home" && i + 1 >= arguments.size()) {
        refuse("--home needs a folder");
      } else {
        options.home = argument == "--home" ? arguments[++i] : argument.substr(7);
        if (options.home->empty()) refuse("--home needs a folder");
      }
    } else if (argument == "--lang" || argument.starts_with("--lang=")) {
      const std::string lang = argument == "--lang" ? (i + 1 < arguments.size() ? arguments[++i] : std::string())
                                                    : argument.substr(7);
      options.language = larkspur::ParseLanguageOption(lang);
      if (!options.language) refuse("--lang takes zh or en");
    } else {
      refuse("unknown argument " + argument);
    }
  }
  return options;
}

// What a wrong command line gets: the problem, then the usage.
std::string UsageErrorText(const std::string& problem) { return "larkspur: " + problem + "\n\n" + kUsage; }

std::vector<std::string> ArgumentsAfterTheName(const QStringList& arguments) {
  std::vector<std::string> words;
  for (qsizetype i = 1; i < arguments.size(); ++i) words.push_back(arguments[i].toLocal8Bit().toStdString());
  return words;
}

// The one line a start without a display ends with: the command line does
// the same work without one.
void SayNoDisplay(const std::string& what) {
  std::fprintf(stderr, "larkspur: %s; larkspur-cli extracts and repacks without one (larkspur-cli --help)\n",
               what.c_str());
  std::fflush(stderr);
}

// Why no display can be opened, or nothing when one may be there. On X11 and
// Wayland systems a display is named by DISPLAY or WAYLAND_DISPLAY or by
// Qt's -display; a platform chosen by QT_QPA_PLATFORM (offscreen for the
// tests) or -platform decides for itself.
std::optional<std::string> MissingDisplay(const std::vector<std::string>& arguments) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
  if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return std::nullopt;
  for (const std::string& argument : arguments) {
    for (const char* named : {"-platform", "--platform", "-display", "--display"}) {
      if (argument == named) return std::nullopt;
    }
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    return "no display (DISPLAY and WAYLAND_DISPLAY are not set)";
  }
#endif
  return std::nullopt;
}

// Qt ends the program with abort() when no platform plugin starts (a DISPLAY
// that names no running server, say): a core dump for what is no crash.
// While the application is being made, a fatal message ends the program as a
// missing display does; Qt's warnings before it have said why.
QtMessageHandler qt_message_handler = nullptr;

void StartMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    SayNoDisplay("the display could not be opened");
    std::_Exit(kExitFailed);
  }
  qt_message_handler(type, context, message);
}

// The program folder, ending in a separator: DIR of --home made absolute,
// or else the executable's folder. Empty after telling the user what is
// wrong with the command line.
std::string ProgramFolder(const Options& options) {
  std::string problem = options.problem;
  if (problem.empty() && !options.home) return larkspur::port::ExecutableFolder();
  const QString home = options.home ? QFile::decodeName(QByteArray::fromStdString(*options.home)) : QString();
  if (problem.empty() && !QFileInfo(home).isDir()) {
    problem = "The program folder \"" +
              QDir::toNativeSeparators(QFileInfo(home).absoluteFilePath()).toLocal8Bit().toStdString() +
              "\" given with --home is not a folder";
  }
  if (!problem.empty()) {
    const std::string text = UsageErrorText(problem);
    std::fputs(text.c_str(), stderr);
    QMessageBox::critical(nullptr, QString::fromUtf8(larkspur::kApplicationTitle),
                          QString::fromLocal8Bit(text).trimmed());
    return {};
  }
  const QString absolute = QDir::toNativeSeparators(QDir(home).absolutePath() + QLatin1Char('/'));
  return QFile::encodeName(absolute).toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  // --help, --version and a missing display are answered on the terminal
  // before Qt looks for a display.
  const std::vector<std::string> raw_arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const Options early = ParseOptions(raw_arguments);
  if (early.help) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  if (early.version) {
    std::printf("larkspur %s\n", larkspur::kVersion);
    return kExitDone;
  }
  if (const std::optional<std::string> missing = MissingDisplay(raw_arguments)) {
    // Without a display, Qt's own arguments (the only ones that may look
    // unknown here) are of no use either.
    if (!early.problem.empty()) {
      std::fputs(UsageErrorText(early.problem).c_str(), stderr);
      return kExitUsage;
    }
    SayNoDisplay(*missing);
    return kExitFailed;
  }

  qt_message_handler = qInstallMessageHandler(StartMessageHandler);
  QApplication app(argc, argv);
  qInstallMessageHandler(qt_message_handler);
  // The name only; a display name would be added to the window caption.
  QApplication::setApplicationName(QString::fromUtf8(larkspur::kApplicationTitle));
  QApplication::setApplicationVersion(QString::fromUtf8(larkspur::kVersion));
  // Qt has taken its own arguments out by now; what is left must all be ours.
  const Options options = ParseOptions(ArgumentsAfterTheName(QApplication::arguments()));
  const std::string program_folder = ProgramFolder(options);
  if (program_folder.empty()) return kExitUsage;
  larkspur::SetLanguage(options.language.value_or(larkspur::SystemLanguage()));
  // Qt's own dialogs and buttons speak the window's language where Qt's
  // translation is installed; without it they stay English.
  larkspur::InstallQtTranslation(larkspur::CurrentLanguage());
  try {
    larkspur::MainWindow window;
    // Declared after the window, so it is gone before the window is.
    larkspur::TForm1 form(window, program_folder);
    form.ProgramFolderGiven = options.home.has_value();
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
    return kExitFailed;
  }
}
