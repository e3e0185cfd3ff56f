#include "app/win32/system_picture.h"

#include <gtest/gtest.h>

#include "app/win32/donate_picture.h"

namespace larkspur {
namespace {

TEST(SystemPictureTest, TheDonationPictureDecodesToItsSize) {
  const Bitmap bitmap = DecodeJpegWithSystem(DonatePicture(), "donate.jpg");
  EXPECT_EQ(bitmap.Size().cx, 97);
  EXPECT_EQ(bitmap.Size().cy, 25);
}

TEST(SystemPictureTest, BrokenPicturesAreErrorsThatNameThePicture) {
  const std::string good(DonatePicture());
  struct Case {
    const char* what;
    std::string bytes;
    std::string message;  // a prefix when it ends in "("
  };
  const Case cases[] = {
      {"empty", "", "Cannot decode picture \"p.jpg\". The picture is empty"},
      {"not a JPEG", "GIF89a not a jpeg",
       "Cannot decode picture \"p.jpg\". It does not start with a JPEG start-of-image marker (FF D8)"},
      {"cut short", good.substr(0, good.size() / 2),
       "Cannot decode picture \"p.jpg\". It does not end with a JPEG end-of-image marker (FF D9); the file is cut "
       "short"},
      {"framed garbage", std::string("\xFF\xD8") + std::string(200, 'x') + "\xFF\xD9",
       "Cannot decode picture \"p.jpg\". The system's picture decoder refused it ("},
      {"too large", std::string("\xFF\xD8") + std::string(kMaxSystemPictureBytes, 'x') + "\xFF\xD9",
       "Cannot decode picture \"p.jpg\". The picture is larger than 4194304 bytes"},
  };
  for (const Case& c : cases) {
    try {
      DecodeJpegWithSystem(c.bytes, "p.jpg");
      ADD_FAILURE() << c.what << ": decoded";
    } catch (const SystemPictureError& error) {
      const std::string message = error.what();
      if (c.message.back() == '(') {
        EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.what;
      } else {
        EXPECT_EQ(message, c.message) << c.what;
      }
    }
  }
}

}  // namespace
}  // namespace larkspur
