// Win32 implementation of HttpGet with WinINet: the system's proxy
// configuration, WinINet's cookies, the cache read but not written (see
// OpenRequest), and the body read in 4095-byte pieces. May contain only OS
// plumbing.
//
// The request is opened in steps (connection, request, send) rather than
// with InternetOpenUrlA so that the time-outs can be set on the request
// handle before anything is sent: Wine's WinINet ignores send and receive
// time-outs set on the session handle, and InternetOpenUrlA has already
// waited for the answer when it returns. For the same reason of Wine's,
// redirects are followed here, with a bound, instead of by WinINet.
//
// The deadline. WinINet's time-outs are per operation, and it reads a
// response head whole inside HttpSendRequest, so a server that trickles
// keeps that call going as long as it likes. Each fetch therefore has a
// watchdog thread, joined before HttpGet returns, which at the deadline
// ends the call under way, and the fetch then fails (or, in the body, ends
// with what arrived). It does two things:
// - It closes the request handle, which is how Windows documents cancelling
//   a blocking WinINet call from another thread. The handle lives in the
//   watch, and whoever takes it from there closes it, once. The watchdog
//   takes it only while the fetching thread has been inside a call on it
//   for kCloseAfterMs, so that thread never makes a call with a handle
//   value that is already closed (and may have been handed to another
//   fetch).
// - It shuts down the socket WinINet reads. Under Wine (8, 32- and 64-bit,
//   measured) nothing else ends such a call: closing the request,
//   connection or session handle leaves it reading until the server stops;
//   CancelSynchronousIo does nothing; a shorter receive time-out set
//   meanwhile is not applied to the read under way; and in asynchronous
//   mode WinINet's own worker thread reads on in the same way after every
//   handle is closed, calling back afterwards. A shutdown ends the read at
//   once.
//
// Finding the socket. Windows gives it out (INTERNET_OPTION_DIAGNOSTIC_
// SOCKET_INFO); Wine answers 0 there. Under Wine, and only there, the status
// callback finds it instead: WinINet reports when it starts and when it has
// finished connecting, and the socket is the TCP connection to the URL's
// port that appeared in the process in between. Only one such connect runs
// at a time in the process (a gate), so the new connection is never another
// fetch's. (Listing the process's handles this way asks every handle
// whether it is a socket; Wine answers at once, but on Windows a handle
// with synchronous I/O pending in another thread could keep the question
// waiting, so it is not done there.) We keep a duplicate of the socket: the
// value the watchdog shuts down then always names that socket, even after
// WinINet has closed its own. When a socket cannot be found (two connects
// at once when the gate was busy, a system that lists no handles), the
// fetch relies on closing the request, and on WinINet's time-outs, which
// are cut to what is left of the deadline at every hop.
//
// The head. WinINet shows neither the size of a head nor its interim
// responses while it reads, so max_header_bytes and max_interim_responses
// cannot be counted here. Wine's WinINet stores every header line it reads,
// without limit, at some 16 KB per millisecond of the reading thread's time
// (measured); so a head that has cost that thread kHeadCpuBudgetMs is taken
// for a flood and cut at once rather than at the deadline. An endless run of
// "100 Continue", which costs nothing, ends at the deadline.
#include "platform/http.h"
#include "platform/http_body.h"

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>
#include <process.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

