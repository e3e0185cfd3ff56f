// The contract of a window (window_contract_test.h), run against the real
// window of each toolkit: what it shows at start, the commands and flows of
// TForm1 through it, and the habits of its users (a dropped file, the model
// and folder remembered between runs, the program folder's menu item).
#include "app/window_contract_test.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>

#include "app/texts.h"
#include "format/firmware_check.h"
#include "format/model_profile.h"
#include "testing/firmware_fixture.h"
#include "testing/tree_snapshot.h"

namespace larkspur {

bool WindowDriver::ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "gave up waiting";
      return false;
    }
    ServeOnce();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void WindowDriver::Open(std::optional<std::string> path) {
  next_open_choice = std::move(path);
  Choose(Command::kOpen);
}

void WindowDriver::Run(Command command) {
  Choose(command);
  ServeUntil([&] { return !form().WorkersBusy(); });
}

std::optional<std::string> WindowDriver::AnswerOpenDialog(const OpenDialogRequest& request) {
  open_requests.push_back(request);
  if (!open_dialog_failure.empty()) throw std::runtime_error(open_dialog_failure);
  return next_open_choice;
}

bool WindowDriver::AnswerQuestion(const std::string& title, const std::string& text) {
  questions.push_back({title, text, MessageIcon::kNone});
  if (answers.empty()) return false;
  const bool yes = answers.front();
  answers.pop_front();
  return yes;
}

namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;

// A FAT16 image of whole 512-byte sectors, as a real one.
std::string FatImage() { return std::string("\xE9\x00\x90", 3) + testing::PatternBytes(800 * 512 - 3, 7); }

std::string UdaFirmware(int model = 0) {
  return testing::MakeFirmware({.model = model, .uda = true, .prefix = std::string(0x200, 'H')}, FatImage());
}

TEST_P(WindowContractTest, ControlsAndTextsAtStart) {
  EXPECT_EQ(d_.Caption().rfind("Larkspur Beta 0.7", 0), 0u) << d_.Caption();
  // The one line at start says where the program folder is.
  EXPECT_EQ(d_.LogLines(), Lines{"本程序文件夹: " + d_.program_folder() + " (REB- 文件和工作文件夹都在这里)"});

  Lines models;
  for (int i = 0; i < kModelCount; ++i) models.push_back(ModelItemText(i));
  EXPECT_EQ(d_.SelectorItems(), models);
  EXPECT_EQ(d_.window().SelectorIndex(), -1);
  EXPECT_EQ(d_.form().ProfileIndex(), 0);
  EXPECT_TRUE(d_.SelectorEnabled());
  EXPECT_EQ(d_.DonationText(), kDonationText);

  // The three commands as users of the old program know them (captions,
  // order, access keys, no submenus), then the program folder's item.
  EXPECT_EQ(d_.MenuCaptions(), (Lines{"打开(&O)", "解包(&E)", "打包(&R)", "打开本程序文件夹(&F)"}));
  EXPECT_TRUE(d_.CommandEnabled(Command::kOpen));
  EXPECT_FALSE(d_.CommandEnabled(Command::kExtract));
  EXPECT_FALSE(d_.CommandEnabled(Command::kRepack));
  EXPECT_TRUE(d_.CommandEnabled(Command::kOpenProgramFolder));

  EXPECT_EQ(d_.StatusText(0), "文件名:    ");
  EXPECT_EQ(d_.StatusText(1), "类型: ");
  EXPECT_EQ(d_.StatusText(2), kStatusThirdPanel);
  EXPECT_TRUE(d_.messages.empty());
  EXPECT_TRUE(d_.questions.empty());
}

TEST_P(WindowContractTest, TheTextsAreInTheLanguageInForceWhenTheWindowIsMade) {
  SetLanguage(Language::kEnglish);
  d_.Restart();
  SetLanguage(Language::kChinese);
  EXPECT_EQ(d_.MenuCaptions(), (Lines{"&Open", "&Extract", "&Repack", "Open the program &folder"}));
  EXPECT_EQ(d_.LogLines(),
            Lines{"Program folder: " + d_.program_folder() + " (the REB- files and the working folders are there)"});
  EXPECT_EQ(d_.SelectorItems().front(), "Phone model (5530, 5800, N97, N86)");
  EXPECT_EQ(d_.DonationText().rfind("If you like this program", 0), 0u) << d_.DonationText();
  EXPECT_EQ(d_.StatusText(0), "File name:    ");
  EXPECT_EQ(d_.StatusText(1), "Type: ");
}

