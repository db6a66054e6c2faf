#include "Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Crypto.h"
#include "Errors.h"

namespace tarnix::service {

namespace fs = std::filesystem;

namespace {

const char* const kPartial = ".part";

[[noreturn]] void Fail(const std::string& what, const fs::path& path) {
    throw ServiceError(hr::kFail, "cannot " + what + " " + path.string() + ": " + std::strerror(errno));
}

bool IsStoredName(const std::string& name) {
    return name.size() == 36 && name.compare(32, 4, ".ged") == 0 &&
           name.find_first_not_of("0123456789abcdef") == 32;
}

}  // namespace

void PrivateFolder(const fs::path& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && (errno != EEXIST || chmod(dir.c_str(), 0700) != 0)) Fail("prepare", dir);
}

void PrivateFile(const fs::path& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) Fail("open", path);
    bool tightened = fchmod(fd, 0600) == 0;
    close(fd);
    if (!tightened) Fail("protect", path);
}

void RemoveLeftovers(const fs::path& dir, const std::set<std::string>& keep) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        auto name = entry.path().filename().string();
        bool partial = entry.path().extension() == kPartial;
        if (partial || (IsStoredName(name) && !keep.count(name))) fs::remove(entry.path(), error);
    }
}

NewFile::NewFile(fs::path dir) : dir_(std::move(dir)), name_(RandomHex(16) + ".ged") {
    auto partial = dir_ / (name_ + kPartial);
    fd_ = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0) Fail("create", partial);
}

NewFile::~NewFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink((dir_ / (name_ + kPartial)).c_str());
}

void NewFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        auto written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) Fail("write", dir_ / (name_ + kPartial));
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void NewFile::CopyFrom(const fs::path& source) {
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) Fail("read", source);
    char block[65536];
    ssize_t got;
    while ((got = ::read(in, block, sizeof block)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0) Write(std::string_view(block, static_cast<std::size_t>(got)));
    close(in);
    if (got < 0) Fail("read", source);
}

std::string NewFile::Commit() {
    auto partial = dir_ / (name_ + kPartial);
    if (fsync(fd_) != 0) Fail("flush", partial);
    close(fd_);
    fd_ = -1;
    if (rename(partial.c_str(), (dir_ / name_).c_str()) != 0) Fail("rename", partial);
    committed_ = true;
    // The rename itself must be on disk before a row names the file.
    int folder = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool synced = folder >= 0 && fsync(folder) == 0;
    int reason = errno;
    if (folder >= 0) close(folder);
    if (!synced) {
        unlink((dir_ / name_).c_str());
        errno = reason;
        Fail("flush", dir_);
    }
    return name_;
}

}  // namespace tarnix::service
