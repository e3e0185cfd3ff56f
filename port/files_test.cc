#include "port/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "port/errors.h"
#include "port/file_view.h"
#include "testing/expected_reasons.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"

#ifndef _WIN32
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#endif

namespace larkspur::port {
namespace {

TEST(FilesTest, WriteFileReplacingReplacesWholeAndLeavesNoTemporary) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("out.img", std::string(100, 'x'));
  WriteFileReplacing(path, {"ab", "", "cd"});
  EXPECT_EQ(folder.Read("out.img"), "abcd");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(folder.path(), entries));
  EXPECT_EQ(entries.size(), 1u);
}

TEST(FilesTest, WriteIntoAMissingFolderNamesTheFinalPath) {
  testing::ScratchFolder folder;
  const std::string path = JoinPath(folder.path(), "temp/rofs2.img");
  try {
    WriteFileReplacing(path, {"x"});
    FAIL() << "no error";
  } catch (const FileCreateError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + path + "\". " + testing::MissingFolderReason());
  }
}

TEST(FilesTest, MoveNeverOverwrites) {
  testing::ScratchFolder folder;
  const std::string from = folder.Write("a", "new");
  const std::string to = folder.Write("b", "old");
  EXPECT_FALSE(MoveFileNoReplace(from, to));
  EXPECT_EQ(folder.Read("b"), "old");
  EXPECT_TRUE(DeleteFile(to));
  EXPECT_TRUE(MoveFileNoReplace(from, to));
  EXPECT_EQ(folder.Read("b"), "new");
  EXPECT_FALSE(folder.Exists("a"));
}

// Windows marks hidden entries by attribute, and making a link needs a
// privilege there: files_win32_test.cc covers the listing on Windows.
#ifndef _WIN32
TEST(FilesTest, ListingMarksHiddenNamesFoldersAndLinks) {
  testing::ScratchFolder folder;
  folder.Write(".hidden", "");
  folder.Write("sub/file", "");
  std::filesystem::create_directory_symlink(folder.Path("sub"), folder.Path("link"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(folder.path(), entries));
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].is_hidden);
  EXPECT_FALSE(entries[0].is_directory);
  EXPECT_TRUE(entries[1].is_symlink && entries[1].is_directory);
  EXPECT_TRUE(entries[2].is_directory && !entries[2].is_symlink);
  EXPECT_FALSE(ListDirectory(folder.Path("missing"), entries));
}
#endif

TEST(FilesTest, ReadWholeFileKeepsRoomAroundTheContent) {
  testing::ScratchFolder folder;
  std::string dest;
  ASSERT_TRUE(ReadWholeFile(folder.Write("f", "abc"), dest, 100, 2, 10));
  EXPECT_EQ(dest, std::string("\0\0abc", 5));
  EXPECT_GE(dest.capacity(), 15u);
  EXPECT_THROW(ReadWholeFile(folder.Path("f"), dest, 2), FileIoError);
  EXPECT_EQ(dest, std::string("\0\0abc", 5));
}

TEST(FilesTest, ReloadWholeFileReadsIntoTheStorageItHolds) {
  testing::ScratchFolder folder;
  std::string dest(100, 'x');
  const char* storage = dest.data();
  ASSERT_TRUE(ReloadWholeFile(folder.Write("small", "abc"), dest, 100));
  EXPECT_EQ(dest, "abc");
  EXPECT_EQ(dest.data(), storage);

  const std::string large(1000, 'b');
  const std::string large_path = folder.Write("large", large);
  ASSERT_TRUE(ReloadWholeFile(large_path, dest, 2000));
  EXPECT_EQ(dest, large);

  EXPECT_FALSE(ReloadWholeFile(folder.Path("missing"), dest, 2000));
  EXPECT_FALSE(ReloadWholeFile(folder.Write("empty", ""), dest, 2000));
  EXPECT_THROW(ReloadWholeFile(large_path, dest, 999), FileIoError);
  EXPECT_EQ(dest, large);
}

