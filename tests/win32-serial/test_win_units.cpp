// The Windows backend's translations: line settings into the DCB, the error
// and modem bits, the priority classes, the system's error texts, and port
// discovery over registry keys of the test's own.

#include "com_device_win32.h"
#include "port_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Every member at a value no setting produces, so a member the composition
// must leave alone shows whether it did.
DCB SentinelDcb()
{
    DCB d;
    std::memset(&d, 0, sizeof d);
    d.DCBlength = sizeof d;
    d.BaudRate = 4242;
    d.ByteSize = 7;
    d.Parity = EVENPARITY;
    d.StopBits = TWOSTOPBITS;
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fRtsControl = RTS_CONTROL_TOGGLE;
    d.fInX = 1;
    d.fOutX = 0;
    d.wReserved = 0;
    d.XonLim = 11;
    d.XoffLim = 22;
    d.XonChar = 'a';
    d.XoffChar = 'b';
    d.ErrorChar = 'c';
    d.EofChar = 'd';
    d.EvtChar = 'e';
    d.fParity = 1;
    d.fOutxCtsFlow = 1;
    d.fOutxDsrFlow = 1;
    d.fDsrSensitivity = 1;
    d.fTXContinueOnXoff = 1;
    d.fErrorChar = 1;
    d.fNull = 1;
    d.fAbortOnError = 1;
    return d;
}

TEST(Dcb, IsTheTwentyEightByteRecord)
{
    EXPECT_EQ(sizeof(DCB), 28u);
}

TEST(Dcb, TheMainWindowsLineSetsSpeedFrameAndLines)
{
    TLineSettings s;
    s.BaudRate = 9600;
    s.DataBits = 8;
    s.Parity = paNone;
    s.StopBits = sb1;
    s.DTR = dcEnable;
    s.RTS = rcEnable;
    DCB d = SentinelDcb();
    ComposeDcb(d, s);
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.fDtrControl, unsigned(DTR_CONTROL_ENABLE));
    EXPECT_EQ(d.fRtsControl, unsigned(RTS_CONTROL_ENABLE));
    // xcDefault: the XON/XOFF pair stays as the driver had it.
    EXPECT_EQ(d.fInX, 1u);
    EXPECT_EQ(d.fOutX, 0u);
    // Always written: characters, limits, all eight option flags.
    EXPECT_EQ(d.XonChar, 17);
    EXPECT_EQ(d.XoffChar, 19);
    EXPECT_EQ(d.ErrorChar, 0);
    EXPECT_EQ(d.EofChar, 0);
    EXPECT_EQ(d.EvtChar, 0);
    EXPECT_EQ(d.XonLim, 0);
    EXPECT_EQ(d.XoffLim, 0);
    EXPECT_EQ(d.fParity + d.fOutxCtsFlow + d.fOutxDsrFlow + d.fDsrSensitivity + d.fTXContinueOnXoff +
                  d.fErrorChar + d.fNull + d.fAbortOnError,
              0u);
    // Not governed.
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.DCBlength, 28u);
}

