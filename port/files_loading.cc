// Loading whole files, the same on every platform; FileForLoading does the
// platform's part.
#include <cstring>
#include <stdexcept>

#include "port/errors.h"
#include "port/file_for_loading.h"
#include "port/file_view.h"
#include "port/files.h"

namespace larkspur::port {
namespace {

// False for no file or an empty one; an error for one over `max_size`.
bool OpenedWithContent(const FileForLoading& file, const std::string& path, std::uint64_t max_size) {
  if (!file.opened() || file.size() == 0) return false;
  if (file.size() > max_size) {
    throw FileIoError("File too large to load", path,
                      std::to_string(file.size()) + " bytes; at most " + std::to_string(max_size) +
                          " bytes can be loaded");
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& dest, std::uint64_t max_size,
                   std::size_t front_room, std::size_t back_room) {
  FileForLoading file(path);
  if (!OpenedWithContent(file, path, max_size)) return false;
  std::string content;
  content.reserve(front_room + file.size() + back_room);
  content.resize(front_room + file.size());
  file.ReadAt(0, content.data() + front_room, file.size());
  dest.swap(content);
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& dest, std::uint64_t max_size) {
  FileForLoading file(path);
  if (!OpenedWithContent(file, path, max_size)) return false;
  std::vector<std::uint8_t> content(static_cast<std::size_t>(file.size()));
  file.ReadAt(0, reinterpret_cast<char*>(content.data()), file.size());
  dest.swap(content);
  return true;
}

bool ReloadWholeFile(const std::string& path, std::string& dest, std::uint64_t max_size) {
  FileForLoading file(path);
  if (!OpenedWithContent(file, path, max_size)) return false;
  // Growing past the capacity would copy the old bytes into the new buffer
  // and hold both at once; dropping them first does neither.
  if (file.size() > dest.capacity()) std::string().swap(dest);
  // Within the capacity, resize zeroes only the bytes past the old size.
  dest.resize(file.size());
  try {
    file.ReadAt(0, dest.data(), file.size());
  } catch (...) {
    dest.clear();
    throw;
  }
  return true;
}

FileView::FileView() = default;
FileView::~FileView() = default;
FileView::FileView(FileView&& other) noexcept { *this = std::move(other); }

FileView& FileView::operator=(FileView&& other) noexcept {
  if (this != &other) {
    file_ = std::move(other.file_);
    storage_ = std::move(other.storage_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

void FileView::Close() {
  data_ = nullptr;
  size_ = 0;
  file_.reset();
  storage_.reset();
}

bool FileView::Holds(std::string_view bytes) const {
  return bytes.data() >= data_ && bytes.size() <= size_ &&
         static_cast<std::size_t>(bytes.data() - data_) <= size_ - bytes.size();
}

std::optional<std::uint64_t> FileView::FileOffsetOf(std::string_view bytes) const {
  if (!file_ || !Holds(bytes)) return std::nullopt;
  return static_cast<std::uint64_t>(bytes.data() - data_);
}

void FileView::CopyOut(std::string_view part, char* to) const {
  if (!Holds(part)) throw std::invalid_argument("FileView::CopyOut: the bytes are not the view's");
  if (part.empty()) return;
  if (file_) {
    file_->ReadAt(static_cast<std::uint64_t>(part.data() - data_), to, part.size());
  } else {
    std::memcpy(to, part.data(), part.size());
  }
}

std::intptr_t FileView::file_handle() const { return file_ ? file_->handle() : -1; }

void FileView::ReadAhead() {
  if (file_) file_->PrefaultMapping();
}

void FileView::DropPages() const {
  if (file_) file_->DropMappedPages();
}

bool FileView::Open(const std::string& path, std::uint64_t max_size) {
  Close();
  auto file = std::make_unique<FileForLoading>(path);
  if (!OpenedWithContent(*file, path, max_size)) return false;
  const auto size = static_cast<std::size_t>(file->size());
  if (const char* mapped = file->MapWhole()) {
    file_ = std::move(file);
    data_ = mapped;
    size_ = size;
    return true;
  }
  // new char[] leaves the bytes uninitialised: the read is their first
  // write, where a std::string would zero every page first.
  std::unique_ptr<char[]> storage(new char[size]);
  file->ReadAt(0, storage.get(), size);
  storage_ = std::move(storage);
  data_ = storage_.get();
  size_ = size;
  return true;
}

}  // namespace larkspur::port
