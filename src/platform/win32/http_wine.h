// What HttpGet does only under Wine, because Wine's WinINet (8, 32- and
// 64-bit, measured) does not end a blocking call when its request handle is
// closed from another thread, as Windows does. There, closing the request,
// connection or session handle leaves HttpSendRequest or InternetReadFile
// reading until the server stops; CancelSynchronousIo does nothing; a
// shorter receive time-out set meanwhile is not applied to the read under
// way; and in asynchronous mode WinINet's own worker reads on in the same
// way. Only a shutdown of the socket ends such a read at once.
//
// So under Wine, and only there, a fetch finds the socket WinINet connected
// and shuts it down when the fetch must end. It also bounds the cost of a
// response head, which Wine's WinINet reads whole inside HttpSendRequest,
// storing every header line without limit.
//
// On Windows none of this runs: WineTransfer::Needed() is false, and the
// fetch relies on closing the request handle and on WinINet's time-outs.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <vector>

namespace feedlet {
namespace platform {

// Handle values open in this process, from the system's list of every
// process's handles (NtQuerySystemInformation); false when the system will
// not say. The socket hunt looks for WinINet's socket among them; the soak
// counts them where GetProcessHandleCount answers 0 (Wine 8 does).
bool ProcessHandles(std::vector<ULONG_PTR>& handles);

class WineTransfer {
public:
    // True when the process runs under Wine.
    static bool Needed();

    // Made on the thread that makes the WinINet calls: its CPU time measures
    // the cost of a head. Does nothing at all when Needed() is false.
    WineTransfer();
    ~WineTransfer();
    WineTransfer(const WineTransfer&) = delete;
    WineTransfer& operator=(const WineTransfer&) = delete;

    // A new hop (the first request or a redirect's next) to this port: the
    // last hop's socket is not ours to shut any more.
    void BeginHop(INTERNET_PORT port);
    // WinINet's status callback, on the fetching thread: connects (to find
    // the socket) and heads (to count their cost). remaining_ms bounds any
    // wait for the process-wide connect gate.
    void OnStatus(DWORD status, DWORD remaining_ms);
    // The request was sent and its head read (or given up): the gate is
    // released and no head is being read any more.
    void EndSend();

    // The watchdog's questions, from its own thread: is a head being read
    // now (it then looks every HeadPollMs), and has it cost so much that it
    // is a flood of header lines?
    bool ReadingHead();
    bool HeadFlooded();
    static constexpr DWORD kHeadPollMs = 20;

    // Ends the fetch's blocking call: shuts the socket down, now or, if it
    // is still being connected, as soon as it is found. Any thread.
    void Abort();

private:
    struct State;
    State* state_;
};

}  // namespace platform
}  // namespace feedlet
