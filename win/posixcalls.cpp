#include "win/posixcalls.h"

#include "win/systemcalls.h"

#include <QList>
#include <QString>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace win {

namespace {

// Each descriptor's handle, the path it was opened by (for the names in a folder), and how far a
// listing of the folder has come.
struct Open {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring path;
    bool append = false;
    std::optional<QList<QByteArray>> listing;
    qsizetype listed = 0;
};

// The first descriptor given: 0, 1 and 2 are the standard streams elsewhere.
constexpr int kFirstDescriptor = 3;
// The byte that the whole-file lock takes: far beyond any file's end, so that a locked file can
// still be read, as a POSIX record lock lets it be.
constexpr ULONGLONG kLockByte = 1ULL << 62;
// The name a removed file has until its last handle is closed: no one lists it.
constexpr auto kRemovedPrefix = ".qelvo-removed-";
// The longest name that a Windows folder takes, in UTF-16 units.
constexpr long kLongestName = 255;

std::mutex gOpenMutex;
std::vector<std::optional<Open>> gOpen;

int failWith(int code)
{
    errno = code;
    return -1;
}

int failed()
{
    return failWith(errnoOf(::GetLastError()));
}

template <typename Use> auto withOpen(int fd, Use use) -> decltype(use(std::declval<Open&>()))
{
    const std::scoped_lock guard(gOpenMutex);
    const auto at = static_cast<std::size_t>(fd - kFirstDescriptor);
    if (fd < kFirstDescriptor || at >= gOpen.size() || !gOpen[at]) {
        errno = EBADF;
        return {};
    }
    return use(*gOpen[at]);
}

int adopt(Open open)
{
    const std::scoped_lock guard(gOpenMutex);
    std::size_t at = 0;
    while (at < gOpen.size() && gOpen[at]) {
        ++at;
    }
    if (at == gOpen.size()) {
        gOpen.emplace_back();
    }
    gOpen[at] = std::move(open);
    return static_cast<int>(at) + kFirstDescriptor;
}

std::wstring wide(QByteArrayView utf8)
{
    return QString::fromUtf8(utf8).toStdWString();
}

std::wstring nameIn(int folder, const char* name)
{
    if (folder == AT_FDCWD || name[0] == '/' || name[0] == '\\' ||
        (name[0] != '\0' && name[1] == ':')) {
        return longPath(name);
    }
    std::wstring path = withOpen(folder, [](Open& open) { return open.path; });
    if (path.empty()) {
        return {};
    }
    if (std::strcmp(name, ".") != 0) {
        path += L'\\' + wide(name);
    }
    return path;
}

DWORD creation(int flags)
{
    if ((flags & O_CREAT) != 0) {
        if ((flags & O_EXCL) != 0) {
            return CREATE_NEW;
        }
        return (flags & O_TRUNC) != 0 ? CREATE_ALWAYS : OPEN_ALWAYS;
    }
    return (flags & O_TRUNC) != 0 ? TRUNCATE_EXISTING : OPEN_EXISTING;
}

DWORD access(int flags)
{
    switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY:
        return GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    case O_RDWR:
        return GENERIC_READ | GENERIC_WRITE;
    default:
        return GENERIC_READ;
    }
}

int openPath(std::wstring path, int flags)
{
    if (path.empty()) {
        return -1;
    }
    // Folders open too, to be told apart from files by what they are rather than by an error.
    // Windows follows links itself, as every Windows program sees them.
    const DWORD attributes = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS;
    const HANDLE handle = calls().CreateFileW(
        path.c_str(), access(flags), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, creation(flags), attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return failed();
    }
    return adopt({handle, std::move(path), (flags & O_APPEND) != 0, std::nullopt, 0});
}

timespec timeOf(LARGE_INTEGER fileTime)
{
    // 100 ns steps since 1601.
    constexpr long long kStepsPerSecond = 10'000'000;
    constexpr long long kEpochSteps = 116'444'736'000'000'000LL;
    const long long since1970 = fileTime.QuadPart - kEpochSteps;
    return {static_cast<time_t>(since1970 / kStepsPerSecond),
            static_cast<long>(since1970 % kStepsPerSecond * 100)};
}

