#pragma once
// Net::Modem: the AT command engine of a Hayes-compatible modem or ISDN
// terminal adapter, and the data path of the connection it makes.
//
// The modem wraps its line (a Net::StatefulDevice over the serial port).
// Several modem objects may share one line: each takes a configuration ID
// from it, and the line remembers which configuration last set the device
// up, so a modem sends its set-up commands again only when another one has
// used the line since. What is sent for set-up and dialling comes from the
// three command builders that the analog and ISDN modems override.
//
// A port without modem-control lines (a pty) counts as a line without DTR
// and DCD support: hang-up is then "+++" and "ATH", and the carrier is
// tracked from the result lines.

#include <varonet/base/Export.h>
#include <varonet/base/Logger.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/WrapperDevice.h>
#include <varonet/net/modem/ModemTypes.h>
#include <varonet/net/modem/StatefulDevice.h>

namespace Net {

class VARONET_API Modem : public IO::WrapperDevice {
public:
    /// Reply time of a dial or answer command unless set.
    static constexpr unsigned int kDefaultConnectTimeoutMs = 30000;
    /// Least time between the last user data and a hang-up unless set.
    static constexpr unsigned int kDefaultDelayToDisconnectMs = 1100;
    /// A multi-step modem's wait for the network greeting after connecting.
    static constexpr unsigned int kMultiStepWaitOnConnectMs = 2000;
    /// A multi-step modem's wait for the network's confirmation of the user data.
    static constexpr unsigned int kNetworkConfirmationTimeoutMs = 10000;
    /// Attempts of a plain command (set-up, identification, answer, hang-up).
    static constexpr unsigned int kCommandAttempts = 4;

    /// How sendCommand sends one command and judges the reply, by name:
    /// sendCommand("H", {.hangUpBeforeRetry = false}). receiveCommandResponse
    /// reads replyTime, dialing, acceptAny and response of the same struct.
    struct CommandOptions {
        /// Time for the first reply byte in ms; 0 means 3000.
        unsigned int replyTime = 0;
        /// Attempts in all; a failed one is logged and tried again ("NO DIALTONE" never is).
        unsigned int attempts = kCommandAttempts;
        /// Hang up a standing connection before each retry.
        bool hangUpBeforeRetry = true;
        /// A dial: "NO CARRIER", "ERROR" and unknown replies throw, silence is a
        /// Base::TimeoutException, and a retry waits the redial waiting time first.
        bool dialing = false;
        /// Any final line counts as success (identification replies).
        bool acceptAny = false;
        /// Receives the final result line, CR LF included; may be null.
        Base::String* response = nullptr;
    };

    /// Everything a copy of a modem carries (all but the line): its settings
    /// and where its dialogue stands. Copied whole, so no field can be missed.
    struct Settings {
        unsigned int muInterfaceType = 0;
        bool mbCommandMode = true;
        bool mbConnected = false;
        bool mbHungUp = true;
        OS::StopWatch mWriteClock;  // restarted by every write of user data
        Base::String msNumber = "";
        Base::String msOutsideLineAccess = "";
        unsigned int muWaitForLine = 0;
        unsigned int muWaitOnLine = 0;
        Base::String msNetworkPrefix = "";
        unsigned int muWaitForNetwork = 0;
        Base::String msUserData = "";
        unsigned int muConnectTimeout = kDefaultConnectTimeoutMs;
        unsigned int muWaitOnConnect = 0;
        int miAttempts = 1;
        int miRedialWaitingTime = 0;
        bool mbMultiStepConnect = false;
        unsigned int muNetworkConfirmationTimeout = 0;
        Base::String msNetworkGreeting = "DATEX-P";
        Base::String msNetworkConfirmation = "COM";
        Base::String msInitString = "";
        bool mbIncoming = false;
        bool mbPreconfigured = false;
        Log::Logger* mpLogger = nullptr;
        bool mbRingDetected = false;
        unsigned int muConfigurationID = 0;
        bool mbBlacklisted = false;
        unsigned int muDelayToDisconnect = kDefaultDelayToDisconnectMs;
        int miModemLines = -1;  // whether the serial port has modem-control lines; -1 until known
        bool operator==(const Settings&) const = default;
    };

    /// Whether deleting a modem deletes its line (and the device under it), or
    /// the line is shared with whoever built it (a modem server's call modems).
    enum ELineUse { OwnsLine, SharesLine };

    /// Wraps line (must not be null) and registers a configuration ID with it.
    /// logger may be null (no logging). multiStepConnect makes open exchange
    /// the user data with a packet network after connecting (wait on connect
    /// 2000 ms, network confirmation time-out 10000 ms).
    Modem(StatefulDevice* line, Log::Logger* logger, bool multiStepConnect, ELineUse lineUse = OwnsLine);
    /// A copy shares the line (without owning it) and copies the settings,
    /// the configuration ID included.
    Modem(const Modem& other);
    /// Copies the settings; the line stays the one this modem wraps.
    Modem& operator=(const Modem& other);
    const Settings& getSettings() const { return mSettings; }
    /// Hangs up an open connection; never throws (a failure goes to the logger).
    ~Modem() override;

