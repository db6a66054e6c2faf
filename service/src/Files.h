// The service's own files: folders that only its user may enter, files that only its user may
// read, and every new file written under a partial name, flushed to disk and renamed into place
// before anything names it, so that a crash leaves either the whole file or a leftover that the
// next start removes.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace tarnix::service {

// Creates the folder with mode 0700 where it is missing, or takes other users' access away.
void PrivateFolder(const std::filesystem::path& dir);
// Creates the file empty with mode 0600 where it is missing, or takes other users' access away.
void PrivateFile(const std::filesystem::path& path);

// Removes what a crash may have left in a folder of stored files: partial files (".part"), and
// files named the way NewFile names them that `keep` does not hold.
void RemoveLeftovers(const std::filesystem::path& dir, const std::set<std::string>& keep);

class NewFile {
public:
    explicit NewFile(std::filesystem::path dir);  // creates dir/<random>.ged.part, mode 0600
    ~NewFile();                                    // removes the partial file unless committed
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    void Write(std::string_view bytes);  // throws ServiceError(kFail)
    void CopyFrom(const std::filesystem::path& source);
    // Flushes the file, renames it to dir/<random>.ged, flushes the folder; gives back the name.
    std::string Commit();

private:
    std::filesystem::path dir_;
    std::string name_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace tarnix::service