int statHandle(HANDLE handle, struct stat* status)
{
    BY_HANDLE_FILE_INFORMATION file{};
    FILE_BASIC_INFO basic{};
    if (!calls().GetFileInformationByHandle(handle, &file) ||
        !calls().GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        return failed();
    }
    unsigned int mode = (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? S_IFDIR : S_IFREG;
    mode |= (file.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    ULARGE_INTEGER index{};
    index.LowPart = file.nFileIndexLow;
    index.HighPart = file.nFileIndexHigh;
    ULARGE_INTEGER size{};
    size.LowPart = file.nFileSizeLow;
    size.HighPart = file.nFileSizeHigh;
    // No group: every file counts as this user's own (see geteuid).
    *status = {};
    status->st_dev = file.dwVolumeSerialNumber;
    status->st_ino = index.QuadPart;
    status->st_mode = mode;
    status->st_nlink = file.nNumberOfLinks;
    status->st_uid = geteuid();
    status->st_size = static_cast<std::int64_t>(size.QuadPart);
    status->st_mtim = timeOf(basic.LastWriteTime);
    status->st_ctim = timeOf(basic.ChangeTime);
    return 0;
}

// Reads the folder's names at the first call: Windows lists by a search, not by a descriptor.
QList<QByteArray> namesIn(const std::wstring& folder)
{
    QList<QByteArray> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = calls().FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const QByteArray name = QString::fromWCharArray(found.cFileName).toUtf8();
        if (name != "." && name != ".." && !name.startsWith(kRemovedPrefix)) {
            names << name;
        }
    } while (calls().FindNextFileW(search, &found));
    calls().FindClose(search);
    return names;
}

// Gives the file at source what the user set on the file at target, before it takes target's
// place: its attributes (hidden, archive, ...), and its access list where the file has one of
// its own rather than its folder's. A target that is not there gives nothing. The error, or
// ERROR_SUCCESS.
DWORD takeOverLooks(const std::wstring& target, const std::wstring& source)
{
    const DWORD attributes = calls().GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return ERROR_SUCCESS;
    }
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if ((attributes & kKept) != 0 &&
        !calls().SetFileAttributesW(source.c_str(), attributes & kKept)) {
        return ::GetLastError();
    }
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD failure =
        calls().GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &list, nullptr, &descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (failure == ERROR_SUCCESS &&
        ::GetSecurityDescriptorControl(descriptor, &control, &revision) != FALSE &&
        (control & SE_DACL_PROTECTED) != 0) {
        std::wstring name = source;
        failure = calls().SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION |
                                                    PROTECTED_DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, list, nullptr);
    }
    ::LocalFree(descriptor);
    // A file system without access lists (FAT, some shares) has none to keep.
    return failure == ERROR_NOT_SUPPORTED || failure == ERROR_INVALID_FUNCTION ? ERROR_SUCCESS
                                                                               : failure;
}

} // namespace