TEST(Dcb, DefaultMembersLeaveTheDriversValues)
{
    DCB d = SentinelDcb();
    ComposeDcb(d, TLineSettings{});
    EXPECT_EQ(d.BaudRate, 4242u);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.Parity, EVENPARITY);
    EXPECT_EQ(d.StopBits, TWOSTOPBITS);
    EXPECT_EQ(d.fDtrControl, unsigned(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(d.fRtsControl, unsigned(RTS_CONTROL_TOGGLE));
    EXPECT_EQ(d.fInX, 1u);
    EXPECT_EQ(d.fOutX, 0u);
}

TEST(Dcb, EnumerationsMapToThePlatformCodes)
{
    struct {
        TParity Parity;
        BYTE Code;
    } parities[] = {{paNone, NOPARITY}, {paOdd, ODDPARITY}, {paEven, EVENPARITY},
                    {paMark, MARKPARITY}, {paSpace, SPACEPARITY}};
    for (auto [parity, code] : parities) {
        TLineSettings s;
        s.Parity = parity;
        DCB d = SentinelDcb();
        ComposeDcb(d, s);
        EXPECT_EQ(d.Parity, code) << "parity member " << int(parity);
    }
    struct {
        TStopBits Stop;
        BYTE Code;
    } stops[] = {{sb1, ONESTOPBIT}, {sb1_5, ONE5STOPBITS}, {sb2, TWOSTOPBITS}};
    for (auto [stop, code] : stops) {
        TLineSettings s;
        s.StopBits = stop;
        DCB d = SentinelDcb();
        ComposeDcb(d, s);
        EXPECT_EQ(d.StopBits, code) << "stop member " << int(stop);
    }
    struct {
        TDTRControl Dtr;
        DWORD Code;
    } dtrs[] = {{dcDisable, DTR_CONTROL_DISABLE}, {dcEnable, DTR_CONTROL_ENABLE},
                {dcHandshake, DTR_CONTROL_HANDSHAKE}};
    for (auto [dtr, code] : dtrs) {
        TLineSettings s;
        s.DTR = dtr;
        DCB d = SentinelDcb();
        ComposeDcb(d, s);
        EXPECT_EQ(d.fDtrControl, code) << "DTR member " << int(dtr);
    }
    struct {
        TRTSControl Rts;
        DWORD Code;
    } rtss[] = {{rcDisable, RTS_CONTROL_DISABLE}, {rcEnable, RTS_CONTROL_ENABLE},
                {rcHandshake, RTS_CONTROL_HANDSHAKE}, {rcToggle, RTS_CONTROL_TOGGLE}};
    for (auto [rts, code] : rtss) {
        TLineSettings s;
        s.RTS = rts;
        DCB d = SentinelDcb();
        ComposeDcb(d, s);
        EXPECT_EQ(d.fRtsControl, code) << "RTS member " << int(rts);
    }
    struct {
        TXOnXOffControl Mode;
        unsigned In, Out;
    } xons[] = {{xcDisable, 0, 0}, {xcInput, 1, 0}, {xcOutput, 0, 1}, {xcInputOutput, 1, 1}};
    for (auto [mode, in, out] : xons) {
        TLineSettings s;
        s.XOnXOff = mode;
        DCB d = SentinelDcb();
        ComposeDcb(d, s);
        EXPECT_EQ(d.fInX, in) << "XOnXOff member " << int(mode);
        EXPECT_EQ(d.fOutX, out) << "XOnXOff member " << int(mode);
    }
    for (int bits = 4; bits <= 8; ++bits) {
        TLineSettings s;
        s.DataBits = bits;
        DCB d = SentinelDcb();
        ComposeDcb(d, s);
        EXPECT_EQ(d.ByteSize, bits);
    }
}

TEST(Dcb, EachOptionSwitchesExactlyItsFlag)
{
    struct {
        TOption Option;
        unsigned (*Read)(const DCB&); // the flags are bit-fields
    } options[] = {
        {opCheckParity, [](const DCB& d) { return unsigned(d.fParity); }},
        {opOutputCTSFlow, [](const DCB& d) { return unsigned(d.fOutxCtsFlow); }},
        {opOutputDSRFlow, [](const DCB& d) { return unsigned(d.fOutxDsrFlow); }},
        {opDSRSensitivity, [](const DCB& d) { return unsigned(d.fDsrSensitivity); }},
        {opTXContinueOnXOff, [](const DCB& d) { return unsigned(d.fTXContinueOnXoff); }},
        {opUseErrorChar, [](const DCB& d) { return unsigned(d.fErrorChar); }},
        {opDiscardNullBytes, [](const DCB& d) { return unsigned(d.fNull); }},
        {opAbortOnError, [](const DCB& d) { return unsigned(d.fAbortOnError); }},
    };
    for (const auto& on : options) {
        TLineSettings s;
        s.Options = {on.Option};
        DCB d = SentinelDcb();
        ComposeDcb(d, s);
        for (const auto& other : options)
            EXPECT_EQ(other.Read(d), other.Option == on.Option ? 1u : 0u)
                << "with option " << int(on.Option) << ", flag of option " << int(other.Option);
    }
}

TEST(Dcb, CharactersAndLimitsAreTakenAsGiven)
{
    TLineSettings s;
    s.XOnChar = 0x11;
    s.XOffChar = 0x13;
    s.ErrorChar = '?';
    s.EofChar = 0x1A;
    s.EventChar = char(0xE6);
    s.XOnLimit = 100;
    s.XOffLimit = 65535;
    DCB d = SentinelDcb();
    ComposeDcb(d, s);
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.XoffChar, 0x13);
    EXPECT_EQ(d.ErrorChar, '?');
    EXPECT_EQ(d.EofChar, 0x1A);
    EXPECT_EQ(static_cast<unsigned char>(d.EvtChar), 0xE6);
    EXPECT_EQ(d.XonLim, 100);
    EXPECT_EQ(d.XoffLim, 65535);
}

