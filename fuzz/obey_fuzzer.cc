// The obey parser on arbitrary text, and the image it describes carried
// through the writer and back through the reader. Properties:
//   - only ObeyError comes out, naming the obey file;
//   - a parsed file has a name, a size and at least one file line, every
//     image path has at least one non-empty name, hide= lines have no
//     source, lines are numbered in order;
//   - when the writer accepts the layout, the reader reads the image back
//     with every file at its path, its size, its data and its hidden mark,
//     and the lookup tables are as the phone expects.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "rofs/obey_build.h"
#include "rofs/obey_parser.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_lookup.h"
#include "rofs/rofs_names.h"
#include "rofs/rofs_reader.h"
#include "rofs/rofs_writer.h"

namespace larkspur::fuzz {
namespace {

constexpr char kObeyName[] = "fuzz.oby";

// Each file's data: a few bytes that differ from file to file.
std::vector<std::uint8_t> DataOf(std::size_t index) {
  return std::vector<std::uint8_t>(index % 7, static_cast<std::uint8_t>('a' + index % 26));
}

// Folded path -> (hidden, data) for every file read back from the image.
struct ReadBack {
  bool hidden;
  std::vector<std::uint8_t> data;
};

void Collect(const rofs::RofsDirectory& dir, std::span<const std::uint8_t> image, const std::u16string& prefix,
             std::map<std::u16string, ReadBack>& found) {
  for (const rofs::RofsFile& file : dir.files) {
    const auto data = rofs::FileData(image, file);
    found[prefix + rofs::FoldAsciiCase(file.name)] = {file.hidden(), {data.begin(), data.end()}};
  }
  for (const rofs::RofsDirectory& sub : dir.subdirectories) {
    Collect(sub, image, prefix + rofs::FoldAsciiCase(sub.name) + u'\\', found);
  }
}

void RoundTrip(const rofs::ObeyFile& obey) {
  rofs::ImageSpec spec = rofs::SpecFromObey(obey, 0);
  std::vector<std::vector<std::uint8_t>> contents;
  for (std::size_t i = 0; i < spec.files.size(); ++i) {
    contents.push_back(spec.files[i].hidden ? std::vector<std::uint8_t>() : DataOf(i));
    spec.files[i].size = contents.back().size();
    spec.files[i].uids = rofs::UidsFromData(contents.back());
  }
  rofs::ImageLayout layout;
  try {
    layout = rofs::LayOutImage(spec);
  } catch (const rofs::ObeyError& error) {
    LARKSPUR_FUZZ_CHECK(std::string(error.what()).rfind(kObeyName, 0) == 0, "message %s", error.what());
    return;
  }
  std::vector<std::uint8_t> image;
  rofs::VectorSink sink(image);
  rofs::WriteImage(spec, layout, sink, [&](std::size_t index, rofs::ByteSink& out) { out.Write(contents[index]); });
  LARKSPUR_FUZZ_CHECK(image.size() == layout.image_size, "wrote %zu bytes, laid out %u", image.size(),
                      layout.image_size);

  rofs::RofsImage parsed;
  try {
    parsed = rofs::ParseRofsImage(image, "written.img");
  } catch (const rofs::FormatError& error) {
    LARKSPUR_FUZZ_CHECK(false, "the reader refuses what the writer wrote: %s", error.what());
  }
  LARKSPUR_FUZZ_CHECK(rofs::FindLookupTableProblems(image, parsed).empty(), "written lookup tables are wrong");

  std::map<std::u16string, ReadBack> found;
  Collect(parsed.root, image, u"", found);
  LARKSPUR_FUZZ_CHECK(found.size() == spec.files.size(), "%zu files written, %zu read back", spec.files.size(),
                      found.size());
  for (std::size_t i = 0; i < spec.files.size(); ++i) {
    std::u16string path;
    for (std::size_t c = 0; c < spec.files[i].path.size(); ++c) {
      if (c) path += u'\\';
      path += rofs::FoldAsciiCase(spec.files[i].path[c]);
    }
    const auto it = found.find(path);
    LARKSPUR_FUZZ_CHECK(it != found.end(), "file of line %d not read back", spec.files[i].line);
    LARKSPUR_FUZZ_CHECK(it->second.hidden == spec.files[i].hidden && it->second.data == contents[i],
                        "file of line %d read back differently", spec.files[i].line);
  }
}

}  // namespace
}  // namespace larkspur::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace larkspur;
  using namespace larkspur::fuzz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  rofs::ObeyFile obey;
  try {
    obey = rofs::ParseObey(text, kObeyName);
  } catch (const rofs::ObeyError& error) {
    LARKSPUR_FUZZ_CHECK(std::string(error.what()).rfind(kObeyName, 0) == 0, "message %s", error.what());
    return 0;
  }
  LARKSPUR_FUZZ_CHECK(!obey.rofs_name.empty() && obey.rofs_size > 0 && !obey.files.empty(),
                      "a parsed obey file lacks its name, size or files");
  int previous_line = 0;
  for (const rofs::ObeyFileLine& line : obey.files) {
    LARKSPUR_FUZZ_CHECK(line.line > previous_line, "file lines out of order (%d after %d)", line.line,
                        previous_line);
    previous_line = line.line;
    LARKSPUR_FUZZ_CHECK(!line.image_path.empty(), "line %d: empty image path", line.line);
    for (const std::u16string& name : line.image_path) {
      LARKSPUR_FUZZ_CHECK(!name.empty(), "line %d: empty name in the image path", line.line);
    }
    LARKSPUR_FUZZ_CHECK(line.hidden == line.source.empty(), "line %d: a source only for data= lines", line.line);
  }
  RoundTrip(obey);
  return 0;
}