namespace feedlet {
namespace platform {

namespace {

// Closes a WinINet handle at scope end.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~InternetHandle() { Reset(nullptr); }
    void Reset(HINTERNET handle) {
        if (handle_) InternetCloseHandle(handle_);
        handle_ = handle;
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

constexpr DWORD kReadSize = 4095;
// A head that has cost the fetching thread this much CPU time is a flood
// (some megabytes of header lines, see above); ordinary heads cost
// microseconds, and thread times are counted in clock ticks of 10-16 ms.
constexpr ULONGLONG kHeadCpuBudgetMs = 100;
// How often the watchdog looks at that cost while a head is read.
constexpr DWORD kHeadPollMs = 20;
// Connects to live servers take milliseconds; one that hangs must not hold
// every other fetch's connect for long.
constexpr DWORD kGateWaitMs = 2000;
// The watchdog closes a request only when the fetching thread has been in a
// call on it this long: by then it is surely inside WinINet, holding the
// handle, and not about to pass a value that is already closed.
constexpr DWORD kCloseAfterMs = 500;

// ---------------------------------------------------------------------------
// The process's handles and sockets.

// An entry of NtQuerySystemInformation's list of every process's handles.
struct SystemHandleEntry {
    PVOID object;
    ULONG_PTR process_id;
    ULONG_PTR handle_value;
    ULONG granted_access;
    USHORT creator_back_trace_index;
    USHORT object_type_index;
    ULONG attributes;
    ULONG reserved;
};
using QuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr ULONG kMaxHandleListBytes = 64u << 20;

bool RunningOnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Handle values open in this process; false when the system will not say.
bool ProcessHandles(std::vector<ULONG_PTR>& handles) {
    handles.clear();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll ? reinterpret_cast<QuerySystemInformationFn>(
                             reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                       : nullptr;
    if (!query) return false;
    std::vector<unsigned char> buffer;
    for (ULONG size = 64 << 10;;) {
        buffer.resize(size);
        ULONG needed = 0;
        LONG status = query(kSystemExtendedHandleInformation, buffer.data(), size, &needed);
        if (status >= 0) break;
        if (status != kInfoLengthMismatch || size >= kMaxHandleListBytes) return false;
        size = std::max(size * 2, needed + (needed >> 3));
    }
    if (buffer.size() < 2 * sizeof(ULONG_PTR)) return false;
    ULONG_PTR count = *reinterpret_cast<const ULONG_PTR*>(buffer.data());
    if (count > (buffer.size() - 2 * sizeof(ULONG_PTR)) / sizeof(SystemHandleEntry)) return false;
    const auto* entries = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + 2 * sizeof(ULONG_PTR));
    ULONG_PTR self = GetCurrentProcessId();
    for (ULONG_PTR i = 0; i < count; ++i)
        if (entries[i].process_id == self) handles.push_back(entries[i].handle_value);
    return true;
}

// The Winsock calls the socket needs. WinINet has loaded ws2_32 before it
// connects and keeps it loaded, so the plugin itself imports nothing more.
struct SocketCalls {
    decltype(&::getsockopt) get_option = nullptr;
    decltype(&::getpeername) peer_name = nullptr;
    decltype(&::getsockname) own_name = nullptr;
    decltype(&::shutdown) shut_down = nullptr;

    void Load() {
        HMODULE ws2 = GetModuleHandleW(L"ws2_32.dll");
        if (!ws2) return;
        auto find = [ws2](auto& call, const char* name) {
            call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(
                reinterpret_cast<void*>(GetProcAddress(ws2, name)));
        };
        find(get_option, "getsockopt");
        find(peer_name, "getpeername");
        find(own_name, "getsockname");
        find(shut_down, "shutdown");
    }
    bool usable() const { return get_option && peer_name && own_name && shut_down; }
};

// A connected TCP socket of the process: its handle, both of its addresses
// (which tell one connection from every other, where a handle value may be
// closed and reused while WinINet connects) and its remote port. False when
// handle is no such socket.
struct Connection {
    ULONG_PTR handle;
    std::string addresses;
    int peer_port;
    bool operator<(const Connection& other) const { return addresses < other.addresses; }
};

bool Describe(const SocketCalls& calls, ULONG_PTR handle, Connection& connection) {
    SOCKET s = static_cast<SOCKET>(handle);
    int type = 0;
    int size = sizeof type;
    if (calls.get_option(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) != 0 ||
        type != SOCK_STREAM)
        return false;
    sockaddr_storage peer{}, own{};
    int peer_size = sizeof peer, own_size = sizeof own;
    if (calls.peer_name(s, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0 ||
        calls.own_name(s, reinterpret_cast<sockaddr*>(&own), &own_size) != 0)
        return false;
    if (peer.ss_family != AF_INET && peer.ss_family != AF_INET6) return false;
    connection.handle = handle;
    connection.addresses.assign(reinterpret_cast<const char*>(&peer), static_cast<size_t>(peer_size));
    connection.addresses.append(reinterpret_cast<const char*>(&own), static_cast<size_t>(own_size));
    // sin_port and sin6_port sit at the same place, in network byte order.
    const auto* port = reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
    connection.peer_port = port[0] << 8 | port[1];
    return true;
}

// The process's TCP connections, sorted by their addresses.
bool ListConnections(const SocketCalls& calls, std::vector<Connection>& connections) {
    connections.clear();
    std::vector<ULONG_PTR> handles;
    if (!ProcessHandles(handles)) return false;
    Connection connection;
    for (ULONG_PTR handle : handles)
        if (Describe(calls, handle, connection)) connections.push_back(connection);
    std::sort(connections.begin(), connections.end());
    return true;
}

// One watched connect at a time in the process (see the top of the file).
HANDLE ConnectGate() {
    struct Gate {
        HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 1, nullptr);
        ~Gate() {
            if (semaphore) CloseHandle(semaphore);
        }
    };
    static Gate gate;
    return gate.semaphore;
}

ULONGLONG ThreadCpuMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& t) { return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000;
}

// ---------------------------------------------------------------------------
// What a fetch shares with its watchdog and with WinINet's status callback.
// It outlives every WinINet handle of the fetch, since those carry a pointer
// to it as their context.
class Watch {
public:
    explicit Watch(uint32_t deadline_ms)
        : start_(GetTickCount()), deadline_ms_(deadline_ms), list_connections_(RunningOnWine()) {
        InitializeCriticalSection(&lock_);
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &fetch_thread_, 0,
                             FALSE, DUPLICATE_SAME_ACCESS))
            fetch_thread_ = nullptr;
    }
    ~Watch() {
        StopWatchdog();
        CloseRequest();
        ReleaseGate();
        ForgetSockets();
        if (fetch_thread_) CloseHandle(fetch_thread_);
        DeleteCriticalSection(&lock_);
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    DWORD Remaining() const {
        DWORD spent = GetTickCount() - start_;
        return spent >= deadline_ms_ ? 0 : deadline_ms_ - spent;
    }
    bool Aborted() const { return InterlockedCompareExchange(&aborted_, 0, 0) != 0; }
    // True once the fetch must stop: the watchdog cut it off, or the
    // deadline passed (also without a watchdog).
    bool Over() const { return Aborted() || Remaining() == 0; }

    // Starts the watchdog; without one the fetch still stops between calls.
    void StartWatchdog() {
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        head_begun_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!stop_ || !head_begun_) return;
        uintptr_t thread = _beginthreadex(nullptr, 0, WatchdogMain, this, 0, nullptr);
        watchdog_ = reinterpret_cast<HANDLE>(thread);
    }
    // Ends and joins the watchdog; afterwards nothing is closed or shut down
    // behind the fetching thread.
    void StopWatchdog() {
        if (watchdog_) {
            SetEvent(stop_);
            WaitForSingleObject(watchdog_, INFINITE);
            CloseHandle(watchdog_);
            watchdog_ = nullptr;
        }
        for (HANDLE* event : {&stop_, &head_begun_}) {
            if (*event) CloseHandle(*event);
            *event = nullptr;
        }
    }

