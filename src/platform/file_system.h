#pragma once
// The file operations the log writer and viewers need, behind an interface so tests can
// substitute failures (unwritable folder, full disk, a busy lock) without root.
//
// Paths are UTF-8. The log folder may be shared by every user of the machine, so any name in
// it may be a link, a pipe, a device or a folder planted by someone else: the operations that
// open files below never follow a link at the last component, never block on opening, and
// refuse anything that is not a regular file.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velquora::platform {

// How one append goes about the file.
struct AppendOptions {
  // The longest wait for another writer that holds the file's lock. Zero: one attempt only.
  std::chrono::milliseconds lock_wait{0};
  // A file this append creates is open to others as the machine-wide log folder allows (POSIX:
  // readable by every user, writable by its owner; Windows: the folder's access list);
  // otherwise it is its owner's alone.
  bool shared = false;
};

// What became of one append.
enum class AppendStatus {
  kWritten,  // every byte is in the file
  kBusy,     // another writer held the lock for longer than `lock_wait`; nothing was written
  kRefused,  // the name is a link, a pipe, a device, a folder: anything but a regular file; or
             // (POSIX) a file of another user, or one with another name (a hard link)
  kFailed,   // the file could not be created, opened, locked or written
};

// What a read of a file's end found (ReadTail).
struct FileTail {
  std::string bytes;         // the file's bytes from `offset` on, up to `size`
  std::uint64_t offset = 0;  // where `bytes` start in the file
  std::uint64_t size = 0;    // the file's size when it was read
  std::uint64_t volume = 0;  // the file itself, whatever its name: a replaced file has another
  std::uint64_t index = 0;   // (both 0 where the file system cannot tell)
};

struct AppendResult {
  AppendStatus status = AppendStatus::kWritten;
  // What went wrong, as `what "path": system text`; empty when written.
  std::string message;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Existence checks that follow links and never open anything.
  virtual bool DirectoryExists(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;  // a regular file
  // Creates the folder and its missing parents; throws std::runtime_error with the system text.
  virtual void CreateDirectories(const std::string& path) = 0;
  // Gives a new machine-wide log folder its rights. Windows: every user may create log files
  // and read and append to any, nobody may delete or overwrite another's. POSIX: only a
  // process that may create folders in the machine-wide folder logs there (root, as a rule),
  // so the folder is writable by its creator alone and readable by all (0755).
  // Failures to change rights are silent.
  virtual void GrantEveryoneFullAccess(const std::string& path) = 0;
  // Appends `bytes` at the end of a regular file, creating it when missing, under a lock that
  // every writer of this kind takes, in this and in other processes. The lock is held only for
  // the length of the one append.
  //  - Opening never blocks and never follows a link; anything but a regular file is refused,
  //    and on POSIX also a file owned by another user or with a second name (a hard link).
  //  - The lock is waited for at most `options.lock_wait`; then the append gives up (kBusy).
  //  - An append that fails part-way (a full disk) is undone: the file is cut back to its size
  //    before the append, still under the lock, so no torn record is left for the next one to
  //    be glued to.
  //  - The file may be kept open for the next append to the same name; it is used again only
  //    while the name still leads to that very file.
  // File errors are reported in the result, never thrown (only std::bad_alloc may escape).
  virtual AppendResult AppendExclusive(const std::string& path, std::string_view bytes,
                                       const AppendOptions& options) = 0;
  // Closes whatever AppendExclusive keeps open.
  virtual void CloseKeptFiles() {}
  // Every name in the folder but "." and ".."; empty when it cannot be read.
  virtual std::vector<std::string> ListNames(const std::string& folder) = 0;
  virtual std::optional<std::int64_t> LastWriteTimeNs(const std::string& path) = 0;
  // The whole content of a regular file. Opening never blocks and never follows a link;
  // anything but a regular file is refused. Throws std::runtime_error (`what "path": text`).
  virtual std::string ReadAll(const std::string& path) = 0;
  // The bytes of a regular file from `from` to its end, but no more than its last `limit`
  // bytes, so a file of any size costs at most `limit` (a `from` past the end reads nothing).
  // Opens and throws as ReadAll. This default reads the whole file: for files in memory.
  virtual FileTail ReadTail(const std::string& path, std::uint64_t from, std::uint64_t limit) {
    FileTail tail;
    std::string all = ReadAll(path);
    tail.size = all.size();
    tail.offset = std::min(std::max(from, tail.size > limit ? tail.size - limit : 0), tail.size);
    tail.bytes = all.substr(static_cast<std::size_t>(tail.offset));
    return tail;
  }
  // Creates one folder only this user may enter; false when the name exists already.
  virtual bool CreatePrivateDirectory(const std::string& path) = 0;
  // Creates or replaces a file with `bytes`, readable by its owner only. Throws on failure.
  virtual void WriteFile(const std::string& path, std::string_view bytes) = 0;
  // Removes a folder with everything in it (symbolic links are removed, not followed).
  virtual void RemoveAll(const std::string& path) = 0;
};

// The real file system of this machine.
FileSystem& RealFileSystem();

}  // namespace velquora::platform
