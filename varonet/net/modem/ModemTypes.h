#pragma once
// Value types shared by the dial-up devices and their locator options.

namespace Net {

/// What identification found on a modem line.
enum EModemtypes {
    ModemUnchecked = 0,      ///< identification has not run on this line
    ModemUnknown = 1,        ///< the device answered but matched no table row
    ModemNotResponding = 2,  ///< the identification dialogue failed
    ModemAnalog = 3,         ///< a known analog modem chip
    ModemIsdn = 4,           ///< a known ISDN terminal adapter
};

/// Modulation of an analog modem; the column of its protocol table.
enum EModulationType {
    ModulationAutomatic = 0,
    ModulationV22bis = 1,
    ModulationV32 = 2,
    ModulationV32bis = 3,
    ModulationV34 = 4,
    ModulationV90 = 5,
    ModulationV92 = 6,
};

/// Protocol of an ISDN connection.
enum EIsdnProtocol {
    IsdnX75 = 0,
    IsdnX25BChannel = 1,
    IsdnX31DChannel = 2,
    IsdnPPP = 3,
    IsdnV110 = 4,
};

}  // namespace Net