    // A hop (the first request or a redirect's next): the request it opened
    // goes into the watch; the last hop's request is closed and its sockets
    // are not ours to shut any more (WinINet may keep them for others).
    void BeginHop(INTERNET_PORT port) {
        CloseRequest();
        ForgetSockets();
        port_ = port;
    }
    void SetRequest(HINTERNET request) {
        EnterCriticalSection(&lock_);
        request_ = request;
        LeaveCriticalSection(&lock_);
    }
    // The fetching thread, between calls.
    void CloseRequest() {
        EnterCriticalSection(&lock_);
        HINTERNET request = request_;
        request_ = nullptr;
        LeaveCriticalSection(&lock_);
        if (request) InternetCloseHandle(request);
    }

    // Runs operation(request) unless the fetch is over. FALSE when it did
    // not run, or when the watchdog closed the request meanwhile; otherwise
    // what the operation returned.
    template <typename Operation>
    BOOL Call(Operation operation) {
        EnterCriticalSection(&lock_);
        HINTERNET request = Aborted() ? nullptr : request_;
        if (request) {
            in_call_ = true;
            call_start_ = GetTickCount();
        }
        LeaveCriticalSection(&lock_);
        if (!request) return FALSE;
        BOOL result = operation(request);
        EnterCriticalSection(&lock_);
        in_call_ = false;
        bool closed = request_ == nullptr;
        LeaveCriticalSection(&lock_);
        return closed ? FALSE : result;
    }

    // Around HttpSendRequest, inside which WinINet reads the head.
    void BeginSend() {
        EnterCriticalSection(&lock_);
        sending_ = true;
        LeaveCriticalSection(&lock_);
    }
    void EndSend() {
        EnterCriticalSection(&lock_);
        sending_ = false;
        in_head_ = false;
        LeaveCriticalSection(&lock_);
        ReleaseGate();
    }

