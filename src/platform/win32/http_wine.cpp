// Wine only: the socket hunt and the head budget (see http_wine.h). May
// contain only OS plumbing.
//
// Finding the socket. Windows would give it out
// (INTERNET_OPTION_DIAGNOSTIC_SOCKET_INFO); Wine answers 0 there. WinINet
// reports when it starts and when it has finished connecting, and the socket
// is the TCP connection to the URL's port that appeared in the process in
// between. Only one such connect runs at a time in the process (a gate), so
// the new connection is never another fetch's. (Listing the process's
// handles asks every handle whether it is a socket; Wine answers at once.)
// We keep our own descriptor of that socket, made with WSADuplicateSocket:
// it names the same connection even after WinINet has closed its own, so a
// shutdown never reaches a socket that has since taken the old value. When a
// socket cannot be found (two connects at once when the gate was busy), the
// fetch relies on closing the request, and on WinINet's time-outs, which
// are cut to what is left of the deadline at every hop.
//
// The head. WinINet shows neither the size of a head nor its interim
// responses while it reads. Wine's WinINet stores every header line it
// reads, without limit, at some 16 KB per millisecond of the reading
// thread's time (measured); so a head that has cost that thread
// kHeadCpuBudgetMs is taken for a flood and cut at once rather than at the
// deadline. An endless run of "100 Continue", which costs nothing, ends at
// the deadline.
// Winsock 2 before anything that brings in windows.h, whose older
// winsock.h would clash with it.
#include <winsock2.h>

#include "platform/win32/http_wine.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

namespace feedlet {
namespace platform {

namespace {

// A head that has cost the fetching thread this much CPU time is a flood
// (some megabytes of header lines); ordinary heads cost microseconds, and
// thread times are counted in clock ticks of 10-16 ms.
constexpr ULONGLONG kHeadCpuBudgetMs = 100;
// Connects to live servers take milliseconds; one that hangs must not hold
// every other fetch's connect for long.
constexpr DWORD kGateWaitMs = 2000;

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

// The Winsock calls the hunt needs. WinINet has loaded ws2_32 before it
// connects and keeps it loaded, so the plugin itself imports nothing more.
struct SocketCalls {
    decltype(&::getsockopt) get_option = nullptr;
    decltype(&::getpeername) peer_name = nullptr;
    decltype(&::getsockname) own_name = nullptr;
    decltype(&::shutdown) shut_down = nullptr;
    decltype(&::closesocket) close = nullptr;
    decltype(&::WSADuplicateSocketW) duplicate = nullptr;
    decltype(&::WSASocketW) open = nullptr;

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
        find(close, "closesocket");
        find(duplicate, "WSADuplicateSocketW");
        find(open, "WSASocketW");
    }
    bool usable() const { return get_option && peer_name && own_name && shut_down && close && duplicate && open; }

    // A descriptor of our own for the socket (Winsock's way to share one;
    // a socket handle must never be duplicated as a plain handle), or
    // INVALID_SOCKET.
    SOCKET Share(SOCKET s) const {
        WSAPROTOCOL_INFOW info{};
        if (duplicate(s, GetCurrentProcessId(), &info) != 0) return INVALID_SOCKET;
        return open(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0, 0);
    }
};

// A connected TCP socket of the process: its handle, both of its addresses
// (which tell one connection from every other, where a handle value may be
// closed and reused while WinINet connects) and its remote port.
struct Connection {
    ULONG_PTR handle;
    std::string addresses;
    int peer_port;
    bool operator<(const Connection& other) const { return addresses < other.addresses; }
};

// False when handle is no connected TCP socket.
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

// The process's TCP connections, sorted by their addresses, each once:
// several descriptors of one connection (a fetch's own next to WinINet's)
// are one connection.
bool ListConnections(const SocketCalls& calls, std::vector<Connection>& connections) {
    connections.clear();
    std::vector<ULONG_PTR> handles;
    if (!ProcessHandles(handles)) return false;
    Connection connection;
    for (ULONG_PTR handle : handles)
        if (Describe(calls, handle, connection)) connections.push_back(connection);
    std::sort(connections.begin(), connections.end());
    connections.erase(std::unique(connections.begin(), connections.end(),
                                  [](const Connection& a, const Connection& b) { return a.addresses == b.addresses; }),
                      connections.end());
    return true;
}

// One watched connect at a time in the process.
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

}  // namespace

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

struct WineTransfer::State {
    State() {
        InitializeCriticalSection(&lock);
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &fetch_thread, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            fetch_thread = nullptr;
    }
    ~State() {
        ReleaseGate();
        ForgetSockets();
        if (fetch_thread) CloseHandle(fetch_thread);
        DeleteCriticalSection(&lock);
    }

    void ReleaseGate() {
        if (!holds_gate) return;
        ReleaseSemaphore(ConnectGate(), 1, nullptr);
        holds_gate = false;
    }
    void ForgetSockets() {
        EnterCriticalSection(&lock);
        for (SOCKET socket : sockets) calls.close(socket);  // our own descriptors, never WinINet's
        sockets.clear();
        LeaveCriticalSection(&lock);
    }