TEST(FilesTest, FileViewGivesTheWholeFileOrSaysWhyNot) {
  testing::ScratchFolder folder;
  folder.Write("sub/file", "");
  const std::string large = testing::PatternBytes(5 * 4096 + 123);
  struct Case {
    const char* name;
    std::string path;
    bool opened;
    std::string bytes;
  };
  const Case cases[] = {
      {"missing", folder.Path("missing"), false, ""},
      {"empty", folder.Write("empty", ""), false, ""},
      {"folder", folder.Path("sub"), false, ""},
      {"normal", folder.Write("normal", "abc"), true, "abc"},
      {"larger than a few pages", folder.Write("large", large), true, large},
  };
  for (const Case& c : cases) {
    FileView view;
    // A view that held another file is emptied by a failed open.
    ASSERT_TRUE(view.Open(folder.Path("normal"), 100)) << c.name;
    EXPECT_EQ(view.Open(c.path, 1u << 20), c.opened) << c.name;
    EXPECT_EQ(view.bytes(), c.bytes) << c.name;
    view.ReadAhead();
    EXPECT_EQ(view.bytes(), c.bytes) << c.name;
    EXPECT_EQ(view.size(), c.bytes.size()) << c.name;
  }
}

// CopyOut reads a stretch through the file (where the view maps it) and
// gives the view's bytes: at the start, across page boundaries, at the end,
// and none; a stretch from elsewhere is refused before anything is read.
TEST(FilesTest, FileViewCopiesOutAnyStretchOfItsBytes) {
  testing::ScratchFolder folder;
  const std::string large = testing::PatternBytes(5 * 4096 + 123);
  FileView view;
  ASSERT_TRUE(view.Open(folder.Write("large", large), 1u << 20));
  const std::string_view bytes = view.bytes();
  const std::pair<std::size_t, std::size_t> stretches[] = {
      {0, 1}, {0, large.size()}, {4095, 2}, {3 * 4096 - 7, 4096 + 14}, {large.size() - 5, 5}, {17, 0}};
  for (const auto& [at, length] : stretches) {
    std::string out(length, '?');
    view.CopyOut(bytes.substr(at, length), out.data());
    EXPECT_EQ(out, large.substr(at, length)) << at << "+" << length;
  }
  char out[8];
  EXPECT_THROW(view.CopyOut(std::string_view(large).substr(0, 8), out), std::invalid_argument);
  EXPECT_THROW(view.CopyOut(std::string_view(bytes.data() + bytes.size() - 4, 8), out), std::invalid_argument);
  // A moved view reads from its file under its new name.
  const FileView moved = std::move(view);
  std::string tail(6, '?');
  moved.CopyOut(moved.bytes().substr(large.size() - 6), tail.data());
  EXPECT_EQ(tail, large.substr(large.size() - 6));
}

TEST(FilesTest, FileViewRefusesAFileOverTheLimitAndSurvivesAMove) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("f", "abcd");
  FileView view;
  try {
    view.Open(path, 3);
    FAIL() << "no error";
  } catch (const FileIoError& error) {
    EXPECT_EQ(std::string(error.what()),
              "File too large to load \"" + path + "\". 4 bytes; at most 3 bytes can be loaded");
  }
  EXPECT_TRUE(view.empty());
  ASSERT_TRUE(view.Open(path, 4));
  FileView moved = std::move(view);
  EXPECT_TRUE(view.empty());
  EXPECT_EQ(moved.bytes(), "abcd");
  moved.Close();
  EXPECT_TRUE(moved.empty());
  EXPECT_FALSE(moved.mapped());
}