    static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
        // Only these four look at the context: WinINet also calls back while
        // its handles close.
        auto* watch = reinterpret_cast<Watch*>(context);
        try {
            switch (status) {
                case INTERNET_STATUS_CONNECTING_TO_SERVER: watch->BeginConnect(); break;
                case INTERNET_STATUS_CONNECTED_TO_SERVER: watch->EndConnect(handle); break;
                case INTERNET_STATUS_RECEIVING_RESPONSE: watch->BeginHead(); break;
                case INTERNET_STATUS_RESPONSE_RECEIVED: watch->EndHead(); break;
                default: break;
            }
        } catch (...) {
            // Out of memory for a handle list: this connect goes unwatched.
        }
    }

private:
    // Sleeps until the deadline, looking at the cost of a head every
    // kHeadPollMs while one is read; then cuts the fetch off and, once the
    // call under way has run kCloseAfterMs, closes its request.
    static unsigned __stdcall WatchdogMain(void* argument) {
        auto* watch = static_cast<Watch*>(argument);
        HANDLE events[] = {watch->stop_, watch->head_begun_};
        for (;;) {
            DWORD wait = watch->Remaining();
            if (watch->ReadingHead() && wait > kHeadPollMs) wait = kHeadPollMs;
            if (WaitForMultipleObjects(2, events, FALSE, wait) == WAIT_OBJECT_0) return 0;
            if (watch->Remaining() == 0 || watch->HeadTooCostly()) break;
        }
        watch->Abort();
        for (;;) {
            if (HINTERNET request = watch->TakeStuckRequest()) {
                InternetCloseHandle(request);
                return 0;
            }
            if (WaitForSingleObject(watch->stop_, kHeadPollMs) == WAIT_OBJECT_0) return 0;
        }
    }

    bool ReadingHead() {
        EnterCriticalSection(&lock_);
        bool reading = in_head_;
        LeaveCriticalSection(&lock_);
        return reading;
    }
    bool HeadTooCostly() {
        EnterCriticalSection(&lock_);
        bool costly = in_head_ && fetch_thread_ && ThreadCpuMs(fetch_thread_) - head_cpu_start_ > kHeadCpuBudgetMs;
        LeaveCriticalSection(&lock_);
        return costly;
    }
    void Abort() {
        EnterCriticalSection(&lock_);
        InterlockedExchange(&aborted_, 1);
        for (HANDLE socket : sockets_) calls_.shut_down(reinterpret_cast<SOCKET>(socket), SD_BOTH);
        LeaveCriticalSection(&lock_);
    }
    // The request, taken out of the watch, when the fetching thread has been
    // inside a call on it long enough to be sure it is in WinINet by now.
    HINTERNET TakeStuckRequest() {
        EnterCriticalSection(&lock_);
        HINTERNET request = nullptr;
        if (in_call_ && request_ && GetTickCount() - call_start_ >= kCloseAfterMs) {
            request = request_;
            request_ = nullptr;
        }
        LeaveCriticalSection(&lock_);
        return request;
    }