int errnoOf(DWORD error)
{
    static constexpr std::array<std::pair<DWORD, int>, 24> kErrors{{
        {ERROR_FILE_NOT_FOUND, ENOENT},    {ERROR_PATH_NOT_FOUND, ENOENT},
        {ERROR_INVALID_DRIVE, ENOENT},     {ERROR_BAD_NETPATH, ENOENT},
        {ERROR_BAD_NET_NAME, ENOENT},      {ERROR_DELETE_PENDING, ENOENT},
        {ERROR_ACCESS_DENIED, EACCES},     {ERROR_NETWORK_ACCESS_DENIED, EACCES},
        {ERROR_WRITE_PROTECT, EROFS},      {ERROR_FILE_EXISTS, EEXIST},
        {ERROR_ALREADY_EXISTS, EEXIST},    {ERROR_DISK_FULL, ENOSPC},
        {ERROR_HANDLE_DISK_FULL, ENOSPC},  {ERROR_SHARING_VIOLATION, EBUSY},
        {ERROR_LOCK_VIOLATION, EAGAIN},    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
        {ERROR_NOT_ENOUGH_MEMORY, ENOMEM}, {ERROR_OUTOFMEMORY, ENOMEM},
        {ERROR_DIRECTORY, ENOTDIR},        {ERROR_NOT_SAME_DEVICE, EXDEV},
        {ERROR_NOT_SUPPORTED, ENOTSUP},    {ERROR_INVALID_FUNCTION, ENOTSUP},
        {ERROR_INVALID_HANDLE, EBADF},     {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    }};
    for (const auto& [windows, posix] : kErrors) {
        if (windows == error) {
            return posix;
        }
    }
    return error == ERROR_INVALID_PARAMETER ? EINVAL : EIO;
}

std::wstring longPath(const QByteArray& path)
{
    const std::wstring given = wide(path);
    if (given.starts_with(L"\\\\?\\")) {
        return given;
    }
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = calls().GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()),
                                            full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = calls().GetFullPathNameW(given.c_str(), length, full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) {
        return {};
    }
    full.resize(length);
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

HANDLE handleOf(int fd)
{
    const HANDLE handle = withOpen(fd, [](Open& open) { return open.handle; });
    return handle == nullptr ? INVALID_HANDLE_VALUE : handle;
}

int open(const char* path, int flags, mode_t /*mode*/)
{
    return openPath(longPath(path), flags);
}

int openat(int folder, const char* name, int flags, mode_t /*mode*/)
{
    return openPath(nameIn(folder, name), flags);
}

int close(int fd)
{
    std::optional<Open> open;
    {
        const std::scoped_lock guard(gOpenMutex);
        const auto at = static_cast<std::size_t>(fd - kFirstDescriptor);
        if (fd >= kFirstDescriptor && at < gOpen.size()) {
            open = std::exchange(gOpen[at], std::nullopt);
        }
    }
    if (!open) {
        return failWith(EBADF);
    }
    return calls().CloseHandle(open->handle) ? 0 : failed();
}

ssize_t read(int fd, void* buffer, size_t size)
{
    const HANDLE handle = handleOf(fd);
    DWORD got = 0;
    if (!calls().ReadFile(handle, buffer, static_cast<DWORD>(qMin<size_t>(size, MAXDWORD)), &got,
                          nullptr)) {
        return failed();
    }
    return got;
}

ssize_t write(int fd, const void* bytes, size_t size)
{
    const auto [handle, append] = withOpen(fd, [](Open& open) {
        return std::pair{open.handle, open.append};
    });
    // Offset all ones: at the file's end, whoever wrote last, as O_APPEND writes.
    OVERLAPPED atEnd{};
    atEnd.Offset = MAXDWORD;
    atEnd.OffsetHigh = MAXDWORD;
    DWORD written = 0;
    if (!calls().WriteFile(handle, bytes, static_cast<DWORD>(qMin<size_t>(size, MAXDWORD)),
                           &written, append ? &atEnd : nullptr)) {
        return failed();
    }
    return written;
}

int fsync(int fd)
{
    const HANDLE handle = handleOf(fd);
    BY_HANDLE_FILE_INFORMATION file{};
    // Windows keeps a folder's names itself; it has no flush for them.
    if (calls().GetFileInformationByHandle(handle, &file) &&
        (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return failWith(EINVAL);
    }
    return calls().FlushFileBuffers(handle) ? 0 : failed();
}

int fstat(int fd, struct stat* status)
{
    return statHandle(handleOf(fd), status);
}

int fstatat(int folder, const char* name, struct stat* status, int /*flags*/)
{
    const std::wstring path = nameIn(folder, name);
    if (path.empty()) {
        return -1;
    }
    const HANDLE handle = calls().CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return failed();
    }
    // Closing sets Windows' error, not errno.
    const int result = statHandle(handle, status);
    calls().CloseHandle(handle);
    return result;
}

int statx(int fd, const char* /*name*/, int /*flags*/, unsigned int /*mask*/, struct statx* status)
{
    struct stat file {};
    if (fstat(fd, &file) != 0) {
        return -1;
    }
    *status = {STATX_TYPE | STATX_SIZE, static_cast<std::uint16_t>(file.st_mode),
               static_cast<std::uint64_t>(file.st_size)};
    return 0;
}

int fstatfs(int /*fd*/, struct statfs* system)
{
    system->f_namelen = kLongestName;
    return 0;
}

int access(const char* path, int mode)
{
    const DWORD attributes = calls().GetFileAttributesW(longPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return failed();
    }
    // A file that the user marked read-only is not to be written, whatever its access list says.
    const bool readOnly =
        (attributes & FILE_ATTRIBUTE_READONLY) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return (mode & W_OK) != 0 && readOnly ? failWith(EACCES) : 0;
}

ssize_t readlink(const char* /*path*/, char* /*buffer*/, size_t /*size*/)
{
    // The program follows no links of Windows' own: Windows follows them itself.
    return failWith(EINVAL);
}

ssize_t getdents64(int fd, void* buffer, size_t size)
{
    return withOpen(fd, [buffer, size](Open& open) -> ssize_t {
        if (!open.listing) {
            open.listing = namesIn(open.path);
        }
        std::size_t used = 0;
        for (; open.listed < open.listing->size(); ++open.listed) {
            const QByteArray& name = open.listing->at(open.listed);
            const std::size_t length =
                (offsetof(::dirent64, d_name) + static_cast<std::size_t>(name.size()) + 8) & ~7U;
            if (used + length > size || name.size() >= qsizetype(sizeof(::dirent64::d_name))) {
                break;
            }
            auto* entry = reinterpret_cast<::dirent64*>(static_cast<char*>(buffer) + used);
            entry->d_reclen = static_cast<unsigned short>(length);
            std::memcpy(entry->d_name, name.constData(), static_cast<std::size_t>(name.size()) + 1);
            used += length;
        }
        return static_cast<ssize_t>(used);
    });
}

int mkdir(const char* path, mode_t /*mode*/)
{
    return calls().CreateDirectoryW(longPath(path).c_str(), nullptr) ? 0 : failed();
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to)
{
    const std::wstring source = nameIn(fromFolder, from);
    const std::wstring target = nameIn(toFolder, to);
    if (source.empty() || target.empty()) {
        return -1;
    }
    if (const DWORD failure = takeOverLooks(target, source); failure != ERROR_SUCCESS) {
        return failWith(errnoOf(failure));
    }
    // Not ReplaceFileW: it refuses a new file that its writer still holds open, as the fenced
    // save does until the move is done.
    return calls().MoveFileExW(source.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : failed();
}

int unlinkat(int folder, const char* name, int /*flags*/)
{
    const std::wstring path = nameIn(folder, name);
    if (path.empty()) {
        return -1;
    }
    // Windows keeps a removed file's name while anyone holds the file open. Moved aside first,
    // the name is free at once, as on Linux: the save lock's fence rests on a writer's rename
    // of its taken-away file failing.
    static std::atomic<unsigned> removals{0};
    const std::wstring aside =
        path.substr(0, path.rfind(L'\\') + 1) + QString::fromLatin1(kRemovedPrefix).toStdWString() +
        std::to_wstring(calls().GetCurrentProcessId()) + L'-' + std::to_wstring(removals++);
    if (!calls().MoveFileExW(path.c_str(), aside.c_str(), 0)) {
        return calls().DeleteFileW(path.c_str()) ? 0 : failed();
    }
    if (calls().DeleteFileW(aside.c_str())) {
        return 0;
    }
    const int code = errnoOf(::GetLastError());
    calls().MoveFileExW(aside.c_str(), path.c_str(), 0);
    return failWith(code);
}

int fchmod(int /*fd*/, mode_t /*mode*/)
{
    // A new file takes its folder's access list, and a replace keeps the old file's.
    return 0;
}

int fchown(int /*fd*/, uid_t /*owner*/, gid_t /*group*/)
{
    return 0;
}

int fcntl(int fd, int command, struct flock* lock)
{
    const HANDLE handle = handleOf(fd);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(kLockByte);
    at.OffsetHigh = static_cast<DWORD>(kLockByte >> 32);
    const bool taken = calls().LockFileEx(
        handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
    if (!taken) {
        if (::GetLastError() != ERROR_LOCK_VIOLATION || command == F_SETLK) {
            return failed();
        }
        // Windows does not tell who holds a lock; only that someone does.
        lock->l_type = F_WRLCK;
        lock->l_pid = -1;
        return 0;
    }
    if (command == F_GETLK) {
        calls().UnlockFileEx(handle, 0, 1, 0, &at);
        lock->l_type = F_UNLCK;
    }
    return 0;
}

int madvise(void* /*start*/, size_t /*size*/, int /*advice*/)
{
    return 0;
}

ssize_t flistxattr(int /*fd*/, char* /*list*/, size_t /*size*/)
{
    return 0;
}

ssize_t llistxattr(const char* /*path*/, char* /*list*/, size_t /*size*/)
{
    return 0;
}

ssize_t lgetxattr(const char* /*path*/, const char* /*name*/, void* /*value*/, size_t /*size*/)
{
    return failWith(ENODATA);
}

int fsetxattr(int /*fd*/, const char* /*name*/, const void* /*value*/, size_t /*size*/,
              int /*flags*/)
{
    return failWith(ENOTSUP);
}

int fremovexattr(int /*fd*/, const char* /*name*/)
{
    return failWith(ENOTSUP);
}

pid_t getpid()
{
    return static_cast<pid_t>(calls().GetCurrentProcessId());
}

uid_t geteuid()
{
    // Windows tells owners by security identifiers: every file counts as this user's, and no
    // one as root.
    return 1;
}

} // namespace win