TEST(StatusBits, LineErrorFlagsMapOneToOne)
{
    struct {
        DWORD Flag;
        TLineError Error;
    } table[] = {
        {CE_BREAK, leBreak},     {CE_DNS, leDeviceNotSelected}, {CE_FRAME, leFrame},
        {CE_IOE, leIO},          {CE_MODE, leMode},             {CE_OOP, leOutOfPaper},
        {CE_OVERRUN, leOverrun}, {CE_PTO, leDeviceTimeOut},     {CE_RXOVER, leRxOverflow},
        {CE_RXPARITY, leParity}, {CE_TXFULL, leTxFull},
    };
    DWORD all = 0;
    for (auto [flag, error] : table) {
        EXPECT_EQ(LineErrorsFromFlags(flag), TLineErrors{error}) << "flag " << flag;
        all |= flag;
    }
    EXPECT_EQ(LineErrorsFromFlags(all).Bits(), (1u << (leTxFull + 1)) - 1);
    EXPECT_TRUE(LineErrorsFromFlags(0).Empty());
}

TEST(StatusBits, ModemBitsMapInAscendingOrder)
{
    EXPECT_EQ(ModemStatusFromBits(MS_CTS_ON), TModemStatus{msCTS});
    EXPECT_EQ(ModemStatusFromBits(MS_DSR_ON), TModemStatus{msDSR});
    EXPECT_EQ(ModemStatusFromBits(MS_RING_ON), TModemStatus{msRing});
    EXPECT_EQ(ModemStatusFromBits(MS_RLSD_ON), TModemStatus{msRLSD});
    EXPECT_EQ(ModemStatusFromBits(0xFFFFFFFF), (TModemStatus{msCTS, msDSR, msRing, msRLSD}));
    EXPECT_TRUE(ModemStatusFromBits(0x0F).Empty());
}