    void BeginConnect() {
        if (!list_connections_) return;
        if (!calls_.usable()) calls_.Load();
        if (!holds_gate_) {
            HANDLE gate = ConnectGate();
            holds_gate_ = gate && WaitForSingleObject(gate, std::min(kGateWaitMs, Remaining())) == WAIT_OBJECT_0;
        }
        listed_ = false;  // until the list below is whole
        listed_ = calls_.usable() && ListConnections(calls_, before_);
    }
    void EndConnect(HINTERNET request) {
        if (!calls_.usable()) calls_.Load();
        if (!calls_.usable()) return;
        ULONG_PTR found = GivenSocket(request);
        if (!found && list_connections_) found = NewConnection();
        ReleaseGate();
        if (!found) return;
        HANDLE duplicate = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(found), GetCurrentProcess(), &duplicate, 0,
                             FALSE, DUPLICATE_SAME_ACCESS))
            return;
        EnterCriticalSection(&lock_);
        // Nothing may leave with the lock held: out of memory for the list,
        // this connection goes unwatched.
        bool kept = false;
        try {
            sockets_.push_back(duplicate);
            kept = true;
        } catch (...) {
        }
        // The watchdog may have given up while WinINet was connecting.
        if (kept && Aborted()) calls_.shut_down(reinterpret_cast<SOCKET>(duplicate), SD_BOTH);
        LeaveCriticalSection(&lock_);
        if (!kept) CloseHandle(duplicate);
    }
    // The socket WinINet says it uses (Windows), or 0.
    ULONG_PTR GivenSocket(HINTERNET request) {
        INTERNET_DIAGNOSTIC_SOCKET_INFO info{};
        DWORD size = sizeof info;
        Connection connection;
        if (!InternetQueryOptionA(request, INTERNET_OPTION_DIAGNOSTIC_SOCKET_INFO, &info, &size) || !info.Socket ||
            !Describe(calls_, info.Socket, connection))
            return 0;
        return info.Socket;
    }
    // The connection that appeared since BeginConnect (Wine), or 0.
    ULONG_PTR NewConnection() {
        std::vector<Connection> after;
        if (!listed_ || !ListConnections(calls_, after)) return 0;
        std::vector<Connection> added;
        std::set_difference(after.begin(), after.end(), before_.begin(), before_.end(), std::back_inserter(added));
        // Ours goes to the URL's port; through a proxy it is the one new
        // connection. Another may have appeared meanwhile (a server in this
        // process accepting ours, a fetch that connected without the gate):
        // never guess between two.
        std::vector<ULONG_PTR> on_port;
        for (const Connection& connection : added)
            if (connection.peer_port == port_) on_port.push_back(connection.handle);
        if (on_port.size() == 1) return on_port[0];
        if (on_port.empty() && added.size() == 1) return added[0].handle;
        return 0;
    }
    void BeginHead() {
        EnterCriticalSection(&lock_);
        bool begun = sending_ && !in_head_ && fetch_thread_;
        if (begun) {
            in_head_ = true;
            head_cpu_start_ = ThreadCpuMs(fetch_thread_);
        }
        LeaveCriticalSection(&lock_);
        if (begun && head_begun_) SetEvent(head_begun_);
    }
    void EndHead() {
        EnterCriticalSection(&lock_);
        in_head_ = false;
        LeaveCriticalSection(&lock_);
    }

    void ReleaseGate() {
        if (!holds_gate_) return;
        ReleaseSemaphore(ConnectGate(), 1, nullptr);
        holds_gate_ = false;
    }
    void ForgetSockets() {
        EnterCriticalSection(&lock_);
        for (HANDLE socket : sockets_) CloseHandle(socket);  // our duplicates, never WinINet's handles
        sockets_.clear();
        LeaveCriticalSection(&lock_);
    }

    const DWORD start_;
    const DWORD deadline_ms_;
    const bool list_connections_;
    HANDLE fetch_thread_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE head_begun_ = nullptr;
    HANDLE watchdog_ = nullptr;
    mutable LONG aborted_ = 0;
    // The fetching thread and WinINet's callbacks only, one at a time;
    // calls_ is loaded before a socket is found, so before the watchdog can
    // need it.
    SocketCalls calls_;
    INTERNET_PORT port_ = 0;
    bool holds_gate_ = false;
    bool listed_ = false;
    std::vector<Connection> before_;
    // Shared with the watchdog, under lock_.
    CRITICAL_SECTION lock_;
    HINTERNET request_ = nullptr;
    bool in_call_ = false;
    DWORD call_start_ = 0;
    std::vector<HANDLE> sockets_;
    bool sending_ = false;
    bool in_head_ = false;
    ULONGLONG head_cpu_start_ = 0;
};

// The watchdog runs while the fetch's handles are open and is joined before
// any of them closes.
class WatchdogRunning {
public:
    explicit WatchdogRunning(Watch& watch) : watch_(watch) { watch_.StartWatchdog(); }
    ~WatchdogRunning() { watch_.StopWatchdog(); }
    WatchdogRunning(const WatchdogRunning&) = delete;
    WatchdogRunning& operator=(const WatchdogRunning&) = delete;

private:
    Watch& watch_;
};

// ---------------------------------------------------------------------------
// Requests

void SetTimeouts(HINTERNET handle, DWORD timeout_ms) {
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout_ms, sizeof timeout_ms);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout_ms, sizeof timeout_ms);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout_ms, sizeof timeout_ms);
}

// The parts of an http: or https: URL that the request needs.
struct UrlParts {
    std::string host, user, password, object;
    INTERNET_PORT port = 0;
    bool secure = false;
};