TEST_P(WindowContractTest, OpenFillsLogAndStatusAndEnablesCommands) {
  struct Case {
    const char* file_name;
    const char* kind;
  };
  for (const Case& c : {Case{"firmware.rofs2.bin", "ROFS"}, Case{"phone.uda.img", "UDA"}}) {
    SCOPED_TRACE(c.file_name);
    const std::string path = d_.home.Write(c.file_name, std::string(64, '\x5A'));

    d_.Open(path);

    ASSERT_FALSE(d_.open_requests.empty());
    EXPECT_EQ(d_.open_requests.back().filter, kOpenFilter);
    EXPECT_EQ(d_.open_requests.back().filter_index, 1);
    EXPECT_EQ(d_.LogLines(), (Lines{"正在打开文件...  ", "文件: " + path, ""}));
    EXPECT_EQ(d_.StatusText(0), std::string("文件名:    ") + c.file_name);
    EXPECT_EQ(d_.StatusText(1), std::string("类型: ") + c.kind);
    EXPECT_TRUE(d_.MenuEnabled());
  }
  EXPECT_EQ(d_.open_requests.front().initial_folder, kOpenDialogFolder);

  // Cancelling clears the log and keeps the rest.
  d_.Open(std::nullopt);
  EXPECT_EQ(d_.LogLines(), Lines{""});
  EXPECT_TRUE(d_.CommandEnabled(Command::kExtract));
  EXPECT_EQ(d_.StatusText(0), "文件名:    phone.uda.img");
  EXPECT_TRUE(d_.messages.empty());
}

TEST_P(WindowContractTest, ProgressTakesTheFirstPanelUntilItIsTakenAway) {
  d_.Open(d_.home.Write("phone.uda.img", std::string(64, '\x5A')));
  d_.window().ShowProgress("files 12 of 210");
  EXPECT_EQ(d_.StatusText(0), "files 12 of 210");
  EXPECT_EQ(d_.StatusText(1), "类型: UDA");
  d_.window().ShowProgress("");
  EXPECT_EQ(d_.StatusText(0), "文件名:    phone.uda.img");
}

TEST_P(WindowContractTest, ErrorOfACommandGoesToTheErrorBox) {
  d_.open_dialog_failure = "Dialog broke";
  d_.Choose(Command::kOpen);
  ASSERT_EQ(d_.messages.size(), 1u);
  EXPECT_EQ(d_.messages[0].title, kApplicationTitle);
  EXPECT_EQ(d_.messages[0].text, "Dialog broke.");
  EXPECT_EQ(d_.messages[0].icon, MessageIcon::kError);
  EXPECT_TRUE(d_.CommandEnabled(Command::kOpen));
}

TEST_P(WindowContractTest, SelectorChoiceAndPictureReachTheForm) {
  d_.ChooseModel(kN96ModelIndex);
  EXPECT_EQ(d_.window().SelectorIndex(), kN96ModelIndex);
  EXPECT_TRUE(d_.form().Profile() == ProfileForModel(kN96ModelIndex));
  d_.Open(std::nullopt);
  ASSERT_EQ(d_.open_requests.size(), 1u);
  EXPECT_EQ(d_.open_requests[0].filter_index, ProfileForModel(kN96ModelIndex).OpenDialogFilterIndex);

  d_.ClickPicture();
  EXPECT_EQ(d_.opened_urls, Lines{d_.form().DonationUrl});
  EXPECT_FALSE(d_.form().DonationUrl.empty());
  EXPECT_TRUE(d_.opened_folders.empty());
}

