#pragma once
// The file operations the log writer and viewers need, behind an interface so tests can
// substitute failures (unwritable folder, full disk) without root.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velquora::platform {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual bool DirectoryExists(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Creates the folder and its missing parents; throws std::runtime_error with the system text.
  virtual void CreateDirectories(const std::string& path) = 0;
  // Opens the folder to every user (create and append), keeping users from removing each
  // other's files. Failures to change rights are silent.
  virtual void GrantEveryoneFullAccess(const std::string& path) = 0;
  // Appends bytes to the file under an exclusive lock shared with other processes, creating
  // it readable and writable for all. Never follows a symbolic link. Throws on failure.
  virtual void AppendExclusive(const std::string& path, std::string_view bytes) = 0;
  virtual std::vector<std::string> ListNames(const std::string& folder) = 0;
  virtual std::optional<std::int64_t> LastWriteTimeNs(const std::string& path) = 0;
  virtual std::string ReadAll(const std::string& path) = 0;
  // Creates one folder only this user may enter; false when the name exists already.
  virtual bool CreatePrivateDirectory(const std::string& path) = 0;
  // Creates or replaces a file with `bytes`. Throws on failure.
  virtual void WriteFile(const std::string& path, std::string_view bytes) = 0;
  // Removes a folder with everything in it (symbolic links are removed, not followed).
  virtual void RemoveAll(const std::string& path) = 0;
};

// The real file system of this machine.
FileSystem& RealFileSystem();

}  // namespace velquora::platform