bool CrackUrl(const char* url, UrlParts& parts) {
    size_t room = std::strlen(url) + 1;  // no part is longer than the URL
    std::string scheme(room, '\0'), host(room, '\0'), user(room, '\0'), password(room, '\0'),
        path(room, '\0'), extra(room, '\0');
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof c;
    c.lpszScheme = &scheme[0];
    c.dwSchemeLength = static_cast<DWORD>(room);
    c.lpszHostName = &host[0];
    c.dwHostNameLength = static_cast<DWORD>(room);
    c.lpszUserName = &user[0];
    c.dwUserNameLength = static_cast<DWORD>(room);
    c.lpszPassword = &password[0];
    c.dwPasswordLength = static_cast<DWORD>(room);
    c.lpszUrlPath = &path[0];
    c.dwUrlPathLength = static_cast<DWORD>(room);
    c.lpszExtraInfo = &extra[0];
    c.dwExtraInfoLength = static_cast<DWORD>(room);
    if (room > 0xFFFFFFFFu || !InternetCrackUrlA(url, 0, 0, &c)) return false;
    if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (c.dwHostNameLength == 0) return false;
    parts.host.assign(host.c_str(), c.dwHostNameLength);
    parts.user.assign(user.c_str(), c.dwUserNameLength);
    parts.password.assign(password.c_str(), c.dwPasswordLength);
    parts.object.assign(path.c_str(), c.dwUrlPathLength);
    parts.object.append(extra.c_str(), c.dwExtraInfoLength);
    if (parts.object.empty()) parts.object = "/";
    parts.port = c.nPort;
    parts.secure = c.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

constexpr int kMaxRedirects = 30;

// Opens a connection and a request for url and sends the request, within
// what is left of the deadline. The request goes into the watch and follows
// no redirect by itself (see Fetch).
bool OpenRequest(HINTERNET session, const char* url, DWORD timeout_ms, Watch& watch, InternetHandle& connection) {
    UrlParts parts;
    bool cracked = CrackUrl(url, parts);
    watch.BeginHop(parts.port);
    connection.Reset(nullptr);
    if (!cracked) return false;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&watch);
    connection.Reset(InternetConnectA(session, parts.host.c_str(), parts.port,
                                      parts.user.empty() ? nullptr : parts.user.c_str(),
                                      parts.password.empty() ? nullptr : parts.password.c_str(),
                                      INTERNET_SERVICE_HTTP, 0, context));
    if (!connection) return false;
    DWORD remaining = watch.Remaining();
    if (remaining == 0) return false;
    // A socket the watch could not find still gives up by the deadline.
    DWORD timeout = std::min(timeout_ms, remaining);
    SetTimeouts(connection.get(), timeout);
    // Otherwise WinINet's defaults, as for a URL opened whole: the cache and
    // cookies. But nothing is written to the cache: Wine's WinINet builds a
    // cache entry's header text by repeated concatenation, which took
    // minutes of CPU for a flood of a few megabytes of header lines.
    const char* accept[] = {"*/*", nullptr};
    DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_CACHE_WRITE |
                  (parts.secure ? INTERNET_FLAG_SECURE : 0);
    HINTERNET request =
        HttpOpenRequestA(connection.get(), "GET", parts.object.c_str(), nullptr, nullptr, accept, flags, context);
    if (!request) return false;
    watch.SetRequest(request);
    SetTimeouts(request, timeout);
    // The request goes out once. A connection kept alive would let a later
    // fetch reuse it without connecting, unseen by its watch.
    static const char kHeaders[] = "Connection: close\r\n";
    watch.BeginSend();
    BOOL sent = watch.Call([](HINTERNET r) {
        return HttpSendRequestA(r, kHeaders, static_cast<DWORD>(sizeof kHeaders - 1), nullptr, 0);
    });
    watch.EndSend();
    // Cut off by the watch, WinINet may still report success with half a head.
    return sent != FALSE && !watch.Aborted();
}

bool IsRedirect(Watch& watch) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!watch.Call([&](HINTERNET r) {
            return HttpQueryInfoA(r, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
        }))
        return false;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return false;
    // Without a Location the redirect's own body is the answer.
    char probe[1];
    size = 0;
    return watch.Call([&](HINTERNET r) {
        return HttpQueryInfoA(r, HTTP_QUERY_LOCATION, probe, &size, nullptr) ||
               GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    }) != FALSE;
}

