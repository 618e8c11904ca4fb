// platform.h: the thin OS layer; the core speaks Win32 semantics and each backend provides them.
#ifndef PEERBEACON_PLATFORM_PLATFORM_H_
#define PEERBEACON_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// windows.h defines some of the names below as macros for its own functions; a file that
// includes it first must not have the platform's functions renamed by them.
#ifdef GetProfileString
#undef GetProfileString
#endif
#ifdef GetProfileInt
#undef GetProfileInt
#endif
#ifdef WriteProfileString
#undef WriteProfileString
#endif
#ifdef GetProfileSection
#undef GetProfileSection
#endif

namespace pb::platform {

// ---------------------------------------------------------------------------------------------
// Waitable objects.
//
// A Handle is an event, the list semaphore or a wrapped host handle. Events are manual or
// automatic reset as in Win32; an auto-reset object is consumed only by the wait it ends.
// Null means "none". On Windows a Handle is the kernel HANDLE; on Linux it points to a small
// object around a pollable file descriptor (eventfd).
using Handle = void*;

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr uint32_t kMaxWaitObjects = 64;

Handle CreateEventObject(bool manual_reset, bool initially_set);  // null on failure
bool SetEventObject(Handle event);
bool ResetEventObject(Handle event);
// A semaphore with initial and maximum count 1 (the entry-list lock).
Handle CreateListSemaphore();
bool ReleaseListSemaphore(Handle semaphore);
void CloseHandleObject(Handle handle);

// Waits for any of count handles. Returns the lowest index among those set (consuming only
// that object when it is auto-reset or a semaphore), kWaitTimeout, or kWaitFailed.
uint32_t WaitForObjects(uint32_t count, const Handle* handles, uint32_t timeout_ms);

// Makes a waitable out of a handle the host passed in (the memo senders' cancel handle): on
// Windows the handle itself, on Linux a file descriptor that becomes readable when signalled.
// The wrapper never closes or consumes the host's object; release it with ReleaseHostHandle.
Handle WrapHostHandle(void* host_value);
void ReleaseHostHandle(Handle wrapped);

// Move-only owner of a Handle.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  Handle release() {
    Handle h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(Handle h = nullptr) {
    if (h_ != nullptr && h_ != h) CloseHandleObject(h_);
    h_ = h;
  }

