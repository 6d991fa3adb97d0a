#pragma once
// Peers::ModemSimulator: a Hayes modem on the far end of a serial line, for tests.
//
// It sits on one end of an in-process virtual null-modem pair (opened as an
// IO::SerialDevice, so the modem lines work: its DTR is the host's DCD and
// the host's DTR its own DCD) or on the master side of a pty (no modem
// lines), and runs on its own thread.
//
// Command mode: lines starting with "AT" (any case) end with CR; the line is
// echoed when it ends unless echo is off or the line turned it off ("E0");
// verbose results "OK" / "ERROR" in CR LF framing. "I0" and "I3" answer with
// configurable lines (or nothing but "OK"). A silent modem records but never
// answers. "D" dials: the outcome is scripted per dialled number (CONNECT
// with DCD raised, BUSY, NO CARRIER, NO DIALTONE, BLACKLISTED, ERROR or
// silence), after an optional delay. "A" answers a call that rang, "H" hangs
// up, "O" returns online, "Z" restores the stored echo setting and "&F" the
// factory one (on), "&D0"/"&D2" choose whether
// a DTR drop hangs up.
//
// Data mode: bytes go to the far end, which echoes them, swallows them, or
// acts as a packet network that greets ("DATEX-P ...") and confirms the
// user-data line ("COM") when told to. "+++" is honoured only with a guard
// time of silence before and after it; then the modem answers "OK" in online
// command mode. A DTR drop (with &D2) or the far end hanging up ends the call
// with DCD falling and a result line.
//
// Every byte received is recorded, so tests compare the dialogue exactly.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Peers {

class ModemSimulator {
public:
    enum EOutcome { Connect, Busy, NoCarrier, NoDialtone, Blacklisted, Error, Silence };
    enum EFarEnd { FarEndEcho, FarEndSink, FarEndPacketNetwork };

    struct Dial {
        EOutcome outcome = Connect;
        unsigned int delayMs = 0;
    };

    /// Opens the named end of a virtual null-modem pair now (DCD low) and starts the thread.
    static std::unique_ptr<ModemSimulator> onVirtualPort(const std::string& portName);
    /// Serves a pty master descriptor (closed at the end when owns is true) and starts the thread.
    static std::unique_ptr<ModemSimulator> onPtyMaster(int masterFd, bool owns);
    /// Stops the thread and closes the port.
    ~ModemSimulator();

    // --- behaviour (thread-safe, may change while running) ---
    /// Reply lines of "ATI0" and "ATI3"; empty vectors give a bare "OK".
    void setIdentity(const std::vector<std::string>& i0, const std::vector<std::string>& i3);
    /// Echo of the stored profile: in force now and after "ATZ" ("AT&F" always turns echo on).
    void setEcho(bool echo);
    /// A silent modem records everything and answers nothing.
    void setSilent(bool silent);
    /// Silence needed before and after "+++" (1000 ms unless set).
    void setGuardTime(unsigned int ms);
    /// Outcomes for a dialled number (the dial string after "D", a leading T or P
    /// removed); one per dial in turn, the last one repeating.
    void setDialOutcomes(const std::string& number, const std::vector<Dial>& outcomes);
    /// Outcome for numbers without a script (Connect unless set).
    void setDefaultOutcome(const Dial& outcome);
    /// Text after "CONNECT " (default "33600").
    void setConnectSpeed(const std::string& speed);
    void setFarEnd(EFarEnd farEnd);
    /// Packet network: greeting sent greetingDelayMs after CONNECT; confirmation sent
    /// after each user-data line when confirms is true.
    void setNetwork(const std::string& greeting, const std::string& confirmation, bool confirms,
                    unsigned int greetingDelayMs = 50);
    /// false: the carrier line is not wired, so DCD never rises (results still say CONNECT).
    void setDcdWired(bool wired);
    /// Result line after a hang-up by DTR ("NO CARRIER" unless set; empty: none).
    void setDtrHangupReply(const std::string& reply);

    // --- actions (carried out on the simulator's thread) ---
    /// Sends "RING" and remembers that a call is waiting for "ATA".
    void ring();
    /// The far end sends bytes to the host.
    void sendFromFarEnd(const std::string& bytes);
    /// The far end hangs up: DCD falls and "NO CARRIER" goes to the host.
    void hangUpFromFarEnd();

    // --- observation ---
    /// Every byte received so far, in order.
    std::string received() const;
    /// The command lines received (without CR), in order.
    std::vector<std::string> commandLines() const;
    /// The bytes that reached the far end in data mode.
    std::string farEndReceived() const;
    /// Forgets what was recorded so far.
    void clearRecord();
    bool isOnline() const;
    bool hasCarrier() const;
    bool isEchoOn() const;
    /// Waits until the record contains text; false after ms.
    bool waitForReceived(const std::string& text, unsigned int ms) const;
    /// Waits until the far end has received text; false after ms.
    bool waitForFarEnd(const std::string& text, unsigned int ms) const;
    /// Waits until the carrier is at level; false after ms.
    bool waitForCarrier(bool level, unsigned int ms) const;

    class Port;

private:
    enum EMode { ModeCommand, ModeOnline, ModeOnlineCommand };
    using Clock = std::chrono::steady_clock;

    explicit ModemSimulator(std::unique_ptr<Port> port);
    void run();
    void post(std::function<void()> action);
    void onBytes(const char* bytes, long count);
    void onCommandByte(char c);
    void onDataByte(char c, Clock::time_point now);
    void executeLine(const std::string& line);
    std::string runCommands(const std::string& body, bool& finalPending);
    void dial(const std::string& dialString);
    void finishDial(EOutcome outcome);
    void deliverToFarEnd(const std::string& bytes);
    void tick(Clock::time_point now);
    void setCarrier(bool on);
    void sendToHost(const std::string& bytes);
    void dropCall(const std::string& reply);
    static std::string result(const std::string& text) { return "\r\n" + text + "\r\n"; }

    std::unique_ptr<Port> mpPort;
    std::thread mThread;
    bool mbStop = false;

    mutable std::mutex mMutex;
    mutable std::condition_variable mChanged;
    // behaviour
    std::vector<std::string> mI0, mI3;
    bool mbSilent = false;
    unsigned int muGuardMs = 1000;
    std::map<std::string, std::vector<Dial>> mDialScripts;
    std::map<std::string, std::size_t> mDialCounts;
    Dial mDefaultDial;
    std::string msConnectSpeed = "33600";
    EFarEnd meFarEnd = FarEndEcho;
    std::string msGreeting = "DATEX-P: 45 4000 1234";
    std::string msConfirmation = "COM";
    bool mbConfirms = true;
    unsigned int muGreetingDelayMs = 50;
    std::string msDtrHangupReply = "NO CARRIER";
    // state
    EMode meMode = ModeCommand;
    bool mbEcho = true;
    bool mbStoredEcho = true;
    int miDtrMode = 2;
    bool mbCarrier = false;
    bool mbDcdWired = true;
    bool mbRinging = false;
    bool mbHostDtr = false;
    std::string msCommand;
    std::string msNetworkLine;
    // escape detection
    Clock::time_point mLastByte;
    int miPlusCount = 0;
    Clock::time_point mLastPlus;
    // timed and posted work
    std::vector<std::pair<Clock::time_point, std::function<void()>>> mTimers;
    std::deque<std::function<void()>> mActions;
    // record
    std::string msReceived;
    std::vector<std::string> mCommandLines;
    std::string msFarEnd;
};

}  // namespace Peers