// The absolute URL the response's Location points to, resolved against the
// URL it answered.
bool RedirectTarget(Watch& watch, std::string& location) {
    DWORD size = 0;
    watch.Call([&](HINTERNET r) { return HttpQueryInfoA(r, HTTP_QUERY_LOCATION, nullptr, &size, nullptr); });
    if (size == 0) return false;
    std::string relative(size + 1, '\0');
    if (!watch.Call([&](HINTERNET r) { return HttpQueryInfoA(r, HTTP_QUERY_LOCATION, &relative[0], &size, nullptr); }))
        return false;
    relative.resize(size);
    DWORD combined_size = 0;
    InternetCombineUrlA(location.c_str(), relative.c_str(), nullptr, &combined_size, ICU_NO_ENCODE);
    if (combined_size == 0) return false;
    std::string combined(combined_size + 1, '\0');
    if (!InternetCombineUrlA(location.c_str(), relative.c_str(), &combined[0], &combined_size, ICU_NO_ENCODE))
        return false;
    combined.resize(std::strlen(combined.c_str()));
    location = combined;
    return true;
}

// Closes the watch's request before the connection and session close.
class RequestClosed {
public:
    explicit RequestClosed(Watch& watch) : watch_(watch) {}
    ~RequestClosed() { watch_.CloseRequest(); }
    RequestClosed(const RequestClosed&) = delete;
    RequestClosed& operator=(const RequestClosed&) = delete;

private:
    Watch& watch_;
};

HttpStatus Fetch(const char* url, const HttpLimits& limits, size_t padding, Watch& watch, unsigned char** data,
                 size_t* length) {
    InternetHandle session(InternetOpenA(kHttpAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return HttpStatus::kFailed;
    // WinINet's own defaults would let a server that accepts and then says
    // nothing hold the fetch for as long as it likes. Every level gets them.
    SetTimeouts(session.get(), limits.timeout_ms);
    // Inherited by the connection and request handles, which carry the watch.
    InternetSetStatusCallbackA(session.get(), &Watch::OnStatus);

    std::string location = url;
    InternetHandle connection;
    // Destroyed in the reverse order: the watchdog is joined, then the
    // request, the connection and the session close.
    RequestClosed request_closed(watch);
    WatchdogRunning watchdog(watch);
    for (int hops = 0;; ++hops) {
        if (watch.Over() || !OpenRequest(session.get(), location.c_str(), limits.timeout_ms, watch, connection))
            return HttpStatus::kFailed;
        if (!IsRedirect(watch)) {
            // Cut off right after the head: whether it was a redirect's is
            // not known.
            if (watch.Aborted()) return HttpStatus::kFailed;
            break;
        }
        // Wine's WinINet follows a redirect loop forever, so this code
        // follows redirects itself, with the bound libcurl has on POSIX.
        if (hops == kMaxRedirects || !RedirectTarget(watch, location)) return HttpStatus::kFailed;
    }
    // The head is complete: from here the deadline, like a stall, ends the
    // body with what arrived.
    HttpBody body(limits.max_body_bytes, padding);
    char chunk[kReadSize + 1];
    while (!watch.Over()) {
        // Wait for data first and read only what is there: a read that times
        // out part-filled would drop the bytes it had (Wine's does).
        DWORD available = 0;
        if (!watch.Call([&](HINTERNET r) { return InternetQueryDataAvailable(r, &available, 0, 0); }) ||
            available == 0)
            break;
        DWORD got = 0;
        // A failed read (connection reset, time-out, the watchdog) ends the
        // body like its end does, keeping what arrived.
        if (!watch.Call([&](HINTERNET r) {
                return InternetReadFile(r, chunk, available < kReadSize ? available : kReadSize, &got);
            }))
            got = 0;
        if (got == 0) break;
        HttpStatus status = body.Append(chunk, got);
        if (status != HttpStatus::kOk) return status;
    }
    return body.Release(data, length);
}

}  // namespace

HttpStatus HttpGet(const char* url, const HttpLimits& limits, size_t padding,
                   unsigned char** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    if (!url) return HttpStatus::kFailed;
    // Declared before the handles Fetch opens, so that it outlives them and
    // their last callbacks.
    Watch watch(limits.deadline_ms);
    return Fetch(url, limits, padding, watch, data, length);
}

}  // namespace platform
}  // namespace feedlet