 private:
  Handle h_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Threads and time.

using ThreadProc = void (*)(void* arg);
// Starts a detached thread with the default stack size. False when it cannot be started.
bool StartDetachedThread(ThreadProc proc, void* arg);
void SleepMs(uint32_t ms);
// Monotonic milliseconds, for bounded waits.
uint64_t MonotonicMs();

struct LocalTime {
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};
LocalTime NowLocal();

// ---------------------------------------------------------------------------------------------
// Identity.

// The logon user name (at most 256 characters); false when it cannot be read.
bool LogonUserName(std::string* name);
// The computer name (at most 15 characters); false when it cannot be read.
bool ComputerName(std::string* name);

// ---------------------------------------------------------------------------------------------
// Files and paths. Paths are 8-bit strings of the system code page.

inline constexpr size_t kMaxPath = 260;  // characters including the terminator

// The directory separator of this platform ('\\' on Windows, '/' elsewhere).
char PathSeparator();
// The module that holds this code (the plug-in, or a test program linked with it): on Windows
// its instance handle, for resources and window classes; null on Linux, which needs none.
void* ModuleInstance();
// The plug-in module's own full path, absolute, as it was when the module was loaded (a later
// change of the current directory does not move it); empty when it cannot be had or is too
// long.
std::string ModulePath();
// The host executable's full path; empty when it cannot be had.
std::string ExecutablePath();
// The Windows and system directories (on Linux /etc/peerbeacon and /usr/share/peerbeacon,
// overridable by PEERBEACON_WINDOWS_DIR and PEERBEACON_SYSTEM_DIR).
std::string WindowsDirectory();
std::string SystemDirectory();
// Where the settings form writes file_name: beside the executable. On Linux, when the
// executable's folder is not the user's to write (an installed program in /usr/bin), the
// current folder instead, which start-up searches next.
std::string SettingsPathForWriting(const std::string& file_name);
// The search of OpenFile(OF_EXIST) for a bare file name: executable's directory, current
// directory, system directory, Windows directory, PATH. The full path of the first hit.
bool OpenFileSearch(const std::string& file_name, std::string* full_path);
// The standard search of SearchPathA with no path given.
bool SearchPathFile(const std::string& file_name, std::string* full_path);
// True when path names one existing file (find-first-file semantics, wildcards refused).
bool FileExists(const std::string& path);

// Replaces the file name and extension of path: ReplaceFileName("/a/b/x.exe", "Peerbeacon.ini")
// gives "/a/b/Peerbeacon.ini".
std::string ReplaceFileName(const std::string& path, const std::string& file_name);
// Replaces the extension: ReplaceExtension("/a/Peerbeacon.nxl", "err") gives "/a/Peerbeacon.err".
std::string ReplaceExtension(const std::string& path, const std::string& extension);

// Identity of a file's current contents; changes when the file is edited or replaced.
struct FileIdentity {
  uint64_t size = 0;
  uint64_t modified = 0;  // nanoseconds or 100-ns ticks, whichever the platform gives
  // Linux: the inode and device. Windows: the creation time and 0, read by path without
  // opening the file, which is what keeps a check at every host read cheap there.
  uint64_t file_index = 0;
  uint64_t volume = 0;
  bool operator==(const FileIdentity&) const = default;
};
bool GetFileIdentity(const std::string& path, FileIdentity* identity);

// Appends the pieces to path as one write unit: opened (created when missing), shared for
// reading, written through, and closed again. False on any failure.
bool AppendToFile(const std::string& path, const std::string& text);

// The bytes of a whole existing, non-empty file, read-only, for files that others may rewrite
// while they are read. Windows maps the file: the view shares it for reading only and Windows
// refuses to truncate a mapped file, so the bytes stay valid. Linux reads a private copy with
// read(): nothing there stops another program from truncating a file, and any access to a
// mapping beyond the file's new end would fault. A read that overlapped a change of the file
// is read again, a few times at most.
class ReadOnlyFileView {
 public:
  ReadOnlyFileView() = default;
  ~ReadOnlyFileView();
  ReadOnlyFileView(const ReadOnlyFileView&) = delete;
  ReadOnlyFileView& operator=(const ReadOnlyFileView&) = delete;
  // False (and no bytes) when the file is missing, unreadable, not a regular file or empty.
  bool Open(const std::string& path);
  const unsigned char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void Close();
  const unsigned char* data_ = nullptr;  // Linux: a malloc'ed copy
  size_t size_ = 0;
  [[maybe_unused]] intptr_t file_ = -1;    // the Windows build's file handle
  [[maybe_unused]] intptr_t mapping_ = 0;  // the Windows build's mapping object
};

// ---------------------------------------------------------------------------------------------
// Text of code page 932, the Japanese code page that names, nicknames and files are written in.
// A lead byte (0x81-0x9F, 0xE0-0xFC) and the byte after it, its trail byte, form one double-byte
// character; any other byte is a character of its own. Trail bytes take values that also stand
// for ASCII letters and for lead bytes, so a byte's role shows only from the start of the text.

bool IsCp932LeadByte(unsigned char byte);
// The length of the longest start of text that is at most max_bytes long and ends behind a
// whole character: never between a lead byte and its trail byte, nor on a lead byte that has
// no trail byte.
size_t Cp932FittingLength(std::string_view text, size_t max_bytes);
// Whether two section or key names are one name, as the Windows profile functions compare them
// under code page 932: ASCII letters match without regard to case where they stand as
// characters of their own; trail bytes and every other byte must be equal.
bool SameProfileName(std::string_view a, std::string_view b);
// The ANSI code page the system's 8-bit strings are in: 932 in the Linux build, which treats
// them as Japanese; the system's own setting on Windows.
uint32_t SystemCodePage();

// ---------------------------------------------------------------------------------------------
// Private-profile (INI) functions with the Win32 rules: section and key names matched without
// regard to case (in the Linux build by SameProfileName, in the Windows build by the system),
// the first match wins, values trimmed and one surrounding pair of quotes dropped; writes
// rewrite a key in place and create the file and the section when missing.

// Copies the value (or default_value) into buffer, at most size - 1 characters and a NUL, and
// returns the number of characters copied.
uint32_t GetProfileString(const char* section, const char* key, const char* default_value,
                          char* buffer, uint32_t size, const char* path);
// The value's leading decimal number with an optional sign; default_value when the key is
// missing.
int32_t GetProfileInt(const char* section, const char* key, int32_t default_value,
                      const char* path);
// The leading decimal number of a text, the one reader behind every integer that the plug-in
// takes from a file or a field: the blanks it skips, an optional sign where one is allowed,
// then the digits; reading stops at the first other character. Callers choose how a value
// beyond 32 bits reads (wrapped or held at a bound).
enum class LeadingBlanks { kNone, kSpaceAndTab, kAnyCSpace };
struct LeadingNumber {
  bool negative = false;
  uint32_t wrapped = 0;  // the digits' value modulo 2^32
  uint64_t held = 0;     // the digits' value, held at 2^32 once beyond it
};
LeadingNumber ReadLeadingNumber(std::string_view text, LeadingBlanks blanks, bool sign_allowed);

// The integer rule of a non-empty value: blanks, an optional sign, the leading decimal digits
// (wrapping at 32 bits); anything after them is ignored.
int32_t ParseProfileInteger(const char* text);
bool WriteProfileString(const char* section, const char* key, const char* value, const char* path);

// The key lines of the first section named section, in file order: each key name as the file
// spells it (trimmed) and its value exactly as GetProfileString would return it with no length
// limit. Lets a reader that asks many keys of one file parse it once. False when the file is
// missing (or, on Linux, cannot be read); a missing section gives true and no entries.
struct ProfileEntry {
  std::string key;
  std::string value;
};
bool GetProfileSection(const char* section, const char* path, std::vector<ProfileEntry>* entries);
// Whether a key name given by GetProfileSection matches the name a lookup asks for, by the
// lookups' own rule (without regard to case, as above).
bool ProfileKeyMatches(const std::string& found, const char* asked);

// ---------------------------------------------------------------------------------------------
// Memory handed to the host: a movable, zero-initialised global block. The handle is what the
// host frees (GlobalFree on Windows, free() on Linux). Null on failure.
void* GlobalAllocZeroed(size_t size);
void* GlobalLockBlock(void* handle);
void GlobalUnlockBlock(void* handle);
void GlobalFreeBlock(void* handle);

// The dotted-address parser (inet_addr): network order; 0xFFFFFFFF on failure.
uint32_t ParseDottedAddress(const char* text);

}  // namespace pb::platform

#endif  // PEERBEACON_PLATFORM_PLATFORM_H_