// More pieces than one gathered write takes (IOV_MAX is 1024 on Linux), of
// odd sizes with empty ones among them, and stretches that end on the byte
// limit inside the run of pieces.
TEST(FilesTest, WriteFileReplacingWritesManyPiecesInOrderAndReportsProgress) {
  testing::ScratchFolder folder;
  const std::string bytes = testing::PatternBytes(3 * 1024 * 13 + kProgressStretchBytes);
  std::vector<std::string_view> pieces;
  std::size_t at = 0;
  for (std::size_t i = 0; at < bytes.size(); ++i) {
    std::size_t size = i % 5 == 0 ? 0 : 1 + i % 23;
    if (i == 2000) size = kProgressStretchBytes - 7;  // one piece fills most of a stretch
    size = std::min(size, bytes.size() - at);
    pieces.push_back(std::string_view(bytes).substr(at, size));
    at += size;
  }
  ASSERT_GT(pieces.size(), 3u * 1024);
  std::vector<std::pair<std::size_t, std::size_t>> reports;
  const std::string path = folder.Path("out.img");
  WriteFileReplacing(path, pieces, [&](std::size_t written, std::size_t total) { reports.emplace_back(written, total); });
  EXPECT_EQ(folder.Read("out.img"), bytes);
  // The stretch holding the large piece ends right after it.
  EXPECT_NE(std::find(reports.begin(), reports.end(), std::make_pair(std::size_t{2001}, pieces.size())),
            reports.end());
#ifndef _WIN32
  const auto non_empty = static_cast<std::size_t>(
      std::count_if(pieces.begin(), pieces.end(), [](std::string_view piece) { return !piece.empty(); }));
  EXPECT_GE(reports.size(), (non_empty + IOV_MAX - 1) / IOV_MAX);
#endif
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].second, pieces.size());
    if (i > 0) {
      EXPECT_GT(reports[i].first, reports[i - 1].first);
    }
  }
  EXPECT_EQ(reports.back().first, pieces.size());
}

// Pieces that are views of a mapped file (copied by the system where it
// can) among pieces in memory, empty ones and one spanning the whole file:
// the same bytes as writing them all from memory.
TEST(FilesTest, WriteFileReplacingFromAViewWritesTheSameBytes) {
  testing::ScratchFolder folder;
  const std::string content = testing::PatternBytes(3 * kProgressStretchBytes / 2 + 777);
  FileView view;
  ASSERT_TRUE(view.Open(folder.Write("in.img", content), content.size()));
  const std::string_view file = view.bytes();
  const std::string header = "HEADER";
  std::vector<std::string_view> pieces = {header,          file.substr(0, 0), file.substr(10, 4096),
                                          header,          file.substr(5, 3), std::string_view(),
                                          file.substr(1), header,            file};
  // Blocks as a ROFS file holds them, read through a buffer a run at a
  // time: small views that follow on in the file with headers between
  // them, for more than one run; then one just small going back, one just
  // large enough for the system's copy.
  for (std::size_t at = 3; at + 0x8000 <= content.size() / 8; at += 0x8000) {
    pieces.push_back(header);
    pieces.push_back(file.substr(at, 0x8000));
  }
  pieces.push_back(file.substr(100, (std::size_t{128} << 10) - 1));
  pieces.push_back(file.substr(200, std::size_t{128} << 10));
  std::string expected;
  for (const std::string_view piece : pieces) expected += piece;
  std::vector<std::size_t> reports;
  WriteFileReplacing(folder.Path("out.img"), pieces, [&](std::size_t written, std::size_t) { reports.push_back(written); },
                     view);
  EXPECT_TRUE(folder.Read("out.img") == expected);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), pieces.size());
  EXPECT_EQ(view.FileOffsetOf(file.substr(10, 4096)), std::optional<std::uint64_t>(10));
  EXPECT_EQ(view.FileOffsetOf(header), std::nullopt);
  // A view that maps nothing: every piece from memory.
  WriteFileReplacing(folder.Path("out2.img"), pieces, nullptr, FileView());
  EXPECT_TRUE(folder.Read("out2.img") == expected);
}

TEST(FilesTest, AStoppedWriteLeavesTheEarlierFileAndNoTemporary) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("out.img", "earlier");
  const std::string bytes = testing::PatternBytes(2 * kProgressStretchBytes + 1);
  const std::vector<std::string_view> pieces = {std::string_view(bytes).substr(0, kProgressStretchBytes),
                                                std::string_view(bytes).substr(kProgressStretchBytes)};
  EXPECT_THROW(WriteFileReplacing(path, pieces,
                                  [](std::size_t, std::size_t) { throw std::runtime_error("cancelled"); }),
               std::runtime_error);
  EXPECT_EQ(folder.Read("out.img"), "earlier");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(folder.path(), entries));
  EXPECT_EQ(entries.size(), 1u);
}