    // --- settings ------------------------------------------------------------
    /// Number to dial; also clears the incoming mark. A device manager hears of the rename.
    void setNumber(const Base::String& number);
    /// Text sent to a packet network after connecting; part of the name (manager hears of it).
    void setUserData(const Base::String& userData);
    void setOutsideLineAccess(const Base::String& digits) { mSettings.msOutsideLineAccess = digits; }
    void setNetworkPrefix(const Base::String& prefix) { mSettings.msNetworkPrefix = prefix; }
    /// Seconds the modem waits for the outside line's dial tone.
    void setWaitForLine(unsigned int seconds) { mSettings.muWaitForLine = seconds; }
    /// Dial pauses after the outside line access.
    void setWaitOnLine(unsigned int pauses) { mSettings.muWaitOnLine = pauses; }
    /// Dial pauses after the network prefix.
    void setWaitForNetwork(unsigned int pauses) { mSettings.muWaitForNetwork = pauses; }
    /// Reply time of a dial or answer command in ms; 0 means 3000.
    void setConnectTimeout(unsigned int ms) { mSettings.muConnectTimeout = ms; }
    /// Pause after a connection came up; in a multi-step connection the wait for the greeting.
    void setWaitOnConnect(unsigned int ms) { mSettings.muWaitOnConnect = ms; }
    /// The user's own set-up commands, separated by spaces (a leading "AT" is optional).
    void setInitString(const Base::String& init) { mSettings.msInitString = init; }
    const Base::String& getInitString() const { return mSettings.msInitString; }
    /// A preconfigured modem is neither identified nor sent the standard set-up.
    void setPreconfigured(bool preconfigured) { mSettings.mbPreconfigured = preconfigured; }
    /// Dial attempts in all; values below 1 are ignored.
    void setAttempts(int attempts);
    /// Seconds between two dial attempts.
    void setRedialWaitingTime(int seconds) { mSettings.miRedialWaitingTime = seconds; }
    /// Does not change the wait on connect or the confirmation time-out.
    void setMultiStepConnect(bool multiStep) { mSettings.mbMultiStepConnect = multiStep; }
    /// true: the line counts as set up for this modem; false: the next open or ring check sets it up.
    void setPreinitialized(bool preinitialized);
    void setConfigurationID(unsigned int id) { mSettings.muConfigurationID = id; }
    unsigned int getConfigurationID() const { return mSettings.muConfigurationID; }
    /// True when the line is in another configuration than this modem's.
    bool isIncomingConfigurationRequired();

    const Base::String& getNumber() const { return mSettings.msNumber; }
    const Base::String& getUserData() const { return mSettings.msUserData; }
    const Base::String& getOutsideLineAccess() const { return mSettings.msOutsideLineAccess; }
    const Base::String& getNetworkPrefix() const { return mSettings.msNetworkPrefix; }
    unsigned int getWaitForLine() const { return mSettings.muWaitForLine; }
    unsigned int getWaitOnLine() const { return mSettings.muWaitOnLine; }
    unsigned int getWaitForNetwork() const { return mSettings.muWaitForNetwork; }
    unsigned int getConnectTimeout() const { return mSettings.muConnectTimeout; }
    unsigned int getWaitOnConnect() const { return mSettings.muWaitOnConnect; }
    int getAttempts() const { return mSettings.miAttempts; }
    int getRedialWaitingTime() const { return mSettings.miRedialWaitingTime; }
    bool isMultiStepConnect() const { return mSettings.mbMultiStepConnect; }
    bool isPreconfigured() const { return mSettings.mbPreconfigured; }
    bool isBlacklisted() const { return mSettings.mbBlacklisted; }
    bool isRingDetected() const { return mSettings.mbRingDetected; }
    void setRingDetected(bool detected) { mSettings.mbRingDetected = detected; }
    bool isCommandMode() const { return mSettings.mbCommandMode; }
    bool isConnected() const { return mSettings.mbConnected; }
    bool isHungUp() const { return mSettings.mbHungUp; }
    unsigned int getInterfaceType() const { return mSettings.muInterfaceType; }
    Log::Logger* getLogger() const { return mSettings.mpLogger; }

    // --- line capabilities ---------------------------------------------------
    /// True when the line is a serial port with modem-control lines.
    virtual bool supportsDTR();
    virtual bool supportsDCD();
    /// The serial port's flow control (IO::SerialDevice::EFlowControl), 0 without a port.
    virtual unsigned int getFlowControl();
    /// Least time in ms between the last write of user data and a hang-up (1100 by default).
    virtual unsigned int getDelayToDisconnect() { return mSettings.muDelayToDisconnect; }
    virtual void setDelayToDisconnect(unsigned int ms) { mSettings.muDelayToDisconnect = ms; }

