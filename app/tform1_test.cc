#include "app/tform1.h"

#include <gtest/gtest.h>

#include "app/run_reports.h"
#include "port/errors.h"
#include "rofs/rofs_errors.h"

#include <filesystem>

#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"

namespace larkspur {
namespace {

using testing::ProgramFolder;
using testing::Session;

TEST(TForm1Test, StartUpState) {
  ProgramFolder home;
  Session s(home);
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
  EXPECT_FALSE(s.MenuEnabled(MenuItem::kExtract));
  EXPECT_FALSE(s.MenuEnabled(MenuItem::kRepack));
  EXPECT_EQ(s.window.status[0], "文件名:    ");
  EXPECT_EQ(s.window.status[1], "类型: ");
  EXPECT_EQ(s.form.Profile(), ProfileForModel(0));
  EXPECT_FALSE(s.form.N96Selected());
  EXPECT_EQ(s.window.log,
            std::vector<std::string>{"本程序文件夹: " + home.path() + " (REB- 文件和工作文件夹都在这里)"});
  s.form.OpenProgramFolder();
  EXPECT_EQ(s.window.opened_folders, std::vector<std::string>{home.path()});
}

TEST(TForm1Test, OpenFillsLogStatusBarAndMenu) {
  ProgramFolder home;
  const std::string path = home.Write("fw/RM-356.rofs2.V21", testing::MakeFirmware({}, "ROFS0\xFF" "data"));
  Session s(home);
  s.Open(path);
  EXPECT_EQ(s.window.log, (std::vector<std::string>{"正在打开文件...  ", "文件: " + path, ""}));
  EXPECT_EQ(s.window.status[0], "文件名:    RM-356.rofs2.V21");
  EXPECT_EQ(s.window.status[1], "类型: ROFS");
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kExtract));
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kRepack));
  EXPECT_EQ(s.form.SourceFileName, "RM-356.rofs2.V21");
  EXPECT_EQ(s.form.StartAddress, testing::BigEndian(0x01000000));
  ASSERT_EQ(s.window.dialog_requests.size(), 1u);
  EXPECT_EQ(s.window.dialog_requests[0].filter, "ROFS2, UDA|*.rofs2.*;*.uda.*;*.language.*|ALL|*.*");
  EXPECT_EQ(s.window.dialog_requests[0].filter_index, 1);
}

TEST(TForm1Test, KindIsDecidedFromTheFileNameCaseSensitivelyNeverFromItsFolders) {
  const struct {
    const char* relative;
    const char* kind;
  } cases[] = {
      {"x.uda.fpsx", "UDA"},           {"X.UDA.FPSX", "UDA"},          {"Bermuda/x.rofs2.fpsx", "ROFS"},
      {"claudia/x.rofs2.fpsx", "ROFS"}, {"UDA/x.rofs2.fpsx", "ROFS"},   {"Budapest/RM-1.uda.fpsx", "UDA"},
      {"x.Uda.fpsx", "ROFS"},          {"x.language.fpsx", "ROFS"},    {"x.rofs2.fpsx", "ROFS"},
  };
  for (const auto& c : cases) {
    ProgramFolder home;
    Session s(home);
    s.Open(home.Write(c.relative, "some bytes"));
    EXPECT_EQ(s.form.ImageKind, c.kind) << c.relative;
  }
}

TEST(TForm1Test, StartAddressIsReadUnderTheProfileInForce) {
  const std::string sig = HexToBytes("5401170E000300");
  const std::string header_rest = "CC" "\x01" "LLLL" "ABCD" "S";
  const struct {
    const char* name;
    std::string content;
    std::string expected;
  } cases[] = {
      {"signature at the first byte", sig + header_rest, "ABCD"},
      {"100 bytes in front", std::string(100, 'p') + sig + header_rest, "ABCD"},
      {"no signature: bytes 14 to 17", "0123456789abcdefghij", "defg"},
      {"no signature, 15 bytes", "0123456789abcde", "de"},
      {"no signature, shorter than 14 bytes", "0123456789", ""},
  };
  for (const auto& c : cases) {
    ProgramFolder home;
    Session s(home);
    s.Open(home.Write("f.rofs2.bin", c.content));
    EXPECT_EQ(s.form.StartAddress, c.expected) << c.name;
  }
}

TEST(TForm1Test, N96UdaAddressLiesAtPosition22) {
  ProgramFolder home;
  Session s(home);
  s.SelectModel(1);
  s.Open(home.Write("a.uda.fpsx", testing::MakeFirmware({.model = 1, .uda = true, .start_address = 0xABCDEF01}, "x")));
  EXPECT_EQ(s.form.StartAddress, testing::BigEndian(0xABCDEF01));
  // Changing the model afterwards does not read it again.
  s.SelectModel(0);
  EXPECT_EQ(s.form.StartAddress, testing::BigEndian(0xABCDEF01));
}

TEST(TForm1Test, ModelChoiceSetsProfileAndFilterIndex) {
  ProgramFolder home;
  Session s(home);
  s.SelectModel(2);
  EXPECT_EQ(s.form.OpenDialogFilterIndex, 2);
  s.Open(home.Write("a.bin", "x"));
  EXPECT_EQ(s.window.dialog_requests.back().filter_index, 2);
  s.SelectModel(1);
  EXPECT_EQ(s.form.OpenDialogFilterIndex, 1);
  EXPECT_TRUE(s.form.N96Selected());
  s.SelectModel(0);
  EXPECT_EQ(s.form.Profile(), ProfileForModel(0));
  s.SelectModel(-1);  // no item: nothing changes
  EXPECT_EQ(s.form.Profile(), ProfileForModel(0));
}