#ifndef _WIN32
// A source file that became shorter under its view: the pieces past its new
// end are never read from the mapping (which would end the process), the
// write stops naming the cause, and the earlier file stays.
TEST(FilesTest, AViewOfAFileThatBecameShorterStopsTheWrite) {
  testing::ScratchFolder folder;
  const std::string content = testing::PatternBytes(1 << 20);
  FileView view;
  ASSERT_TRUE(view.Open(folder.Write("in.img", content), content.size()));
  const std::string path = folder.Write("out.img", "earlier");
  std::filesystem::resize_file(folder.Path("in.img"), content.size() / 2);
  for (const std::size_t piece_size : {std::size_t{0x8000}, std::size_t{256} << 10}) {
    SCOPED_TRACE(piece_size);
    std::vector<std::string_view> pieces;
    for (std::size_t at = 0; at < content.size(); at += piece_size) {
      pieces.push_back("HEADER");
      pieces.push_back(view.bytes().substr(at, piece_size));
    }
    try {
      WriteFileReplacing(path, pieces, nullptr, view);
      ADD_FAILURE() << "no error";
    } catch (const FileCreateError& error) {
      EXPECT_EQ(error.reason(), "the file it is copied from ended early");
    }
    EXPECT_EQ(folder.Read("out.img"), "earlier");
    EXPECT_FALSE(folder.Exists("out.img.partial"));
  }
}
#endif

#ifndef _WIN32
// A real write failure part way through a gathered write: the file size
// limit stops it after the first megabyte.
TEST(FilesTest, AGatheredWriteThatFailsPartWayLeavesTheEarlierFile) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("out.img", "earlier");
  const std::string bytes = testing::PatternBytes(4 << 20);
  std::vector<std::string_view> pieces;
  for (std::size_t at = 0; at < bytes.size(); at += 4096) pieces.push_back(std::string_view(bytes).substr(at, 4096));
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {}, old_action {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old_action), 0);
  struct rlimit small = saved;
  small.rlim_cur = 1 << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string message;
  try {
    WriteFileReplacing(path, pieces);
  } catch (const FileCreateError& error) {
    message = error.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_EQ(message, "Cannot create file \"" + path + "\". " + SystemReason(EFBIG));
  EXPECT_EQ(folder.Read("out.img"), "earlier");
  EXPECT_FALSE(folder.Exists("out.img.partial"));
}
#endif

// The streamed form: small pieces gathered, a large one written as it is,
// every byte in order; a producer that stops, or a write into a missing
// folder, leaves the earlier file and no temporary.
TEST(FilesTest, AStreamedWriteReplacesWholeOrLeavesTheEarlierFile) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("out.img", "earlier");
  const std::string large = testing::PatternBytes(kStreamedWriteBuffer + 3);
  WriteFileReplacing(path, [&](const ContentWrite& write) {
    write("ab");
    write("");
    write(large);
    for (int i = 0; i < 1000; ++i) write("c");
  });
  EXPECT_EQ(folder.Read("out.img"), "ab" + large + std::string(1000, 'c'));
  EXPECT_FALSE(folder.Exists("out.img.partial"));

  EXPECT_THROW(WriteFileReplacing(path,
                                  [&](const ContentWrite& write) {
                                    write(large);
                                    throw std::runtime_error("source changed");
                                  }),
               std::runtime_error);
  EXPECT_EQ(folder.Read("out.img"), "ab" + large + std::string(1000, 'c'));
  EXPECT_FALSE(folder.Exists("out.img.partial"));

  const std::string missing = JoinPath(folder.path(), "temp/rofs2.img");
  try {
    WriteFileReplacing(missing, [](const ContentWrite& write) { write("x"); });
    FAIL() << "no error";
  } catch (const FileCreateError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + missing + "\". " + testing::MissingFolderReason());
    EXPECT_EQ(error.reason(), testing::MissingFolderReason());
  }
}

