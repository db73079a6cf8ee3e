#pragma once

#include <aclapi.h>
#include <windows.h>

// Every Windows call that the system layer makes, in one table, as the POSIX layer keeps its own
// beside it: a test can replace any call, or watch them all, to count them or make one fail with
// an error of Windows' own. The POSIX shapes that the history and the lock are written in are
// made of these calls (win/posixcalls.h).
namespace win {

// Sees each call before it is made, by name; a result other than 0 makes the call fail with that
// Windows error instead. Tests only: in the program nothing watches.
using Watcher = DWORD (*)(const char* call);
void setWatcher(Watcher watcher);
DWORD watchedFailure(const char* call);

// One entry of the table: the call's name, what it gives when it fails, and the function that
// the call is made with.
template <typename Signature> struct Call;
template <typename Result, typename... Arguments> struct Call<Result(Arguments...)> {
    const char* name;
    Result failed;
    Result(WINAPI* function)(Arguments...);

    Result operator()(Arguments... arguments) const
    {
        if (const DWORD code = watchedFailure(name); code != 0) {
            ::SetLastError(code);
            return failed;
        }
        return function(arguments...);
    }
};

struct SystemCalls {
    // Files and folders.
    Call<HANDLE(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)> CreateFileW{
        "CreateFileW", INVALID_HANDLE_VALUE, ::CreateFileW};
    Call<BOOL(HANDLE)> CloseHandle{"CloseHandle", FALSE, ::CloseHandle};
    Call<BOOL(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)> ReadFile{"ReadFile", FALSE,
                                                                      ::ReadFile};
    Call<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> WriteFile{"WriteFile", FALSE,
                                                                        ::WriteFile};
    Call<BOOL(HANDLE)> FlushFileBuffers{"FlushFileBuffers", FALSE, ::FlushFileBuffers};
    Call<BOOL(HANDLE, LPBY_HANDLE_FILE_INFORMATION)> GetFileInformationByHandle{
        "GetFileInformationByHandle", FALSE, ::GetFileInformationByHandle};
    Call<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> GetFileInformationByHandleEx{
        "GetFileInformationByHandleEx", FALSE, ::GetFileInformationByHandleEx};
    Call<DWORD(LPCWSTR, DWORD, LPWSTR, LPWSTR*)> GetFullPathNameW{"GetFullPathNameW", 0,
                                                                  ::GetFullPathNameW};
    Call<BOOL(LPCWSTR, LPCWSTR, DWORD)> MoveFileExW{"MoveFileExW", FALSE, ::MoveFileExW};
    Call<BOOL(LPCWSTR, DWORD)> SetFileAttributesW{"SetFileAttributesW", FALSE,
                                                  ::SetFileAttributesW};
    // A file's access list, where it has one of its own rather than its folder's.
    Call<DWORD(LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
               PSECURITY_DESCRIPTOR*)>
        GetNamedSecurityInfoW{"GetNamedSecurityInfoW", ERROR_ACCESS_DENIED,
                              ::GetNamedSecurityInfoW};
    Call<DWORD(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL)>
        SetNamedSecurityInfoW{"SetNamedSecurityInfoW", ERROR_ACCESS_DENIED,
                              ::SetNamedSecurityInfoW};
    Call<BOOL(LPCWSTR)> DeleteFileW{"DeleteFileW", FALSE, ::DeleteFileW};
    Call<BOOL(LPCWSTR, LPSECURITY_ATTRIBUTES)> CreateDirectoryW{"CreateDirectoryW", FALSE,
                                                                ::CreateDirectoryW};
    Call<DWORD(LPCWSTR)> GetFileAttributesW{"GetFileAttributesW", INVALID_FILE_ATTRIBUTES,
                                            ::GetFileAttributesW};
    Call<HANDLE(LPCWSTR, LPWIN32_FIND_DATAW)> FindFirstFileW{"FindFirstFileW", INVALID_HANDLE_VALUE,
                                                             ::FindFirstFileW};
    Call<BOOL(HANDLE, LPWIN32_FIND_DATAW)> FindNextFileW{"FindNextFileW", FALSE, ::FindNextFileW};
    Call<BOOL(HANDLE)> FindClose{"FindClose", FALSE, ::FindClose};
    // Byte-range locks, which the system drops when the handle is closed, however the process
    // ends.
    Call<BOOL(HANDLE, DWORD, DWORD, DWORD, DWORD, LPOVERLAPPED)> LockFileEx{"LockFileEx", FALSE,
                                                                            ::LockFileEx};
    Call<BOOL(HANDLE, DWORD, DWORD, DWORD, LPOVERLAPPED)> UnlockFileEx{"UnlockFileEx", FALSE,
                                                                       ::UnlockFileEx};
    // Processes: whether one lives, and since when.
    Call<DWORD()> GetCurrentProcessId{"GetCurrentProcessId", 0, ::GetCurrentProcessId};
    Call<HANDLE(DWORD, BOOL, DWORD)> OpenProcess{"OpenProcess", nullptr, ::OpenProcess};
    Call<BOOL(HANDLE, LPDWORD)> GetExitCodeProcess{"GetExitCodeProcess", FALSE,
                                                   ::GetExitCodeProcess};
    Call<BOOL(HANDLE, LPFILETIME, LPFILETIME, LPFILETIME, LPFILETIME)> GetProcessTimes{
        "GetProcessTimes", FALSE, ::GetProcessTimes};
    Call<BOOL(COMPUTER_NAME_FORMAT, LPWSTR, LPDWORD)> GetComputerNameExW{
        "GetComputerNameExW", FALSE, ::GetComputerNameExW};
    // The window of the program that holds the history: found, allowed to take the focus, and
    // knocked on.
    Call<BOOL(WNDENUMPROC, LPARAM)> EnumWindows{"EnumWindows", FALSE, ::EnumWindows};
    Call<DWORD(HWND, LPDWORD)> GetWindowThreadProcessId{"GetWindowThreadProcessId", 0,
                                                        ::GetWindowThreadProcessId};
    Call<BOOL(HWND)> IsWindowVisible{"IsWindowVisible", FALSE, ::IsWindowVisible};
    Call<BOOL(DWORD)> AllowSetForegroundWindow{"AllowSetForegroundWindow", FALSE,
                                               ::AllowSetForegroundWindow};
    Call<UINT(LPCWSTR)> RegisterWindowMessageW{"RegisterWindowMessageW", 0,
                                               ::RegisterWindowMessageW};
    Call<BOOL(HWND, UINT, WPARAM, LPARAM)> PostMessageW{"PostMessageW", FALSE, ::PostMessageW};
    // Ctrl+C, and the closing of the console that the program was started from.
    Call<BOOL(DWORD)> AttachConsole{"AttachConsole", FALSE, ::AttachConsole};
    Call<HANDLE(DWORD)> GetStdHandle{"GetStdHandle", INVALID_HANDLE_VALUE, ::GetStdHandle};
    // The end of the program, which a console's handler waits for.
    Call<HANDLE(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR)> CreateEventW{"CreateEventW", nullptr,
                                                                          ::CreateEventW};
    Call<BOOL(HANDLE)> SetEvent{"SetEvent", FALSE, ::SetEvent};
    Call<DWORD(HANDLE, DWORD)> WaitForSingleObject{"WaitForSingleObject", WAIT_FAILED,
                                                   ::WaitForSingleObject};
    Call<BOOL(PHANDLER_ROUTINE, BOOL)> SetConsoleCtrlHandler{"SetConsoleCtrlHandler", FALSE,
                                                             ::SetConsoleCtrlHandler};
    // The program's own file.
    Call<DWORD(HMODULE, LPWSTR, DWORD)> GetModuleFileNameW{"GetModuleFileNameW", 0,
                                                           ::GetModuleFileNameW};
};

// The table in use. A test may change an entry's function; resetCalls() puts every entry back.
SystemCalls& calls();
void resetCalls();

} // namespace win