    // --- connection ----------------------------------------------------------
    /// Dials (with redial) unless a connection stands or a call was accepted;
    /// sets the modem up first when the line is in another configuration.
    /// Throws the codes of ModemErrors.h or Base::TimeoutException (no reply to the dial).
    void open() override;
    /// Hangs up an open connection; the line itself stays open.
    void close() override;
    /// The connection test: DCD on a port with modem lines, else the last result line.
    bool isOpen() override;
    /// Identifies the modem and sends its set-up; failures are dropped.
    void initialize() override;
    /// Answers a call that rang ("ATA") and waits up to 3000 ms for DCD; open then does not dial.
    void accept();
    /// Ends the connection: DTR drop where supported, otherwise "+++" and "ATH".
    void hangup();
    /// Sets the line up when needed and waits up to ms for "RING".
    bool checkForRing(unsigned int ms);
    /// Identifies the modem once per line (see the tables below); never throws.
    EModemtypes checkModemType();

    // --- data path (each runs the connection test first) ----------------------
    long read(char* buffer, long length) override;
    using IO::InputDevice::read;
    /// Throws ErrModemNotConnected when no connection stands.
    long readInternal(char* buffer, long length) override;
    /// Returns 0 without writing when no connection stands.
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    void flush() override;
    /// Throws ErrModemNotConnected when no connection stands.
    bool waitForData(unsigned int ms) override;
    long size() override;
    bool isEOF() override;
    unsigned int getTimeout() override;
    long getReadableBytes() override { return size(); }
    Base::String getName() override;

    // --- identification and initialisation tables ------------------------------
    // Rows are the interface type; row 0 is the generic one (empty fragments).
    static const char* const mpIsdnAt0Strings[3];
    static const char* const mpIsdnAt3Strings[3];
    static const char* const mpIsdnInitStrings[3];
    static const char* const mpIsdnTeiStrings[3];
    static const char* const mpIsdnMsnStrings[3];
    static const char* const mpIsdnProtocolStrings[3][5];
    static const char* const mpAnalogAt0Strings[3];
    static const char* const mpAnalogAt3Strings[3];
    static const char* const mpAnalogInitStrings[3];
    static const char* const mpAnalogIgnoreBlacklistStrings[3];
    static const char* const mpAnalogProtocolStrings[3][7];

protected:
    /// The line's name, ":", the number, and "/" with the user data when there is some.
    Base::String getDeviceName();
    StatefulDevice* getDevice() const { return mpLine; }
    /// The serial port under the line, or null when it is something else.
    IO::SerialDevice* getUnderlyingSerialDevice() const;
    /// The table row to use (the interface type, 0 when out of range).
    unsigned int getTableRow() const { return mSettings.muInterfaceType < 3 ? mSettings.muInterfaceType : 0; }

    /// "&FE0S0=0", flow control, DTR and DCD settings as one piece; empty when preconfigured.
    Base::String getStandardInitialization();
    /// Appends pausesBefore ","; then, when parameter is not empty, it and pausesAfter ",".
    static void appendNetworkParameters(Base::String& text, unsigned int pausesBefore, const Base::String& parameter,
                                        unsigned int pausesAfter);
    virtual Base::String getInitCommands();
    virtual Base::String getPreconnectCommands();
    virtual Base::String getConnectCommand();

    /// Sends "AT" command CR, escaping from data mode first, with the retries
    /// options ask for (a plain command by default); see Modem.cpp.
    void sendCommand(const Base::String& command, const CommandOptions& options);
    void sendCommand(const Base::String& command) { sendCommand(command, CommandOptions{}); }
    /// Sends each space-separated piece as its own plain command (a leading "AT" of a piece is dropped).
    void sendCommands(const Base::String& commands);
    /// Reads result lines until a final one, as options.dialing and
    /// options.acceptAny say; see Modem.cpp.
    void receiveCommandResponse(const CommandOptions& options);
    void receiveCommandResponse() { receiveCommandResponse(CommandOptions{}); }
    /// One line of reply; replyTime 0 means 3000. Throws ErrModemNoReply when nothing came.
    Base::String receiveModemResponse(unsigned int replyTime);
    /// Collects text until it contains expected or ms have passed; found tells which.
    Base::String waitForAnswer(const Base::String& expected, unsigned int ms, bool* found);
    /// Second stage of a multi-step connection; throws ErrModemNoNetworkConfirmation.
    void sendUserData(const Base::String& userData, unsigned int greetingWait, unsigned int confirmationWait);
    /// Waits up to ms (in 200 ms steps) for DCD to reach level; a time-out is no error.
    void waitForDCD(unsigned int ms, bool level);

    void logSent(const Base::String& text);
    void logReceived(const Base::String& text);
    void logFailure(unsigned int code);

private:
    void checkModemTypeInternal(EModemtypes& modemType, unsigned int& interfaceType);
    void clearInput();
    void sendText(const Base::String& text);
    bool lineHasModemLines();
    void sleepUntilWriteClock(unsigned int ms);

    StatefulDevice* mpLine;
    Settings mSettings;
};

}  // namespace Net