TEST_P(WindowContractTest, RunOnUiThreadCarriesOutRequestsInOrderWhileTheWorkerWaits) {
  const std::thread::id ui_thread = std::this_thread::get_id();
  std::vector<int> done;  // touched only on the user-interface thread
  Lines worker_saw;
  std::atomic<bool> worker_finished = false;

  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      d_.window().RunOnUiThread([&, i] {
        if (std::this_thread::get_id() != ui_thread) throw std::logic_error("request ran off the UI thread");
        done.push_back(i);
      });
      // The call returned, so the request has run already.
      if (done.size() != static_cast<std::size_t>(i + 1)) worker_saw.push_back("returned early at " + std::to_string(i));
    }
    try {
      d_.window().RunOnUiThread([] { throw std::runtime_error("request failed"); });
      worker_saw.push_back("no exception");
    } catch (const std::runtime_error& error) {
      worker_saw.push_back(error.what());
    }
    worker_finished = true;
  });
  // Served by the window's event loop, as the program's would.
  d_.ServeUntil([&] { return worker_finished.load(); });
  worker.join();

  std::vector<int> expected(50);
  for (int i = 0; i < 50; ++i) expected[i] = i;
  EXPECT_EQ(done, expected);
  EXPECT_EQ(worker_saw, Lines{"request failed"});

  // On the user-interface thread itself the request runs at once.
  bool ran = false;
  d_.window().RunOnUiThread([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST_P(WindowContractTest, AGreyedMenuItemRunsNoCommand) {
  // At start Extract and Repack are greyed; chosen all the same (a stray
  // message, a key) they must not start a worker on nothing.
  d_.Choose(Command::kExtract);
  d_.Choose(Command::kRepack);
  d_.ServeOnce();
  EXPECT_FALSE(d_.form().WorkersBusy());
  EXPECT_EQ(d_.LogLines().size(), 1u);
  EXPECT_TRUE(d_.messages.empty());

  // With a file open, an item the form greyed runs nothing either: the
  // menu's state decides.
  const std::string path = d_.home.Write("fw.uda.fpsx", UdaFirmware());
  d_.Open(path);
  d_.window().SetMenuEnabled(MenuItem::kExtract, false);
  d_.Choose(Command::kExtract);
  EXPECT_FALSE(d_.form().WorkersBusy());
  d_.ServeOnce();
  EXPECT_EQ(d_.form().LastOutcome(), TForm1::Outcome::kNone);
  EXPECT_FALSE(d_.home.Exists("fat16/fat16.img"));
  EXPECT_EQ(d_.LogLines(), (Lines{"正在打开文件...  ", "文件: " + path, ""}));
}

TEST_P(WindowContractTest, UdaExtractThenRepackGivesTheInputBackForEveryModel) {
  for (int model = 0; model < kModelCount; ++model) {
    SCOPED_TRACE("model " + std::to_string(model));
    const std::string input = UdaFirmware(model);
    const std::string name = "RM-" + std::to_string(model) + ".uda.fpsx";
    d_.ChooseModel(model);
    d_.Open(d_.home.Write(name, input));

    d_.Choose(Command::kExtract);
    // The worker runs; the window answers, and the model stays as it is.
    EXPECT_FALSE(d_.CommandEnabled(Command::kOpen));
    EXPECT_FALSE(d_.CommandEnabled(Command::kRepack));
    EXPECT_FALSE(d_.SelectorEnabled());
    d_.ServeUntil([&] { return !d_.form().WorkersBusy(); });
    EXPECT_TRUE(d_.SelectorEnabled());
    EXPECT_TRUE(d_.home.Read("fat16/fat16.img") == FatImage());

    d_.Choose(Command::kRepack);
    EXPECT_FALSE(d_.CommandEnabled(Command::kOpen));  // Repack too runs on a worker
    d_.ServeUntil([&] { return !d_.form().WorkersBusy(); });
    EXPECT_TRUE(d_.home.Read("REB-" + name) == input);
    EXPECT_EQ(d_.LogLines().back(), "REB 文件: " + d_.home.Path("REB-" + name));
    EXPECT_EQ(d_.form().LastOutcome(), TForm1::Outcome::kDone);
    EXPECT_TRUE(d_.MenuEnabled());
    EXPECT_TRUE(d_.messages.empty());
  }
}

// The project's own readimage and rofsbuild in exebat, started by the
// window's runs as a user's program folder has them.
TEST_P(WindowContractTest, RofsRepackThenExtractGoThroughTheRealTools) {
  d_.home.InstallBuiltTools();
  const std::map<std::string, std::string> tree = {
      {"readme.txt", "read me\r\n"},
      {"sys/bin/app.exe", testing::PatternBytes(70000, 3)},
      {"my documents/a rather long note name.txt", "a note with a long name\r\n"},
      {"resource/apps/empty.rsc", ""},
  };
  for (const auto& [name, bytes] : tree) testing::PutFile(d_.home.Path("edited"), name, bytes);
  for (const int model : {0, kN96ModelIndex}) {
    SCOPED_TRACE("model " + std::to_string(model));
    fs::remove_all(d_.home.Path("rofs2"));
    fs::copy(d_.home.Path("edited"), d_.home.Path("rofs2"), fs::copy_options::recursive);
    // A firmware file to repack over: it gives the prefix and the start
    // address; the partition comes from rofsbuild over rofs2.
    const testing::FirmwareSpec spec{.model = model, .prefix = "HEAD", .start_address = 0x01234500};
    const std::string output_name = "REB-RM-" + std::to_string(model) + ".rofs2.V21";
    const std::string seed = d_.home.Write("fw/RM-" + std::to_string(model) + ".rofs2.V21",
                                           testing::MakeFirmware(spec, std::string(3072, '\0') + "ROFS0\xFF"));
    d_.home.MarkExtracted(seed);
    d_.ChooseModel(model);
    d_.Open(seed);
    d_.Run(Command::kRepack);
    EXPECT_TRUE(d_.MenuEnabled());
    EXPECT_EQ(d_.LogLines().back(), "REB 文件: " + d_.home.Path(output_name));
    const std::string rebuilt = d_.home.Read("temp/rofs2r.img");
    ASSERT_GT(rebuilt.size(), 0u);
    const FirmwareCheck check =
        CheckFirmware(d_.home.Read(output_name), PartitionKind::kRofs, BlockFormatOf(model, PartitionKind::kRofs));
    EXPECT_TRUE(check.AllRight());

    // Unpacked again by the window: the carved image starts with the image
    // rofsbuild built, and readimage gives the same tree back.
    fs::remove_all(d_.home.Path("rofs2"));
    fs::create_directories(d_.home.Path("rofs2"));
    d_.Open(d_.home.Path(output_name));
    d_.Run(Command::kExtract);
    EXPECT_TRUE(d_.messages.empty());
    EXPECT_TRUE(d_.MenuEnabled());
    EXPECT_EQ(d_.home.Read("temp/rofs2.img").substr(0, rebuilt.size()), rebuilt);
    EXPECT_EQ(testing::TreeDifference(d_.home.Path("rofs2"), d_.home.Path("edited")), "");
    const Lines log = d_.LogLines();
    ASSERT_GE(log.size(), 10u);
    EXPECT_EQ(log[3], "正在定位文件.   ");
    EXPECT_EQ(log[4], "定位成功-偏移        " + std::to_string(check.blocks.size()) + " 标识   ");
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         "),
              log.end());
    EXPECT_EQ(log.back(), "rofs2 文件夹: " + d_.home.Path("rofs2"));
  }
}

TEST_P(WindowContractTest, AWorkerErrorShowsTheApplicationErrorBoxAndTheMenuComesBack) {
  fs::remove(d_.home.Path("fat16"));
  d_.Open(d_.home.Write("fw.uda.bin", testing::MakeFirmware({.uda = true}, "abc")));
  d_.Run(Command::kExtract);
  ASSERT_EQ(d_.messages.size(), 1u);
  EXPECT_EQ(d_.messages[0].title, "Application Error");
  EXPECT_EQ(d_.messages[0].icon, MessageIcon::kStop);
  EXPECT_NE(d_.messages[0].text.find("Cannot create file"), std::string::npos) << d_.messages[0].text;
  EXPECT_TRUE(d_.MenuEnabled());
  EXPECT_TRUE(d_.SelectorEnabled());
  EXPECT_EQ(d_.form().LastOutcome(), TForm1::Outcome::kFailed);
}

TEST_P(WindowContractTest, ClosingDuringAnUnpackWaitsForTheToolAndItsClosingLines) {
  // The unpacker says it has started, then takes its time.
  d_.home.InstallStandInTool("readimage", "write ../temp/started yes; sleep 1; copy $3 $2/image.bin");
  d_.Open(d_.home.Write("a.rofs2.bin", testing::MakeFirmware({}, "ROFS0\xFF" "abc")));
  d_.Choose(Command::kExtract);
  d_.ServeUntil([&] { return d_.home.Exists("temp/started"); });
  d_.CloseWindow();
  EXPECT_FALSE(d_.form().WorkersBusy());
  EXPECT_TRUE(d_.home.Exists("rofs2/image.bin"));
  EXPECT_EQ(d_.LogLines().back(), "rofs2 文件夹: " + d_.home.Path("rofs2"));
  EXPECT_EQ(d_.form().LastOutcome(), TForm1::Outcome::kDone);
}

TEST_P(WindowContractTest, ADroppedFileIsOpenedAsOpenWouldOpenIt) {
  const std::string path = d_.home.Write("dropped/RM-0.uda.fpsx", UdaFirmware());
  d_.DropFile(path);
  EXPECT_TRUE(d_.open_requests.empty());  // no dialog
  EXPECT_EQ(d_.LogLines(), (Lines{"正在打开文件...  ", "文件: " + path, ""}));
  EXPECT_EQ(d_.StatusText(0), "文件名:    RM-0.uda.fpsx");
  EXPECT_EQ(d_.StatusText(1), "类型: UDA");
  EXPECT_TRUE(d_.MenuEnabled());
  d_.Run(Command::kExtract);
  EXPECT_TRUE(d_.home.Read("fat16/fat16.img") == FatImage());

  // A file that is not there goes to the error box, as a command's error
  // does, and the file opened before stays open.
  const std::string gone = d_.home.Path("gone.uda.fpsx");
  d_.DropFile(gone);
  ASSERT_EQ(d_.messages.size(), 1u);
  EXPECT_EQ(d_.messages[0].title, kApplicationTitle);
  EXPECT_EQ(d_.messages[0].icon, MessageIcon::kError);
  EXPECT_NE(d_.messages[0].text.find(gone), std::string::npos) << d_.messages[0].text;
  EXPECT_NE(d_.messages[0].text.find("The file does not exist"), std::string::npos) << d_.messages[0].text;
  EXPECT_EQ(d_.LogLines().back(), "仍然打开的是之前的文件: " + path);
  EXPECT_EQ(d_.form().SourcePath, path);
}

TEST_P(WindowContractTest, ADropWhileARunHoldsTheMenuIsIgnored) {
  d_.home.InstallStandInTool("readimage", testing::kStandInReadimage);
  const std::string running = d_.home.Write("a.rofs2.bin", testing::MakeFirmware({}, "ROFS0\xFF" "abc"));
  const std::string dropped = d_.home.Write("b.uda.fpsx", UdaFirmware());
  d_.Open(running);
  d_.Choose(Command::kExtract);
  // The run holds the menu until the window has served its requests.
  ASSERT_FALSE(d_.CommandEnabled(Command::kOpen));
  d_.DropFile(dropped);
  EXPECT_EQ(d_.form().SourcePath, running);
  EXPECT_EQ(d_.StatusText(1), "类型: ROFS");
  d_.ServeUntil([&] { return !d_.form().WorkersBusy(); });
  EXPECT_EQ(d_.form().LastOutcome(), TForm1::Outcome::kDone);
  EXPECT_EQ(d_.LogLines()[1], "文件: " + running);  // the run's log was left alone
  EXPECT_TRUE(d_.messages.empty());

  // The run over, a drop opens the file.
  d_.DropFile(dropped);
  EXPECT_EQ(d_.form().SourcePath, dropped);
  EXPECT_EQ(d_.StatusText(1), "类型: UDA");
}

TEST_P(WindowContractTest, TheModelChosenIsInForceAgainInTheNextRun) {
  d_.ChooseModel(3);
  d_.Restart();
  EXPECT_EQ(d_.window().SelectorIndex(), 3);
  // The change handler ran: the model's profile is in force.
  EXPECT_EQ(d_.form().ProfileIndex(), 3);
  d_.Open(std::nullopt);
  EXPECT_EQ(d_.open_requests.back().filter_index, ProfileForModel(3).OpenDialogFilterIndex);

  // The default model chosen by hand is a choice too; a run without a
  // choice keeps the one before.
  d_.ChooseModel(0);
  d_.Restart();
  d_.Restart();
  EXPECT_EQ(d_.window().SelectorIndex(), 0);
  EXPECT_EQ(d_.form().ProfileIndex(), 0);
}

TEST_P(WindowContractTest, TheOpenDialogStartsInTheFolderItChoseFromLast) {
  d_.Open(std::nullopt);
  EXPECT_EQ(d_.open_requests.back().initial_folder, kOpenDialogFolder);
  const std::string path = d_.home.Write("firmware/RM-0.uda.fpsx", UdaFirmware());
  d_.Open(path);
  d_.Open(std::nullopt);
  EXPECT_EQ(d_.open_requests.back().initial_folder, d_.home.Path("firmware"));
  d_.Restart();
  d_.Open(std::nullopt);
  EXPECT_EQ(d_.open_requests.back().initial_folder, d_.home.Path("firmware"));

  // A folder gone since is not offered.
  fs::remove_all(d_.home.Path("firmware"));
  d_.Restart();
  d_.Open(std::nullopt);
  EXPECT_EQ(d_.open_requests.back().initial_folder, kOpenDialogFolder);
}

TEST_P(WindowContractTest, TheProgramFolderItemShowsTheProgramFolderEvenDuringARun) {
  d_.Choose(Command::kOpenProgramFolder);
  EXPECT_EQ(d_.opened_folders, Lines{d_.program_folder()});
  EXPECT_TRUE(d_.opened_urls.empty());

  d_.Open(d_.home.Write("fw.uda.fpsx", UdaFirmware()));
  d_.Choose(Command::kExtract);
  ASSERT_FALSE(d_.CommandEnabled(Command::kOpen));
  EXPECT_TRUE(d_.CommandEnabled(Command::kOpenProgramFolder));
  d_.Choose(Command::kOpenProgramFolder);
  EXPECT_EQ(d_.opened_folders.size(), 2u);
  d_.ServeUntil([&] { return !d_.form().WorkersBusy(); });
  EXPECT_TRUE(d_.messages.empty());
}

// When a refused file fits exactly one model, the window asks whether to
// choose it; Yes chooses it as the user would by hand, and it is remembered.
TEST_P(WindowContractTest, TheOneModelAFileFitsIsOfferedAndChosenOnYes) {
  const std::string path = d_.home.Write(
      "RM-1.uda.fpsx", testing::MakeFirmware({.model = 1, .uda = true}, std::string("\xE9\x00\x90", 3) +
                                                                             testing::PatternBytes(0x9000)));
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    d_.questions.clear();
    d_.answers = {yes};
    d_.Open(path);
    d_.Run(Command::kExtract);
    ASSERT_EQ(d_.questions.size(), 1u);
    EXPECT_EQ(d_.questions[0].title, kApplicationTitle);
    EXPECT_EQ(d_.questions[0].text, "这个文件是为手机型号(N96)制作的. 要选择手机型号(N96)吗?");
    EXPECT_EQ(d_.window().SelectorIndex(), yes ? 1 : -1);
    EXPECT_EQ(d_.form().ProfileIndex(), yes ? 1 : 0);
    EXPECT_FALSE(d_.home.Exists("fat16/fat16.img"));
    EXPECT_TRUE(d_.messages.empty());
  }
  EXPECT_EQ(d_.LogLines().back(), "已选择手机型号(N96), 请再运行一次.");
  d_.Run(Command::kExtract);
  EXPECT_EQ(d_.form().LastOutcome(), TForm1::Outcome::kDone);
  EXPECT_EQ(d_.questions.size(), 1u);

  d_.Restart();
  EXPECT_EQ(d_.window().SelectorIndex(), 1);
}

}  // namespace
}  // namespace larkspur
