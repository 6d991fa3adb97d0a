// ZModem::CZModem: construction, settings and what sending and receiving share.
#include <varonet/zmodem/CZModem.h>

#include <cstring>

#include <varonet/zmodem/detail/CZModemComm.h>
#include <varonet/zmodem/detail/CZModemFile.h>

namespace ZModem {

using Outcome = TransferObserver::Outcome;

CZModem::CZModem(IO::Device* device) : CZModemCore(device, false), mpDevice(device) { miEscapeAll = 0; }

void CZModem::setExistingFilePolicy(ExistingFile policy) {
    mePolicy = policy;
    mpFile->setExistingFilePolicy(policy);
}

void CZModem::finished(const Base::String& name, Outcome outcome, int code) {
    if (mpObserver) mpObserver->fileFinished(name, outcome, code);
}

void CZModem::Terminate() {
    debug("Benutzer Abbruch !\n");
    setAbort();
}

Base::String CZModem::getCmdStr() {
    Base::String text("");
    for (std::size_t i = 0; i < mData.size(); ++i) {
        text += static_cast<char>(mData[i]);
        if (mData[i] == 0) break;
    }
    return text;
}

Base::String CZModem::getFileName() { return mpFile->getName(); }

unsigned char CZModem::frameEndOf(int kind) const {
    return kind == KindZCRCE ? ZCRCE : kind == KindZCRCG ? ZCRCG : kind == KindZCRCW ? ZCRCW : ZCRCQ;
}

// ---------------------------------------------------------------- header helpers

void CZModem::stohdr(long value) {
    for (int k = 0; k < 4; ++k)
        mHeaderData[k] = static_cast<unsigned char>(static_cast<unsigned long>(value) >> (8 * k));
}

int CZModem::sendZHexHeader(int type, unsigned char byte) {
    const unsigned char d[4] = {0, 0, 0, byte};
    return sendShortHeader(ZHEX, type, d);
}

int CZModem::sendZHEXHEADER(int type, int p0, int p1, int p2, int p3) {
    const unsigned char d[4] = {static_cast<unsigned char>(p0), static_cast<unsigned char>(p1),
                                static_cast<unsigned char>(p2), static_cast<unsigned char>(p3)};
    return sendShortHeader(ZHEX, type, d);
}

int CZModem::sendZBINHEADER(int type, long value, unsigned char byte) {
    stohdr(value);
    mHeaderData[3] = byte;
    return sendShortHeader(ZBIN32, type, nullptr);
}

void CZModem::canit() {
    unsigned char bytes[21];
    std::memset(bytes, 0x18, 11);
    std::memset(bytes + 11, 0x08, 10);
    mpComm->write(bytes, 21);
    debug("sent canit\n");
}

}  // namespace ZModem