TEST(StatusBits, PriorityClassesMapToTheSystemsClasses)
{
    EXPECT_EQ(PriorityClassValue(pcDefault), 0u);
    EXPECT_EQ(PriorityClassValue(pcIdle), DWORD(IDLE_PRIORITY_CLASS));
    EXPECT_EQ(PriorityClassValue(pcNormal), DWORD(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(PriorityClassValue(pcHigh), DWORD(HIGH_PRIORITY_CLASS));
    EXPECT_EQ(PriorityClassValue(pcRealTime), DWORD(REALTIME_PRIORITY_CLASS));
}

TEST(ErrorText, IsTheSystemsTextWithoutItsLineEndAndFullStop)
{
    for (int code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_NOT_READY,
                     ERROR_OPERATION_ABORTED}) {
        const std::string text = SystemErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_NE(text.back(), '.') << code;
        EXPECT_NE(text.back(), '\n') << code;
        EXPECT_EQ(text.find('\r'), std::string::npos) << code;
        // UTF-8 as the rest of the program: a round trip through UTF-16 keeps it.
        int wide = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
        EXPECT_GT(wide, 0) << code;
    }
    EXPECT_NE(SystemErrorText(ERROR_FILE_NOT_FOUND), SystemErrorText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SystemErrorText(0x2FFFFFFF), "System error 805306367");
}

// --- port discovery over a registry key of the test's own --------------------

class RegistryPorts : public ::testing::Test {
protected:
    void SetUp() override
    {
        FPath = "Software\\ZrmScannerTests\\serialcomm" + std::to_string(::GetCurrentProcessId());
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, FPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &FKey, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        if (FKey)
            ::RegCloseKey(FKey);
        ::RegDeleteKeyA(HKEY_CURRENT_USER, FPath.c_str());
    }
    void Text(const char* Name, const std::string& Data, DWORD Type = REG_SZ)
    {
        ASSERT_EQ(::RegSetValueExA(FKey, Name, 0, Type, reinterpret_cast<const BYTE*>(Data.c_str()),
                                   DWORD(Data.size() + 1)),
                  ERROR_SUCCESS);
    }
    std::vector<std::string> List(std::vector<std::string> Start = {})
    {
        ListSerialPortsInKey(HKEY_CURRENT_USER, FPath, Start);
        return Start;
    }
    // The value names in the registry's own enumeration order.
    std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            if (::RegEnumValueA(FKey, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        return names;
    }

    std::string FPath;
    HKEY FKey = nullptr;
};

TEST_F(RegistryPorts, ListsEachValuesDataInTheRegistrysOrder)
{
    Text("\\Device\\Serial1", "COM2");
    Text("\\Device\\Serial0", "COM1");
    Text("\\Device\\VCP0", "COM12");
    std::vector<std::string> expected;
    for (const std::string& name : Names())
        expected.push_back(name == "\\Device\\Serial1"   ? "COM2"
                           : name == "\\Device\\Serial0" ? "COM1"
                                                         : "\\\\.\\COM12");
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(List(), expected);
}

TEST_F(RegistryPorts, NamesLongerThanFourCharactersGetTheDevicePrefix)
{
    struct {
        const char* Data;
        const char* Entry;
    } table[] = {{"COM9", "COM9"}, {"COM10", "\\\\.\\COM10"}, {"COM256", "\\\\.\\COM256"},
                 {"CNCA0", "\\\\.\\CNCA0"}, {"X", "X"}, {"", ""}};
    for (const auto& row : table) {
        Text("port", row.Data); // replaces the previous row's data
        EXPECT_EQ(List(), std::vector<std::string>{row.Entry}) << row.Data;
    }
}

TEST_F(RegistryPorts, AppendsWithoutClearingSortingOrDeduplicating)
{
    Text("a", "COM3");
    EXPECT_EQ(List({"COM3", "typed"}), (std::vector<std::string>{"COM3", "typed", "COM3"}));
}

TEST_F(RegistryPorts, TextStopsAtTheFirstZeroCharacter)
{
    const char data[] = "COM4\0junk";
    ASSERT_EQ(::RegSetValueExA(FKey, "p", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data),
              ERROR_SUCCESS);
    EXPECT_EQ(List(), std::vector<std::string>{"COM4"});
}

TEST_F(RegistryPorts, ValuesWithoutTextArePassedOverAndTheRestListed)
{
    Text("first", "COM1");
    DWORD number = 7;
    ASSERT_EQ(::RegSetValueExA(FKey, "number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
              ERROR_SUCCESS);
    Text("expand", "COM5", REG_EXPAND_SZ);
    Text("last", "COM6");
    std::vector<std::string> expected;
    for (const std::string& name : Names())
        if (name != "number")
            expected.push_back(name == "first" ? "COM1" : name == "expand" ? "COM5" : "COM6");
    EXPECT_EQ(List(), expected);
}

TEST_F(RegistryPorts, AMissingKeyListsNothing)
{
    std::vector<std::string> list{"kept"};
    ListSerialPortsInKey(HKEY_CURRENT_USER, FPath + "\\missing", list);
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

TEST(MachinePorts, ListSerialPortsReadsTheDeviceMap)
{
    // Whatever the machine has; each entry must be what the device map says.
    HKEY key;
    std::vector<std::string> expected;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char name[256];
        BYTE data[256];
        for (DWORD i = 0;; ++i) {
            DWORD nameLength = sizeof name, dataLength = sizeof data - 1, type = 0;
            if (::RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
                break;
            data[dataLength] = 0;
            if (type == REG_SZ)
                expected.push_back(SerialCommEntry(reinterpret_cast<const char*>(data)));
        }
        ::RegCloseKey(key);
    }
    std::vector<std::string> list;
    ListSerialPorts(list);
    EXPECT_EQ(list, expected);
}

} // namespace
