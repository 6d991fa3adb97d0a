#pragma once
// Sim::ModemSimulator: a Hayes modem simulated in the process, for testing
// applications without modem hardware.
//
// The simulator sits on the far end of a serial line and answers what an
// application sends to its modem:
//   - on a new pseudo-terminal (onPseudoTerminal): the application, or any
//     serial tool, opens getPortPath() (serial:/dev/pts/7@115k); a
//     pseudo-terminal has no modem lines, so the application's modem hangs
//     up with "+++" and "ATH" and follows the carrier from result lines;
//   - on one end of an in-process virtual null-modem pair (onVirtualPort):
//     with modem lines, the simulator's DTR is the application's DCD and the
//     application's DTR its own;
//   - on any other device of the caller's choice.
// It runs on its own thread until it is deleted.
//
// Command mode: a line that contains "AT" (any case) and ends with CR is
// run; it is echoed unless echo is off ("E0"); results are verbose ("OK",
// "ERROR", framed by CR LF). "I0" and "I3" answer with lines of the caller's
// choice. "D" dials: the outcome is scripted per number (CONNECT with the
// carrier up, BUSY, NO CARRIER, NO DIALTONE, BLACKLISTED, ERROR or nothing),
// after an optional delay. "A" answers a call after ring(), "H" hangs up,
// "O" goes back online, "Z" restores the stored echo setting, "&F" the
// factory one (on), "&D0"/"&D2" choose whether a DTR drop hangs up; "S",
// "&K", "&C", "X", "%B", "+..." and the like are accepted and ignored.
//
// Data mode: bytes go to the far end, which echoes them, swallows them, or
// acts as a packet network that greets ("DATEX-P ...") and confirms each
// user-data line ("COM"). "+++" counts only with a guard time of silence
// before and after it; the modem then answers "OK" in online command mode.
// A DTR drop (with &D2) or the far end hanging up ends the call with the
// carrier falling and a result line.
//
// Every byte received is recorded, so a test can compare the dialogue.

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

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace IO {
class SerialDevice;
}

namespace Sim {

class VARONET_API ModemSimulator {
public:
    /// What a dial ends with.
    enum EOutcome { Connect, Busy, NoCarrier, NoDialtone, Blacklisted, Error, Silence };
    /// What is on the far end of a call.
    enum EFarEnd { FarEndEcho, FarEndSink, FarEndPacketNetwork };

    /// One scripted dial: its outcome, after delayMs.
    struct Dial {
        EOutcome outcome = Connect;
        unsigned int delayMs = 0;
    };

    /// A simulator on a new pseudo-terminal; the application opens getPortPath().
    /// Throws IO::SystemException when the system gives no pseudo-terminal.
    static std::unique_ptr<ModemSimulator> onPseudoTerminal();
    /// A simulator on the named end of a virtual null-modem pair (Sim::VirtualSerialPair),
    /// opened now with the carrier low. Throws IO::Exception when the end is in use.
    static std::unique_ptr<ModemSimulator> onVirtualPort(const Base::String& portName);
    /// A simulator on line, which it takes over (and opens when closed). On a
    /// serial port with modem lines the carrier is its DTR and the
    /// application's DTR is read as its DCD; elsewhere there are no lines.
    explicit ModemSimulator(std::unique_ptr<IO::Device> line);
    ModemSimulator(const ModemSimulator&) = delete;
    ModemSimulator& operator=(const ModemSimulator&) = delete;
    /// Stops the thread and closes the line.
    ~ModemSimulator();

    /// The path the application opens: a pseudo-terminal's slave path, else the line's name.
    Base::String getPortPath() const { return msPortPath; }