TEST(FilesTest, StatusOfPathTellsAMissingFileFromOneItCannotUse) {
  testing::ScratchFolder folder;
  folder.Write("sub/f", "abc");
  const PathStatus file = StatusOfPath((folder.root() / "sub" / "f").native());
  EXPECT_EQ(file.kind, PathStatus::Kind::kRegular);
  EXPECT_EQ(file.size, 3u);
  EXPECT_EQ(StatusOfPath((folder.root() / "sub").native()).kind, PathStatus::Kind::kOther);
  EXPECT_EQ(StatusOfPath((folder.root() / "none").native()).kind, PathStatus::Kind::kMissing);
  EXPECT_EQ(StatusOfPath((folder.root() / "none" / "f").native()).kind, PathStatus::Kind::kMissing);
}

// ReadToEnd says whether the file ends right after the bytes asked for:
// what a builder that measured a file first learns of a file that changed.
TEST(FilesTest, FileReaderTellsWhereTheFileEnds) {
  testing::ScratchFolder folder;
  const NativePath path = std::filesystem::path(folder.Write("f", "abcdef")).native();
  struct Case {
    std::uint64_t skip;   // read first with Read
    std::uint64_t count;  // then asked of ReadToEnd
    FileReader::End end;
  };
  const Case cases[] = {{0, 6, FileReader::End::kExactly}, {0, 5, FileReader::End::kGoesOn},
                        {0, 7, FileReader::End::kSooner},  {2, 4, FileReader::End::kExactly},
                        {6, 0, FileReader::End::kExactly}, {0, 0, FileReader::End::kGoesOn}};
  FileReader reader;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.skip) + "+" + std::to_string(c.count));
    reader.Open(path);
    std::string bytes(8, '-');
    EXPECT_EQ(reader.Read(bytes.data(), c.skip), c.skip);
    EXPECT_EQ(reader.ReadToEnd(bytes.data() + c.skip, c.count), c.end);
    if (c.end != FileReader::End::kSooner) {
      EXPECT_EQ(bytes.substr(0, c.skip + c.count), std::string("abcdef").substr(0, c.skip + c.count));
    }
  }
  reader.Close();
  try {
    reader.Open((folder.root() / "none").native());
    FAIL() << "no error";
  } catch (const FileOpenError& error) {
    EXPECT_EQ(error.reason(), testing::MissingFileReason());
  }
}

// Written out of order, the file takes the earlier one's place only when
// committed, flushed or not; given up, it leaves the earlier file and no
// temporary.
TEST(FilesTest, AReplacingFileTakesThePlaceOnlyWhenCommitted) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("out.img", "earlier");
  for (const ReplacingFile::Flush flush : {ReplacingFile::Flush::kToDisk, ReplacingFile::Flush::kLeftToSystem}) {
    {
      ReplacingFile given_up(path);
      given_up.WriteAt(0, "abc");
      EXPECT_TRUE(folder.Exists("out.img.partial"));
    }
    EXPECT_EQ(folder.Read("out.img"), "earlier");
    EXPECT_FALSE(folder.Exists("out.img.partial"));
    ReplacingFile file(path);
    file.WriteAt(3, "def");
    file.WriteAt(0, "abc");
    EXPECT_EQ(folder.Read("out.img"), "earlier");
    file.Commit(flush);
    EXPECT_EQ(folder.Read("out.img"), "abcdef");
    EXPECT_FALSE(folder.Exists("out.img.partial"));
    folder.Write("out.img", "earlier");
  }
  const std::string missing = JoinPath(folder.path(), "temp/rofs2.img");
  try {
    ReplacingFile file(missing);
    FAIL() << "no error";
  } catch (const FileCreateError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + missing + "\". " + testing::MissingFolderReason());
  }
}

TEST(FilesTest, ReadWholeFileIntoBytesTakesTheSameLimit) {
  testing::ScratchFolder folder;
  std::vector<std::uint8_t> dest = {9};
  ASSERT_TRUE(ReadWholeFile(folder.Write("f", "abc"), dest, 3));
  EXPECT_EQ(dest, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_THROW(ReadWholeFile(folder.Path("f"), dest, 2), FileIoError);
  EXPECT_FALSE(ReadWholeFile(folder.Write("empty", ""), dest, 3));
  EXPECT_FALSE(ReadWholeFile(folder.Path("none"), dest, 3));
  EXPECT_EQ(dest, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
}

}  // namespace
}  // namespace larkspur::port