TEST(TForm1Test, CancelledOpenOnlyClearsTheLog) {
  ProgramFolder home;
  Session s(home);
  const std::string path = home.Write("a.rofs2.bin", testing::MakeFirmware({}, "abc"));
  s.Open(path);
  s.window.QueueOpenDialogAnswer(std::nullopt);
  s.form.RunUiCommand([&] { s.form.Open1Click(); });
  EXPECT_TRUE(s.window.log.empty());
  EXPECT_EQ(s.form.SourcePath, path);
  EXPECT_EQ(s.window.status[0], "文件名:    a.rofs2.bin");
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kExtract));
}

TEST(TForm1Test, MissingOrEmptyFileChangesNothingAndSaysWhy) {
  for (const bool first : {true, false}) {
    ProgramFolder home;
    Session s(home);
    const std::string good = home.Write("good.rofs2.bin", testing::MakeFirmware({}, "abc"));
    if (!first) s.Open(good);
    const std::string before_address = s.form.StartAddress;
    const auto before_menu = s.window.menu_enabled;
    const auto before_status = s.window.status;
    std::filesystem::create_directory(home.Path("folder.uda.bin"));
    for (const std::string& bad :
         {home.Path("missing.uda.bin"), home.Write("empty.uda.bin", ""), home.Path("folder.uda.bin")}) {
      s.Open(bad);
      // The log, cleared for the new file, says which file is still open.
      EXPECT_EQ(s.window.log, first ? std::vector<std::string>{}
                                    : std::vector<std::string>{"仍然打开的是之前的文件: " + good});
      ASSERT_FALSE(s.window.messages.empty());
      const auto& box = s.window.messages.back();
      EXPECT_EQ(box.title, "Marrowby");
      EXPECT_EQ(box.icon, MessageIcon::kError);
      EXPECT_NE(box.text.find(bad), std::string::npos);
      EXPECT_EQ(s.form.StartAddress, before_address);
      EXPECT_EQ(s.form.ImageKind, first ? "" : "ROFS");
      EXPECT_EQ(s.form.SourcePath, first ? "" : good);
      EXPECT_EQ(s.window.menu_enabled, before_menu);
      EXPECT_EQ(s.window.status, before_status);
    }
    EXPECT_NE(s.window.messages[0].text.find("does not exist."), std::string::npos);
    EXPECT_NE(s.window.messages[1].text.find("is empty."), std::string::npos);
    EXPECT_NE(s.window.messages[2].text.find("It is a folder, not a file."), std::string::npos);
    // The commands still work on the file opened before, if any ("abc" holds
    // no ROFS header: the refusal names the file).
    s.Extract();
    EXPECT_EQ(s.form.LastOutcome(), first ? TForm1::Outcome::kNone : TForm1::Outcome::kFailed);
    if (!first) {
      EXPECT_NE(s.window.log.back().find(good), std::string::npos) << s.window.log.back();
    }
  }
}

TEST(TForm1Test, HeaderBuildersFollowTheProfile) {
  ProgramFolder home;
  Session s(home);
  const std::string address = testing::BigEndian(0x00100000);
  EXPECT_EQ(s.form.createheder("\x01\x02\x03", address, 3), "5401170E000300020201000000030010000" "0BE");
  s.SelectModel(1);
  EXPECT_EQ(s.form.createhederfat("\x01\x02\x03", address, 3),
            "54013015010100" "0202" "00000000FFFFFFFF" "00000003" "00100000" "A4");
  EXPECT_EQ(s.form.crcdata("\x01\x02\x03"), "0202");
}

TEST(TForm1Test, DonationPictureOpensThePage) {
  ProgramFolder home;
  Session s(home);
  s.form.Image1Click();
  ASSERT_EQ(s.window.opened_urls.size(), 1u);
  EXPECT_EQ(s.window.opened_urls[0], s.form.DonationUrl);
}

// An error that ends a run is named by its class in the "Application
// Error" box, whichever library raised it.
TEST(TForm1Test, TheApplicationErrorBoxNamesTheErrorsClass) {
  const struct {
    std::exception_ptr error;
    const char* head;
    const char* message;
  } cases[] = {
      {std::make_exception_ptr(FileCreateError("/p/temp/rofs2.img", "No space left on device")),
       "Exception EFCreateError in module larkspur at ", "Cannot create file \"/p/temp/rofs2.img\". No space left on device."},
      {std::make_exception_ptr(rofs::FormatError("rofs2.img", 0x1A40, "entry runs past its block")),
       "Exception EImageFormatError in module larkspur at ", "rofs2.img: "},
      {std::make_exception_ptr(std::runtime_error("plain")), "Exception Exception in module larkspur at ", "plain."},
  };
  for (const auto& c : cases) {
    const std::string text = ApplicationErrorText(c.error);
    EXPECT_EQ(text.rfind(c.head, 0), 0u) << text;
    EXPECT_NE(text.find(".\r\n" + std::string(c.message)), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(".\r\n")) << text;
  }
}

}  // namespace
}  // namespace larkspur
