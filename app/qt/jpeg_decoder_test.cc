#include "app/qt/jpeg_decoder.h"

#include <gtest/gtest.h>

#include "app/qt/donate_picture.h"

namespace larkspur {
namespace {

TEST(JpegDecoderTest, DecodesTheDonationPicture) {
  const RgbPicture picture = DecodeJpeg(DonatePicture(), "donate.jpg");
  EXPECT_EQ(picture.width, 97);
  EXPECT_EQ(picture.height, 25);
  ASSERT_EQ(picture.pixels.size(), 97u * 25u * 3u);
  // The top-left corner is the button's yellow, not a grey fill-in.
  EXPECT_GT(picture.pixels[0], 0xE0);
  EXPECT_GT(picture.pixels[1], 0xA0);
  EXPECT_LT(picture.pixels[2], 0x80);
}

TEST(JpegDecoderTest, EveryTruncationThrows) {
  const std::string_view good = DonatePicture();
  for (std::size_t size = 0; size < good.size(); ++size) {
    EXPECT_THROW(DecodeJpeg(good.substr(0, size), "cut.jpg"), PictureError) << "cut at " << size;
  }
}

TEST(JpegDecoderTest, BrokenPicturesThrowWithNameAndReason) {
  struct Case {
    std::string bytes;
    std::string message;
  };
  std::string bad_marker(DonatePicture());
  bad_marker[0] = 0x00;  // no start-of-image marker
  std::string huge(DonatePicture());
  // The frame header (FF C0, length, precision) then height and width, big
  // endian: make the picture 25 x 40000.
  const std::size_t frame = huge.find("\xFF\xC0", 0, 2);
  ASSERT_NE(frame, std::string::npos);
  huge[frame + 7] = static_cast<char>(40000 >> 8);
  huge[frame + 8] = static_cast<char>(40000 & 0xFF);
  const Case cases[] = {
      {"", "Cannot decode picture \"p.jpg\". The data is empty"},
      {"GIF89a", "Cannot decode picture \"p.jpg\". Not a JPEG file: starts with 0x47 0x49"},
      {bad_marker, "Cannot decode picture \"p.jpg\". Not a JPEG file: starts with 0x00 0xd8"},
      {huge, "Cannot decode picture \"p.jpg\". It is 40000 x 25 pixels, more than 4096 in a direction"},
  };
  for (const Case& c : cases) {
    try {
      DecodeJpeg(c.bytes, "p.jpg");
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const PictureError& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace larkspur