    void BeginConnect(DWORD remaining_ms) {
        if (!calls.usable()) calls.Load();
        if (!holds_gate) {
            HANDLE gate = ConnectGate();
            holds_gate = gate && WaitForSingleObject(gate, std::min(kGateWaitMs, remaining_ms)) == WAIT_OBJECT_0;
        }
        listed = false;  // until the list below is whole
        listed = calls.usable() && ListConnections(calls, before);
    }
    void EndConnect() {
        ULONG_PTR found = calls.usable() ? NewConnection() : 0;
        // Our descriptor is made before the next fetch may list: it is one
        // more descriptor of a connection that fetch already sees.
        SOCKET own = found ? calls.Share(static_cast<SOCKET>(found)) : INVALID_SOCKET;
        ReleaseGate();
        if (own == INVALID_SOCKET) return;
        EnterCriticalSection(&lock);
        // Nothing may leave with the lock held: out of memory for the list,
        // this connection goes unwatched.
        bool kept = false;
        try {
            sockets.push_back(own);
            kept = true;
        } catch (...) {
        }
        // The fetch may have been given up while WinINet was connecting.
        if (kept && aborted) calls.shut_down(own, SD_BOTH);
        LeaveCriticalSection(&lock);
        if (!kept) calls.close(own);
    }
    // The connection that appeared since BeginConnect, or 0.
    ULONG_PTR NewConnection() {
        std::vector<Connection> after;
        if (!listed || !ListConnections(calls, after)) return 0;
        std::vector<Connection> added;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
        // Ours goes to the URL's port; through a proxy it is the one new
        // connection. Another may have appeared meanwhile (a server in this
        // process accepting ours, a fetch that connected without the gate):
        // never guess between two.
        std::vector<ULONG_PTR> on_port;
        for (const Connection& connection : added)
            if (connection.peer_port == port) on_port.push_back(connection.handle);
        if (on_port.size() == 1) return on_port[0];
        if (on_port.empty() && added.size() == 1) return added[0].handle;
        return 0;
    }

    // The fetching thread and WinINet's callbacks only, one at a time.
    SocketCalls calls;
    INTERNET_PORT port = 0;
    bool holds_gate = false;
    bool listed = false;
    std::vector<Connection> before;
    HANDLE fetch_thread = nullptr;
    // Shared with the watchdog, under lock.
    CRITICAL_SECTION lock;
    std::vector<SOCKET> sockets;
    bool sending = false;
    bool in_head = false;
    bool aborted = false;
    ULONGLONG head_cpu_start = 0;
};

bool WineTransfer::Needed() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

WineTransfer::WineTransfer() : state_(Needed() ? new (std::nothrow) State : nullptr) {}

WineTransfer::~WineTransfer() { delete state_; }

void WineTransfer::BeginHop(INTERNET_PORT port) {
    if (!state_) return;
    state_->ForgetSockets();
    state_->port = port;
    EnterCriticalSection(&state_->lock);
    state_->sending = true;
    LeaveCriticalSection(&state_->lock);
}

void WineTransfer::OnStatus(DWORD status, DWORD remaining_ms) {
    if (!state_) return;
    State& s = *state_;
    try {
        switch (status) {
            case INTERNET_STATUS_CONNECTING_TO_SERVER:
                s.BeginConnect(remaining_ms);
                break;
            case INTERNET_STATUS_CONNECTED_TO_SERVER:
                s.EndConnect();
                break;
            case INTERNET_STATUS_RECEIVING_RESPONSE:
                EnterCriticalSection(&s.lock);
                if (s.sending && !s.in_head && s.fetch_thread) {
                    s.in_head = true;
                    s.head_cpu_start = ThreadCpuMs(s.fetch_thread);
                }
                LeaveCriticalSection(&s.lock);
                break;
            case INTERNET_STATUS_RESPONSE_RECEIVED:
                EnterCriticalSection(&s.lock);
                s.in_head = false;
                LeaveCriticalSection(&s.lock);
                break;
            default:
                break;
        }
    } catch (...) {
        // Out of memory for a handle list: this connect goes unwatched.
    }
}

void WineTransfer::EndSend() {
    if (!state_) return;
    EnterCriticalSection(&state_->lock);
    state_->sending = false;
    state_->in_head = false;
    LeaveCriticalSection(&state_->lock);
    state_->ReleaseGate();
}

bool WineTransfer::ReadingHead() {
    if (!state_) return false;
    EnterCriticalSection(&state_->lock);
    bool reading = state_->in_head;
    LeaveCriticalSection(&state_->lock);
    return reading;
}

bool WineTransfer::HeadFlooded() {
    if (!state_) return false;
    State& s = *state_;
    EnterCriticalSection(&s.lock);
    bool flooded = s.in_head && s.fetch_thread && ThreadCpuMs(s.fetch_thread) - s.head_cpu_start > kHeadCpuBudgetMs;
    LeaveCriticalSection(&s.lock);
    return flooded;
}

void WineTransfer::Abort() {
    if (!state_) return;
    EnterCriticalSection(&state_->lock);
    state_->aborted = true;
    for (SOCKET socket : state_->sockets) state_->calls.shut_down(socket, SD_BOTH);
    LeaveCriticalSection(&state_->lock);
}

}  // namespace platform
}  // namespace feedlet
