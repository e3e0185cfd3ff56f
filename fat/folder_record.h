// Change detection for an unpacked folder: a text record of what it holds
// (relative paths, sizes and modification times), taken right after
// extraction and compared before a rebuild, so an untouched folder need not
// be rebuilt. Reads the folder only; safe from any thread while nobody
// changes the folder.
#ifndef LARKSPUR_FAT_FOLDER_RECORD_H_
#define LARKSPUR_FAT_FOLDER_RECORD_H_

#include <filesystem>
#include <string>

namespace larkspur::fat {

// The record of `folder`: a first line "larkspur folder record 1", then one
// line per entry below it in path order, "d <path>" for a folder and
// "f <size> <time> <path>" for anything else (the time in the file clock's
// ticks), paths relative with '/' between names and '\' and line breaks
// escaped as "\\" and "\n". Symbolic links are recorded, not followed.
// Throws rofs::HostFileError naming the path when the folder cannot be read.
std::string RecordFolderState(const std::filesystem::path& folder);

// True when `folder` still holds exactly what `record` lists, with the same
// sizes and times. False for a record of another form, or a folder that
// cannot be read (then it has changed as far as a rebuild is concerned).
bool FolderMatchesRecord(const std::filesystem::path& folder, const std::string& record);

// The same two, with `folder` one of the program's path strings (UTF-8 on
// Windows too; port/files.h).
std::string RecordFolderState(const std::string& folder);
bool FolderMatchesRecord(const std::string& folder, const std::string& record);

}  // namespace larkspur::fat

#endif  // LARKSPUR_FAT_FOLDER_RECORD_H_
