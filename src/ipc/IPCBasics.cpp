#include "ipc/IPCBasics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include <QString>

namespace orvane::ipc {

namespace {

std::string SystemMessage(int error) { return std::string(std::strerror(error)); }

[[noreturn]] void ThrowShm(const std::string& name, int error) {
    throw EShmError("Error creating shared memory " + name + " (" + SystemMessage(error) + ")");
}

/// Every object of an exchange is this user's alone. One that exists already was made by
/// someone else before us: it is used only when it belongs to this user with mode 0600, since
/// another user who made it could read or forge every answer.
void CheckOwnObject(const char* kind, const std::string& name, const struct stat& info) {
    if (info.st_uid != ::geteuid()) {
        throw EShmError(std::string("Refusing ") + kind + " " + name + ": it belongs to user id " +
                        std::to_string(info.st_uid) + ", not to this user");
    }
    if ((info.st_mode & 07777) != 0600) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        throw EShmError(std::string("Refusing ") + kind + " " + name + ": its mode is " + mode +
                        ", not 0600");
    }
}

void CheckOwnDescriptor(const char* kind, const std::string& name, int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) ThrowShm(name, errno);
    CheckOwnObject(kind, name, info);
}

/// Where the C library keeps the named semaphore `name` ("/x" lives in /dev/shm/sem.x).
std::string SemaphorePath(const std::string& name) {
    return "/dev/shm/sem." + name.substr(name.empty() || name[0] != '/' ? 0 : 1);
}

/// Opens the semaphore file itself (never through a link), so its owner and mode are those of
/// the object sem_open then maps; /dev/shm is sticky, so nobody else can swap our file.
/// -1 with errno when it cannot be opened.
int OpenSemaphoreFile(const std::string& name) {
    return ::open(SemaphorePath(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

std::string ObjectName(std::string_view kind, std::uint32_t id) {
    std::string name = "/";
    name += ExchangeGuid;
    name += kind;
    name += ExchangeStringID(id);
    return name;
}

}  // namespace

std::string ExchangeStringID(std::uint32_t id) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(id));
    return std::string(text);
}

std::string SizeCellName(std::uint32_t id) { return ObjectName(".EI", id); }
std::string ServerEventName(std::uint32_t id) { return ObjectName("ES", id); }
std::string ClientEventName(std::uint32_t id) { return ObjectName("EC", id); }
std::string AnswerBlockName(std::uint32_t id) { return ObjectName(".TDS", id); }

std::vector<std::uint8_t> TextToUtf16Le(std::string_view utf8) {
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()) * 2);
    for (const QChar c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c.unicode() & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c.unicode() >> 8));
    }
    return bytes;
}

std::string Utf16LeToText(const std::vector<std::uint8_t>& bytes) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
}

THandledObject::~THandledObject() {
    if (FHandle >= 0) ::close(FHandle);
}

// --- TEvent ----------------------------------------------------------------------------------

TEvent::TEvent(std::string name) : FName(std::move(name)) {
    const auto fail = [this](int error) {
        throw EShmError("Error creating event " + FName + " (" + SystemMessage(error) + ")");
    };
    // The other side of the exchange may make it at the same moment: a few rounds settle who.
    for (int attempt = 0; attempt < 3 && FSem == nullptr; ++attempt) {
        sem_t* sem = ::sem_open(FName.c_str(), O_CREAT | O_EXCL, 0600, 0);
        if (sem != SEM_FAILED) {
            FSem = sem;
            // The umask may have taken bits away; the other side checks for exactly 0600.
            const int fd = OpenSemaphoreFile(FName);
            if (fd >= 0) {
                ::fchmod(fd, 0600);
                ::close(fd);
            }
            break;
        }
        if (errno != EEXIST) fail(errno);
        const int fd = OpenSemaphoreFile(FName);
        if (fd < 0) {
            if (errno == ENOENT) continue;  // removed in between: try to make it again
            fail(errno);
        }
        try {
            CheckOwnDescriptor("event", FName, fd);
        } catch (...) {
            ::close(fd);
            throw;
        }
        sem = ::sem_open(FName.c_str(), 0);
        const int error = errno;
        ::close(fd);
        if (sem != SEM_FAILED) {
            FSem = sem;
        } else if (error != ENOENT) {
            fail(error);
        }
    }
    if (FSem == nullptr) fail(EEXIST);
}

TEvent::~TEvent() {
    if (FSem != nullptr) ::sem_close(FSem);
}

void TEvent::Signal() {
    // An event that is set stays set once: a second Signal before the Wait adds nothing.
    int value = 0;
    if (::sem_getvalue(FSem, &value) == 0 && value > 0) return;
    ::sem_post(FSem);
}

void TEvent::Reset() {
    while (::sem_trywait(FSem) == 0) {
    }
}