    // --- behaviour (may change while the simulator runs) ---
    /// Reply lines of "ATI0" and "ATI3"; no lines give a bare "OK".
    void setIdentity(const std::vector<Base::String>& i0, const std::vector<Base::String>& i3);
    /// The stored echo setting: in force now and after "ATZ" ("AT&F" always turns echo on).
    void setEcho(bool echo);
    /// A silent modem records everything and answers nothing.
    void setSilent(bool silent);
    /// Silence needed before and after "+++" (1000 ms unless set).
    void setGuardTime(unsigned int ms);
    /// Outcomes for a dialled number (what follows "D", without a leading T or P),
    /// one per dial in turn, the last one repeating.
    void setDialOutcomes(const Base::String& number, const std::vector<Dial>& outcomes);
    /// The outcome for numbers without a script (Connect unless set).
    void setDefaultOutcome(const Dial& outcome);
    /// The text after "CONNECT " ("33600" unless set).
    void setConnectSpeed(const Base::String& speed);
    void setFarEnd(EFarEnd farEnd);
    /// A packet network on the far end, for setNetwork.
    struct Network {
        /// Sent greetingDelayMs after CONNECT.
        Base::String greeting = "DATEX-P: 45 4000 1234";
        unsigned int greetingDelayMs = 50;
        /// Sent after each user-data line, when confirms is true.
        Base::String confirmation = "COM";
        bool confirms = true;
    };
    /// Makes the far end that packet network: setNetwork({.confirms = false}).
    void setNetwork(const Network& network);
    /// false: the carrier line is not wired, so DCD never rises (results still say CONNECT).
    void setDcdWired(bool wired);
    /// The result line after a hang-up by DTR ("NO CARRIER" unless set; empty: none).
    void setDtrHangupReply(const Base::String& reply);

    // --- the far end ---
    /// A call comes in: "RING" goes to the application, and "ATA" answers it.
    void ring();
    /// The far end sends bytes to the application.
    void sendFromFarEnd(const Base::String& bytes);
    /// The far end hangs up: the carrier falls and "NO CARRIER" goes to the application.
    void hangUpFromFarEnd();

    // --- observation ---
    /// Every byte received from the application so far, in order.
    Base::String received() const;
    /// The command lines received (without CR), in order.
    std::vector<Base::String> commandLines() const;
    /// The bytes that reached the far end in data mode.
    Base::String farEndReceived() const;
    /// Forgets what was recorded so far.
    void clearRecord();
    bool isOnline() const;
    bool hasCarrier() const;
    bool isEchoOn() const;
    /// Waits until the record contains text; false after ms.
    bool waitForReceived(const Base::String& text, unsigned int ms) const;
    /// Waits until the far end has received text; false after ms.
    bool waitForFarEnd(const Base::String& text, unsigned int ms) const;
    /// Waits until the carrier is at level; false after ms.
    bool waitForCarrier(bool level, unsigned int ms) const;

private:
    enum EMode { ModeCommand, ModeOnline, ModeOnlineCommand };
    using Clock = std::chrono::steady_clock;

    void run();
    void post(std::function<void()> action);
    bool waitLocked(unsigned int ms, const std::function<bool()>& done) const;
    void onBytes(const char* bytes, long count);
    void onCommandByte(char c);
    void onDataByte(char c, Clock::time_point now);
    void executeLine(const std::string& line);
    std::string runCommands(const std::string& body);
    void dial(const std::string& dialString);
    void finishDial(EOutcome outcome);
    void deliverToFarEnd(const std::string& bytes);
    void tick(Clock::time_point now);
    void setCarrier(bool on);
    bool readHostDtr();
    void sendToHost(const std::string& bytes);
    void dropCall(const std::string& reply);
    static std::string result(const std::string& text) { return "\r\n" + text + "\r\n"; }

    std::unique_ptr<IO::Device> mpLine;
    IO::SerialDevice* mpSerial = nullptr;  // the line when it is a serial port with modem lines
    Base::String msPortPath;

    mutable std::mutex mMutex;
    mutable std::condition_variable mChanged;
    bool mbStop = false;
    // behaviour
    std::vector<std::string> mI0, mI3;
    bool mbSilent = false;
    unsigned int muGuardMs = 1000;
    std::map<std::string, std::vector<Dial>> mDialScripts;
    std::map<std::string, std::size_t> mDialCounts;
    Dial mDefaultDial;
    std::string msConnectSpeed = "33600";
    EFarEnd meFarEnd = FarEndEcho;
    Network mNetwork;
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
    // escape detection
    Clock::time_point mLastByte;
    int miPlusCount = 0;
    Clock::time_point mLastPlus;
    // timed and posted work, run on the thread
    std::vector<std::pair<Clock::time_point, std::function<void()>>> mTimers;
    std::deque<std::function<void()>> mActions;
    // record
    std::string msReceived;
    std::vector<std::string> mCommandLines;
    std::string msFarEnd;

    std::thread mThread;  // last: it starts once everything above is set up
};

}  // namespace Sim