bool TEvent::Wait(int timeoutMs) {
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long ns = deadline.tv_nsec + static_cast<long long>(timeoutMs % 1000) * 1000000LL;
    deadline.tv_sec += timeoutMs / 1000 + static_cast<time_t>(ns / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000LL);
    for (;;) {
        if (::sem_clockwait(FSem, CLOCK_MONOTONIC, &deadline) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void TEvent::Unlink() { ::sem_unlink(FName.c_str()); }

// --- TSharedMem ------------------------------------------------------------------------------

TSharedMem::TSharedMem(std::string name, std::int32_t size) : FName(std::move(name)), FSize(size) {
    if (size <= 0) ThrowShm(FName, EINVAL);
    for (int attempt = 0; attempt < 3 && FHandle < 0; ++attempt) {
        FHandle = ::shm_open(FName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (FHandle >= 0) {
            FCreated = true;
            // The umask may have taken bits away; the other side checks for exactly 0600.
            ::fchmod(FHandle, 0600);
            break;
        }
        if (errno != EEXIST) ThrowShm(FName, errno);
        FHandle = ::shm_open(FName.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (FHandle < 0 && errno != ENOENT) ThrowShm(FName, errno);
    }
    if (FHandle < 0) ThrowShm(FName, EEXIST);
    if (!FCreated) CheckOwnDescriptor("shared memory", FName, FHandle);
    struct stat info {};
    if (::fstat(FHandle, &info) != 0) ThrowShm(FName, errno);
    // An opened block smaller than asked for (one left behind with another size) is grown, so
    // no access to the mapping can fall off its end.
    if (info.st_size < size && ::ftruncate(FHandle, size) != 0) ThrowShm(FName, errno);
    void* view = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED,
                        FHandle, 0);
    if (view == MAP_FAILED) ThrowShm(FName, errno);
    FFileView = view;
}

TSharedMem TSharedMem::OpenExisting(std::string name, std::int32_t size) {
    TSharedMem mem;
    mem.FName = std::move(name);
    mem.FSize = size;
    if (size <= 0) ThrowShm(mem.FName, EINVAL);
    mem.FHandle = ::shm_open(mem.FName.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (mem.FHandle < 0) ThrowShm(mem.FName, errno);
    CheckOwnDescriptor("shared memory", mem.FName, mem.FHandle);
    struct stat info {};
    if (::fstat(mem.FHandle, &info) != 0) ThrowShm(mem.FName, errno);
    if (info.st_size < size) ThrowShm(mem.FName, EINVAL);
    void* view = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, mem.FHandle, 0);
    if (view == MAP_FAILED) ThrowShm(mem.FName, errno);
    mem.FFileView = view;
    return mem;
}

TSharedMem::TSharedMem(TSharedMem&& other) noexcept
    : FName(std::move(other.FName)),
      FSize(other.FSize),
      FCreated(other.FCreated),
      FFileView(std::exchange(other.FFileView, nullptr)) {
    FHandle = std::exchange(other.FHandle, -1);
}

TSharedMem::~TSharedMem() {
    if (FFileView != nullptr) ::munmap(FFileView, static_cast<std::size_t>(FSize));
}

void TSharedMem::Unlink() { ::shm_unlink(FName.c_str()); }

// --- exchange --------------------------------------------------------------------------------

TShared::TShared(std::uint32_t id)
    : FServerOK(ServerEventName(id)),
      FClientOK(ClientEventName(id)),
      FMetaInfo(SizeCellName(id), static_cast<std::int32_t>(sizeof(std::int32_t))) {
    FSize = static_cast<volatile std::int32_t*>(FMetaInfo.View());
}

TDataExchange::TDataExchange(std::uint32_t id)
    : TShared(id), FStringID(ExchangeStringID(id)), FID(id) {}

TUniDirDataServer::TUniDirDataServer(std::uint32_t id) : TDataExchange(id) {
    FServerOK.Reset();
    FClientOK.Reset();
}

TUniDirDataServer::~TUniDirDataServer() {
    FServerOK.Unlink();
    FClientOK.Unlink();
    FMetaInfo.Unlink();
}

bool TUniDirDataServer::CreateAnswer(const void* data, std::int32_t size) {
    if (FDone || size <= 0) return false;
    *FSize = size;
    bool taken = false;
    {
        const std::string name = AnswerBlockName(FID);
        // A block left behind by a sender that died mid-answer would be reopened with its old
        // contents; a fresh one is made instead.
        ::shm_unlink(name.c_str());
        TSharedMem block(name, size);
        std::memcpy(block.View(), data, static_cast<std::size_t>(size));
        // A signal the receiver gave late for an earlier answer must not count for this one.
        FClientOK.Reset();
        FServerOK.Signal();
        taken = FClientOK.Wait(AnswerHandOverMs);
        block.Unlink();
    }
    return taken;
}

void TUniDirDataServer::CreateAnswer(std::string_view text) {
    const std::vector<std::uint8_t> bytes = TextToUtf16Le(text);
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
        FErrorMessage = "Answer too long for the answer channel";
        return;
    }
    try {
        CreateAnswer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    } catch (const std::exception& e) {
        FErrorMessage = e.what();
    }
}

void TUniDirDataServer::Done() {
    FDone = true;
    *FSize = 0;
    FServerOK.Signal();
}

TUniDirDataClient::TUniDirDataClient(std::uint32_t id) : TDataExchange(id) {}

TUniDirDataClient::TReceive TUniDirDataClient::Receive(int timeoutMs,
                                                        std::vector<std::uint8_t>& bytes,
                                                        bool acknowledge) {
    bytes.clear();
    if (!FServerOK.Wait(timeoutMs)) return TReceive::rcTimeout;
    const std::int32_t size = *FSize;
    if (size == 0) return TReceive::rcEnd;
    if (size < 0) return TReceive::rcLost;
    try {
        TSharedMem block = TSharedMem::OpenExisting(AnswerBlockName(FID), size);
        const auto* first = static_cast<const std::uint8_t*>(block.View());
        bytes.assign(first, first + size);
    } catch (const EShmError&) {
        return TReceive::rcLost;
    }
    if (acknowledge) FClientOK.Signal();
    return TReceive::rcAnswer;
}

}  // namespace orvane::ipc
